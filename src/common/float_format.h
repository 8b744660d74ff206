// Text of a float as a standard C++ stream writes it in its default state:
// general notation with six significant digits (printf's "%g" applied to the
// float widened to double), "nan"/"-nan", "inf"/"-inf", two-digit minimum
// exponents such as 1e-05. Independent of every locale.
#pragma once

#include <cstddef>

namespace stlrefine {

// Room formatFloat needs at `out`. The longest text is 12 characters
// ("-1.17549e-38", "-0.000123457"); the rest is scratch space: formatFloat
// copies digits in fixed 8-byte blocks and may leave bytes past the end of
// its text, always within these 16 bytes.
inline constexpr std::size_t MaxFloatTextLength = 16;

// Writes the text of `value` at `out` (no terminator); returns one past its
// end. `out` must have MaxFloatTextLength writable bytes.
char* formatFloat(char* out, float value);

}  // namespace stlrefine
