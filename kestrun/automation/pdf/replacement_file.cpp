#include "kestrun/automation/pdf/replacement_file.h"

#include "kestrun/interop/regular_file_seam.h"

#include <filesystem>
#include <optional>
#include <random>
#include <stdexcept>
#include <utility>

namespace kestrun::platform::pdf {
namespace {

[[noreturn]] void Fail(const std::string &reason) {
    throw std::runtime_error(reason);
}

std::filesystem::path Local(const std::string &utf8) {
    return std::filesystem::path(std::u8string(utf8.begin(), utf8.end()));
}

std::string Utf8(const std::filesystem::path &path) {
    const std::u8string name = path.u8string();
    return std::string(name.begin(), name.end());
}

} // namespace

ReplacementFile::ReplacementFile(const std::string &localPath) {
    std::optional<std::string> resolved = ReplacementTarget(localPath);
    if (!resolved) {
        Fail("cannot replace " + localPath + ": not a regular file");
    }
    target_ = std::move(*resolved);
    const std::filesystem::path folder = Local(target_).parent_path();
    std::random_device random;
    for (int attempt = 0; attempt < 16 && stream_ == nullptr; ++attempt) {
        char suffix[32];
        std::snprintf(suffix, sizeof suffix, ".~pdf%08x%08x.tmp", random(), random());
        std::string name = Utf8(folder / suffix);
        bool taken = false;
        stream_ = replacement::CreateNew(name, taken);
        if (stream_ != nullptr) {
            name_ = std::move(name);
        } else if (!taken) {
            break;
        }
    }
    if (stream_ == nullptr) {
        Fail("cannot create a file in the folder of " + target_);
    }
}

ReplacementFile::~ReplacementFile() {
    if (stream_ != nullptr) {
        std::fclose(stream_);
    }
    if (!committed_ && !name_.empty()) {
        RemoveFile(name_);
    }
}

void ReplacementFile::Commit() {
    std::FILE *stream = std::exchange(stream_, nullptr);
    if (stream == nullptr) {
        Fail("cannot write " + target_);
    }
    const bool durable = replacement::MakeDurable(stream);
    if (std::fclose(stream) != 0 || !durable) {
        Fail("cannot write " + target_);
    }
    if (!replacement::MoveOver(name_, target_)) {
        Fail("cannot replace " + target_);
    }
    committed_ = true;
}

} // namespace kestrun::platform::pdf
