// Strict check that a text is exactly one success or failure object of the evaluator's result
// format, with canonical integer and float texts and the allowed escapes only.
#pragma once

#include <string>
#include <string_view>

namespace safe_eval_fuzz {

// True when `text` is well-shaped; otherwise false with the reason in `why`.
bool check_result_shape(std::string_view text, std::string &why);

} // namespace safe_eval_fuzz
