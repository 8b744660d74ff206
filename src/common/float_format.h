// Text of a float as a standard C++ stream writes it in its default state:
// general notation with six significant digits (printf's "%g" applied to the
// float widened to double), "nan"/"-nan", "inf"/"-inf", two-digit minimum
// exponents such as 1e-05. Independent of every locale.
#pragma once

#include <cstddef>

namespace stlrefine {

// Longest text formatFloat can produce ("-1.17549e-38" is 12 characters).
inline constexpr std::size_t MaxFloatTextLength = 16;

// Writes the text of `value` at `out` (no terminator); returns one past its end.
char* formatFloat(char* out, float value);

}  // namespace stlrefine
