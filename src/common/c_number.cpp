// The side a number beyond its type's range falls on (c_number.h).
#include "common/c_number.h"

#include <cstdint>
#include <cstring>

namespace stlrefine {

// Such a number lies far from 1 on one side, so the position of its leading
// non-zero digit and its exponent tell which side. Out of line: the
// readers' fast paths never get here.
bool beyondLargest(const char* first, const char* last, bool hex) {
    const char* mantissaEnd = first;
    while (mantissaEnd < last &&
           (*mantissaEnd == '.' || (hex ? isHexDigit(*mantissaEnd) : isDigit(*mantissaEnd)))) {
        ++mantissaEnd;
    }
    const char* point = static_cast<const char*>(std::memchr(first, '.', mantissaEnd - first));
    if (!point) point = mantissaEnd;
    std::int64_t exponent = 0;  // after 'e' or 'p', clamped far beyond any exponent that matters
    if (mantissaEnd < last) {
        const char* p = mantissaEnd + 1;
        const bool negative = skipSpaceAndSign(p, last);
        for (; p < last && isDigit(*p); ++p) {
            if (exponent < (std::int64_t{1} << 40)) exponent = 10 * exponent + (*p - '0');
        }
        if (negative) exponent = -exponent;
    }
    std::int64_t lead = 0;  // power of the radix of the leading non-zero digit
    for (const char* q = first; q < mantissaEnd; ++q) {
        if (q == point || *q == '0') continue;
        lead = q < point ? point - q - 1 : -(q - point);
        break;
    }
    return (hex ? 4 * lead : lead) + exponent > 0;
}

}  // namespace stlrefine
