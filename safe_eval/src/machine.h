// The stack machine: runs one program under the deadline, instruction and stack limits.
#pragma once

#include "value.h"

#include <cstddef>
#include <cstdint>
#include <span>

namespace safe_eval {

inline constexpr std::size_t kMaxInstructions = 100000;
inline constexpr std::size_t kMaxStackDepth = 1000;

// Runs `program` (at least one byte) from offset 0 and returns its final value or the error that
// ended it. The deadline is `timeout_ms` after the start on the monotonic clock.
EvalResult eval_inner(std::span<const std::uint8_t> program, std::uint32_t timeout_ms);

} // namespace safe_eval
