#include "exports.h"

#include "json_text.h"
#include "machine.h"

#include <cstdlib>
#include <span>

namespace {

void *allocate_result(std::size_t size) {
    return std::malloc(size);
}

} // namespace

extern "C" char *eval(const unsigned char *code, std::size_t len,
                      std::uint32_t timeout_ms) noexcept {
    using namespace safe_eval;
    try {
        if (code == nullptr || len == 0) {
            return render_result(EvalError::syntax("Null instructions"), allocate_result);
        }
        return render_result(eval_inner(std::span<const std::uint8_t>(code, len), timeout_ms),
                             allocate_result);
    } catch (...) {
        // Only memory exhaustion while the run grows its stack or a string can get here; there is
        // no text to report it in, so the host receives the same null as for a failed result.
        return nullptr;
    }
}

extern "C" void free_result(char *result) noexcept {
    std::free(result);
}
