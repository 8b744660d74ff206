// The side a number beyond its type's range falls on (c_number.h).
#include "common/c_number.h"

#include <cstdint>
#include <cstring>

namespace stlrefine {

namespace {

// The value of an exponent's digits (after 'e' or 'p'), clamped far beyond
// any exponent that still matters, so that absurd exponents cannot overflow.
std::int64_t readExponent(const char* p, const char* last) {
    bool negative = false;
    if (p < last && (*p == '+' || *p == '-')) negative = *p++ == '-';
    std::int64_t value = 0;
    for (; p < last && isDigit(*p); ++p) {
        if (value < (std::int64_t{1} << 40)) value = 10 * value + (*p - '0');
    }
    return negative ? -value : value;
}

}  // namespace

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
    std::int64_t exponent = 0;
    if (mantissaEnd < last) exponent = readExponent(mantissaEnd + 1, last);  // 'e' or 'p'
    std::int64_t lead = 0;  // power of the radix of the leading non-zero digit
    for (const char* q = first; q < mantissaEnd; ++q) {
        if (q == point || *q == '0') continue;
        lead = q < point ? point - q - 1 : -(q - point);
        break;
    }
    return (hex ? 4 * lead : lead) + exponent > 0;
}

}  // namespace stlrefine
