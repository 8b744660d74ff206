// Numbers read as the C library reads them in the "C" locale, whatever
// locale the process has set: its character classes, the white space and
// sign before a number, and the side a number beyond its type's range falls
// on. from_chars does the conversion itself; these are the rules around it.
#pragma once

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

// For a number that from_chars found beyond its type's range: true when it
// is too large (strtod's result is infinity), false when too small (zero).
// [first, last) is the matched number without sign or "0x" prefix.
bool beyondLargest(const char* first, const char* last, bool hex);

}  // namespace stlrefine
