// Loads the evaluator's shared object the way a host does (dlopen + dlsym) and runs programs
// through its two exports.
#pragma once

#include "assembler.h"

#include <dlfcn.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace safe_eval_test {

class HostLibrary {
public:
    using EvalFn = char *(*)(const unsigned char *, std::size_t, std::uint32_t);
    using FreeFn = void (*)(char *);

    explicit HostLibrary(const char *path = SAFE_EVAL_LIBRARY_PATH)
        : handle_(dlopen(path, RTLD_NOW | RTLD_LOCAL)) {
        if (!handle_) {
            throw std::runtime_error(std::string("dlopen failed: ") + dlerror());
        }
        eval_ = reinterpret_cast<EvalFn>(dlsym(handle_.get(), "eval"));
        free_ = reinterpret_cast<FreeFn>(dlsym(handle_.get(), "free_result"));
        if (eval_ == nullptr || free_ == nullptr) {
            throw std::runtime_error("eval or free_result missing");
        }
    }

    EvalFn eval_fn() const { return eval_; }
    FreeFn free_fn() const { return free_; }

    // The result text of one call, or nothing when eval returned null.
    std::optional<std::string> call(const unsigned char *code, std::size_t len,
                                    std::uint32_t timeout_ms = 10000) const {
        char *text = eval_(code, len, timeout_ms);
        if (text == nullptr) {
            return std::nullopt;
        }
        std::string copy(text);
        free_(text);
        return copy;
    }

    std::string run(std::span<const std::uint8_t> program, std::uint32_t timeout_ms = 10000) const {
        return call(program.data(), program.size(), timeout_ms).value_or("(null)");
    }

private:
    struct Closer {
        void operator()(void *h) const { dlclose(h); }
    };
    std::unique_ptr<void, Closer> handle_;
    EvalFn eval_ = nullptr;
    FreeFn free_ = nullptr;
};

// A program from text assembly; throws on a syntax error in the test's own source.
inline std::vector<std::uint8_t> assemble(std::string_view source) {
    auto result = safe_eval_asm::assemble(source);
    if (auto *error = std::get_if<safe_eval_asm::AsmError>(&result)) {
        throw std::runtime_error("bad test assembly: " + error->message);
    }
    return std::move(*std::get_if<std::vector<std::uint8_t>>(&result));
}

inline std::vector<std::uint8_t> hex(std::string_view text) {
    std::vector<std::uint8_t> out;
    if (!safe_eval_asm::parse_hex(text, out)) {
        throw std::runtime_error("bad test hex");
    }
    return out;
}

inline std::string ok_value(std::string_view type, std::string_view value_text) {
    return R"({"ok":true,"value":{"type":")" + std::string(type) + R"(","value":)" +
           std::string(value_text) + "}}";
}

inline std::string failure(std::string_view kind, std::string_view message_json) {
    return R"({"ok":false,"error":{"error":")" + std::string(kind) + R"(","message":")" +
           std::string(message_json) + "\"}}";
}

} // namespace safe_eval_test
