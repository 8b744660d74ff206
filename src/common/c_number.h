// Numbers read as the C library reads them in the "C" locale, whatever
// locale the process has set: its character classes, the white space and
// sign before a number, and the side a number beyond its type's range falls
// on. from_chars does the conversion itself; these are the rules around it.
#pragma once

#include <cstdint>
#include <cstring>

namespace stlrefine {

// White space as isspace classifies it in the "C" locale: blank, \t \n \v \f \r.
inline bool isCSpace(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

inline bool isDigit(char c) { return static_cast<unsigned char>(c - '0') < 10; }

inline int hexDigitValue(char c) {
    if (isDigit(c)) return c - '0';
    const char folded = static_cast<char>(c | 0x20);
    if (folded >= 'a' && folded <= 'f') return folded - 'a' + 10;
    return -1;
}

inline bool isHexDigit(char c) { return hexDigitValue(c) >= 0; }

// Moves `p` past white space and one sign; true for a minus.
inline bool skipSpaceAndSign(const char*& p, const char* last) {
    while (p < last && isCSpace(*p)) ++p;
    bool negative = false;
    if (p < last && (*p == '+' || *p == '-')) negative = *p++ == '-';
    return negative;
}

// The value of an exponent's digits (after 'e' or 'p'), clamped far beyond
// any exponent that still matters, so that absurd exponents cannot overflow.
inline std::int64_t readExponent(const char* p, const char* last) {
    bool negative = false;
    if (p < last && (*p == '+' || *p == '-')) negative = *p++ == '-';
    std::int64_t value = 0;
    for (; p < last && isDigit(*p); ++p) {
        if (value < (std::int64_t{1} << 40)) value = 10 * value + (*p - '0');
    }
    return negative ? -value : value;
}

// For a number that from_chars found beyond its type's range: true when it
// is too large (strtod's result is infinity), false when too small (zero).
// Such a number lies far from 1 on one side, so the position of its leading
// non-zero digit and its exponent tell which. [first, last) is the matched
// number without sign or "0x" prefix.
inline bool beyondLargest(const char* first, const char* last, bool hex) {
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
