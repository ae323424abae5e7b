// The library's whole public surface.
#pragma once

#include <cstddef>
#include <cstdint>

#define SAFE_EVAL_EXPORT __attribute__((visibility("default")))

extern "C" {

// Runs the program of `len` bytes at `code` within `timeout_ms` milliseconds and returns the
// JSON result text, allocated with malloc and owned by the caller, or null when that text
// cannot be allocated. A null `code` or a zero `len` is reported as a syntax error.
SAFE_EVAL_EXPORT char *eval(const unsigned char *code, std::size_t len,
                            std::uint32_t timeout_ms) noexcept;

// Releases a text returned by eval; null is ignored.
SAFE_EVAL_EXPORT void free_result(char *result) noexcept;
}
