#include "common/float_format.h"

#include <charconv>

namespace stlrefine {

char* formatFloat(char* out, float value) {
    // to_chars with a precision is printf's "%.6g" in the "C" locale; the
    // float is widened to double first, as a stream does.
    return std::to_chars(out, out + MaxFloatTextLength, static_cast<double>(value),
                         std::chars_format::general, 6)
        .ptr;
}

}  // namespace stlrefine
