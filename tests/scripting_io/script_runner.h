// Running scripts the way the script host does (with the platform's objects), from UTF-8 test
// source, and a scratch folder for the files they make.
#pragma once

#include "kestrun/automation/vbscript/host.h"
#include "kestrun/interop/codepage.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>
#include <vector>

namespace scripttest {

using kestrun::vbscript::Value;

// Calls `function` of `script` (UTF-8) with `args`; the result as UTF-8 text, or "ERROR " and
// the host's error message (converted to UTF-8) when the call fails.
inline std::string Call(const std::string &script, const std::string &function,
                        std::vector<Value> args = {}) {
    kestrun::vbscript::FunctionResult result;
    std::string error;
    if (!kestrun::vbscript::RunFunction(kestrun::interop::Utf8ToAnsi(script), function,
                                        std::move(args), result, error, false))
        return "ERROR " + kestrun::interop::AnsiToUtf8(error);
    if (result.value.isString())
        return kestrun::interop::WideToUtf8(result.value.s());
    if (result.value.isInteger())
        return std::to_string(result.value.intValue());
    if (result.value.type() == kestrun::vbscript::VType::Boolean)
        return result.value.b() ? "True" : "False";
    return "<value>";
}

inline Value Text(const std::string &utf8) {
    return Value::str(kestrun::interop::Utf8ToWide(utf8));
}

class Scratch {
public:
    Scratch() {
        std::string pattern = (std::filesystem::temp_directory_path() / "kestrun-io-XXXXXX");
        if (!mkdtemp(pattern.data()))
            throw std::runtime_error("no scratch folder");
        path_ = pattern;
    }
    ~Scratch() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    Scratch(const Scratch &) = delete;
    Scratch &operator=(const Scratch &) = delete;
    const std::string &path() const { return path_; }
    std::string operator/(const std::string &name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

inline std::string ReadFile(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void WriteFile(const std::string &path, const std::string &bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

} // namespace scripttest
