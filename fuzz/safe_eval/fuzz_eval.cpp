// Fuzz entry over the exported eval: every input must produce exactly one well-shaped result
// object, without crashing or leaking.
#include "exports.h"
#include "result_shape.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

namespace {

// Long enough that no run of at most 100000 instructions reaches it, so outcomes do not depend
// on the machine's speed.
constexpr std::uint32_t kTimeoutMs = 60000;

struct FreeResult {
    void operator()(char *text) const { free_result(text); }
};

[[noreturn]] void fail(const char *what, const char *text) {
    std::fprintf(stderr, "safe_eval fuzz invariant broken: %s\nresult: %s\n", what,
                 text != nullptr ? text : "(null)");
    std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    const std::unique_ptr<char, FreeResult> result(
        eval(size != 0 ? data : nullptr, size, kTimeoutMs));
    if (!result) {
        fail("eval returned null for a small program", nullptr);
    }
    std::string why;
    if (!safe_eval_fuzz::check_result_shape(result.get(), why)) {
        fail(why.c_str(), result.get());
    }
    if (size == 0 &&
        std::strcmp(result.get(),
                    R"({"ok":false,"error":{"error":"syntax","message":"Null instructions"}})") !=
            0) {
        fail("empty program not reported as null instructions", result.get());
    }
    return 0;
}
