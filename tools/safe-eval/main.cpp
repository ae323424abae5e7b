// safe-eval: runs an evaluator program given as hex bytes or as text assembly and prints the
// library's JSON result; can also translate between the two forms.
#include "assembler.h"
#include "exports.h"
#include "safe_eval_usage.h"

#include <charconv>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <iterator>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

namespace {

using safe_eval_cli::kUsage;

enum class Mode { Run, Disassemble, Assemble };

struct FreeResult {
    void operator()(char *text) const { free_result(text); }
};

bool read_all(const std::string &path, std::string &out) {
    if (path == "-") {
        out.assign(std::istreambuf_iterator<char>(std::cin), std::istreambuf_iterator<char>());
        return true;
    }
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        return false;
    }
    std::ostringstream buffer;
    buffer << in.rdbuf();
    out = buffer.str();
    return true;
}

int usage_error(const std::string &message) {
    std::cerr << "safe-eval: " << message << "\n\n" << kUsage;
    return 2;
}

} // namespace

int main(int argc, char **argv) {
    Mode mode = Mode::Run;
    std::uint32_t timeout_ms = 1000;
    std::optional<std::string> hex;
    std::optional<std::string> hex_file;
    std::optional<std::string> assembly;
    std::optional<std::string> file;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        auto value = [&]() -> std::optional<std::string> {
            if (i + 1 >= argc) {
                return std::nullopt;
            }
            return std::string(argv[++i]);
        };
        if (arg == "-h" || arg == "--help") {
            std::cout << kUsage;
            return 0;
        } else if (arg == "--disassemble") {
            mode = Mode::Disassemble;
        } else if (arg == "--assemble") {
            mode = Mode::Assemble;
        } else if (arg == "--timeout-ms") {
            const auto text = value();
            const char *begin = text ? text->data() : nullptr;
            const char *end = text ? text->data() + text->size() : nullptr;
            const auto parsed = std::from_chars(begin, end, timeout_ms);
            if (!text || text->empty() || parsed.ec != std::errc() || parsed.ptr != end) {
                return usage_error("--timeout-ms needs a number from 0 to 4294967295");
            }
        } else if (arg == "--hex") {
            if (!(hex = value())) {
                return usage_error("--hex needs the program bytes");
            }
        } else if (arg == "--hex-file") {
            if (!(hex_file = value())) {
                return usage_error("--hex-file needs a file name");
            }
        } else if (arg == "--asm") {
            if (!(assembly = value())) {
                return usage_error("--asm needs the program text");
            }
        } else if (arg.size() > 1 && arg[0] == '-') {
            return usage_error("unknown option " + arg);
        } else if (!file) {
            file = arg;
        } else {
            return usage_error("more than one program file");
        }
    }
    if (hex_file) {
        std::string text;
        if (!read_all(*hex_file, text)) {
            std::cerr << "safe-eval: cannot read " << *hex_file << "\n";
            return 2;
        }
        hex = text;
    }
    if (file) {
        std::string text;
        if (!read_all(*file, text)) {
            std::cerr << "safe-eval: cannot read " << *file << "\n";
            return 2;
        }
        assembly = text;
    }
    if (static_cast<int>(hex.has_value()) + static_cast<int>(assembly.has_value()) != 1) {
        return usage_error("give exactly one program");
    }

    std::vector<std::uint8_t> program;
    if (hex) {
        if (mode == Mode::Assemble) {
            return usage_error("--assemble takes assembly, not hex");
        }
        if (!safe_eval_asm::parse_hex(*hex, program)) {
            return usage_error("the hex program is not whole bytes of hex digits");
        }
    } else {
        if (mode == Mode::Disassemble) {
            return usage_error("--disassemble takes a hex program");
        }
        auto assembled = safe_eval_asm::assemble(*assembly);
        if (const auto *error = std::get_if<safe_eval_asm::AsmError>(&assembled)) {
            std::cerr << "safe-eval: line " << error->line << ": " << error->message << "\n";
            return 2;
        }
        program = std::move(*std::get_if<std::vector<std::uint8_t>>(&assembled));
    }

    if (mode == Mode::Disassemble) {
        std::cout << safe_eval_asm::disassemble(program);
        return 0;
    }
    if (mode == Mode::Assemble) {
        std::cout << safe_eval_asm::to_hex(program) << "\n";
        return 0;
    }
    const std::unique_ptr<char, FreeResult> result(
        eval(program.data(), program.size(), timeout_ms));
    if (!result) {
        std::cerr << "safe-eval: the evaluator could not allocate its result\n";
        return 3;
    }
    const std::string_view text(result.get());
    std::cout << text << "\n";
    return text.starts_with(R"({"ok":true)") ? 0 : 1;
}
