// ASCII STL: line-based and keyword-driven. The parser walks the file held in
// memory line by line without copying, appends one corner per "vertex" line
// and ignores every other line. Numbers are read as atof reads them in the
// "C" locale, independently of the locale the host has set.
#include <bit>
#include <charconv>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <limits>
#include <system_error>

#include "common/c_number.h"
#include "stl/stl.h"

namespace stlrefine {

namespace {

// True when [p, last) starts with the lower-case ASCII `word`, in any case.
// `c | 0x20` equals a lower-case letter only for that letter and its upper case.
bool startsWithIgnoringCase(const char* p, const char* last, const char* word, std::size_t n) {
    if (static_cast<std::size_t>(last - p) < n) return false;
    for (std::size_t i = 0; i < n; ++i) {
        if (static_cast<char>(p[i] | 0x20) != word[i]) return false;
    }
    return true;
}

// A number of the given format at `first`; false when there is none (a
// point without digits). `end` becomes the end of the number.
bool fromChars(const char* first, const char* last, bool hex, double& value, const char*& end) {
    const std::from_chars_result result =
        std::from_chars(first, last, value, hex ? std::chars_format::hex : std::chars_format::general);
    end = result.ptr;
    if (result.ec == std::errc::result_out_of_range) {
        // Overflow is infinity; underflow is 0 (a double that strtod would
        // return as a denormal rounds to a float zero all the same, but
        // from_chars returns those itself).
        value = beyondLargest(first, result.ptr, hex) ? std::numeric_limits<double>::infinity() : 0.0;
        return true;
    }
    return result.ec == std::errc();
}

// Unsigned integer of [first, last) with the base taken from its prefix as
// strtoull does for base 0 ("0x" hexadecimal, a leading 0 octal, else
// decimal), saturating on overflow. False unless every character is consumed.
bool parseWholeUnsigned(const char* first, const char* last, std::uint64_t& value) {
    unsigned base = 10;
    if (last - first >= 3 && first[0] == '0' && (first[1] | 0x20) == 'x' && isHexDigit(first[2])) {
        base = 16;
        first += 2;
    } else if (first < last && first[0] == '0') {
        base = 8;
    }
    value = 0;
    bool saturated = false;
    for (const char* p = first; p < last; ++p) {
        const int digit = hexDigitValue(*p);
        if (digit < 0 || static_cast<unsigned>(digit) >= base) return false;
        if (value > (UINT64_MAX - static_cast<unsigned>(digit)) / base) saturated = true;
        value = value * base + static_cast<unsigned>(digit);
    }
    if (saturated) value = UINT64_MAX;
    return true;
}

// "nan" may carry "(n-char-sequence)"; a sequence that is a whole number in
// base-0 notation sets the low 51 bits of the quiet NaN's mantissa, as the C
// library does.
double parseNanTail(const char* p, const char* last) {
    std::uint64_t bits = 0x7ff8000000000000u;
    if (p < last && *p == '(') {
        const char* sequence = ++p;
        while (p < last &&
               (isDigit(*p) || (*p >= 'A' && *p <= 'Z') || (*p >= 'a' && *p <= 'z') || *p == '_')) {
            ++p;
        }
        std::uint64_t payload = 0;
        if (p < last && *p == ')' && parseWholeUnsigned(sequence, p, payload)) {
            bits |= payload & ((std::uint64_t{1} << 51) - 1);
        }
    }
    double value;
    std::memcpy(&value, &bits, sizeof value);
    return value;
}

// End of the hexadecimal number at `p` (after "0x"): digits, an optional
// point and digits, an optional binary exponent. Handing from_chars exactly
// this range matters: libstdc++ 12 also takes "p+-5" as an exponent, where
// strtod stops before the 'p'.
const char* hexNumberEnd(const char* p, const char* last) {
    while (p < last && isHexDigit(*p)) ++p;
    if (p < last && *p == '.') {
        ++p;
        while (p < last && isHexDigit(*p)) ++p;
    }
    if (p < last && (*p | 0x20) == 'p') {
        const char* q = p + 1;
        if (q < last && (*q == '+' || *q == '-')) ++q;
        if (q < last && isDigit(*q)) {
            while (q < last && isDigit(*q)) ++q;
            p = q;
        }
    }
    return p;
}

// Exact powers of ten: every one up to 10^22 is a double.
constexpr double PowersOfTen[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,  1e8,  1e9,  1e10, 1e11,
                                  1e12, 1e13, 1e14, 1e15, 1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};

// Digits are read up to eight at a time: the bytes are checked and
// converted in a register (little-endian, the first byte the lowest), so
// a run of digits costs no branch per digit.
constexpr std::uint64_t EveryByte = 0x0101010101010101u;

// The value of the digit values in bytes 0..7 (byte 0 the most significant).
std::uint64_t eightDigitValue(std::uint64_t digits) {
    digits = digits * 10 + (digits >> 8);  // two-digit values in bytes 0, 2, 4, 6
    return (((digits & 0x000000FF000000FFu) * (100 + (1000000ull << 32))) +
            (((digits >> 16) & 0x000000FF000000FFu) * (1 + (10000ull << 32)))) >>
           32;
}

constexpr std::uint64_t PowersOfTenInteger[] = {1,      10,      100,      1000,     10000,
                                                100000, 1000000, 10000000, 100000000};

// Appends the run of digits at `p` to `mantissa` and moves `p` past it.
// Returns how many digits it had, or -1 once the mantissa would pass 10^18:
// such a number is beyond the fast path anyway (above 2^53), and the
// mantissa never overflows.
std::ptrdiff_t appendDigits(const char*& p, const char* last, std::uint64_t& mantissa) {
    const char* const first = p;
    while (last - p >= 8) {
        std::uint64_t bytes;
        std::memcpy(&bytes, p, 8);
        // The high bit of each byte that is not a digit; the bytes before
        // the first such byte are digits, so nothing carries into it.
        const std::uint64_t other =
            ((bytes + EveryByte * 0x46) | (bytes - EveryByte * 0x30)) & (EveryByte * 0x80);
        const int run = other == 0 ? 8 : std::countr_zero(other) / 8;
        if (run == 0) return p - first;
        if (mantissa >= 10'000'000'000u) return -1;
        // The run's digits moved to the top bytes, zeros (leading digits 0) below.
        const std::uint64_t digits = (bytes - EveryByte * 0x30) << (8 * (8 - run));
        mantissa = mantissa * PowersOfTenInteger[run] + eightDigitValue(digits);
        p += run;
        if (run < 8) return p - first;
    }
    for (; p < last && isDigit(*p); ++p) {
        if (mantissa >= 100'000'000'000'000'000u) return -1;
        mantissa = 10 * mantissa + static_cast<unsigned>(*p - '0');
    }
    return p - first;
}

// The common decimal numbers of STL text ("39.9879532", "-1.5e-03") without
// the general parser: when the digits form an integer m below 2^53 and the
// decimal exponent e lies within 22 of zero, m and 10^|e| are exact doubles
// and one multiplication or division rounds m * 10^e correctly, which is
// what strtod returns. False, with nothing consumed, for everything else
// (more digits, larger exponents, no digits); the general parser takes those.
bool fastDecimal(const char* p, const char* last, double& value, const char*& end) {
    std::uint64_t mantissa = 0;
    const std::ptrdiff_t integerDigits = appendDigits(p, last, mantissa);
    if (integerDigits < 0) return false;
    std::ptrdiff_t fractionDigits = 0;
    if (p < last && *p == '.') {
        ++p;
        fractionDigits = appendDigits(p, last, mantissa);
        // (Far beyond any exponent this path takes, and far from int's limit
        // however many zeros follow the point.)
        if (fractionDigits < 0 || fractionDigits > 1000) return false;
    }
    if (integerDigits + fractionDigits == 0) return false;
    int exponent = -static_cast<int>(fractionDigits);
    if (p < last && (*p | 0x20) == 'e') {
        // An exponent counts only with digits; else the number ends before 'e'.
        const char* q = p + 1;
        bool negative = false;
        if (q < last && (*q == '+' || *q == '-')) negative = *q++ == '-';
        if (q < last && isDigit(*q)) {
            int written = 0;
            for (; q < last && isDigit(*q); ++q) {
                if (written > 1000) return false;
                written = 10 * written + (*q - '0');
            }
            exponent += negative ? -written : written;
            p = q;
        }
    }
    if (mantissa > (std::uint64_t{1} << 53) || exponent < -22 || exponent > 22) return false;
    const double m = static_cast<double>(mantissa);
    value = exponent < 0 ? m / PowersOfTen[-exponent] : m * PowersOfTen[exponent];
    end = p;
    return true;
}

// The number after white space and sign; false when there is none. `end`
// is left at `p` or moved to the end of the number, never beyond it.
bool parseMagnitude(const char* p, const char* last, double& value, const char*& end) {
    end = p;
    if (p == last) return false;
    // "0x" counts only when a hexadecimal digit follows (after an optional
    // point); else the "0" alone is the number.
    if (last - p >= 3 && p[0] == '0' && (p[1] | 0x20) == 'x') {
        const char* h = p + 2;
        if (isHexDigit(h[0]) || (h[0] == '.' && last - h >= 2 && isHexDigit(h[1]))) {
            return fromChars(h, hexNumberEnd(h, last), true, value, end);
        }
    }
    if (isDigit(*p) || *p == '.') {
        return fastDecimal(p, last, value, end) || fromChars(p, last, false, value, end);
    }
    if (startsWithIgnoringCase(p, last, "inf", 3)) {
        value = std::numeric_limits<double>::infinity();
        return true;
    }
    if (startsWithIgnoringCase(p, last, "nan", 3)) {
        value = parseNanTail(p + 3, last);
        return true;
    }
    return false;
}

double parseCDouble(const char* p, const char* last, const char*& end) {
    const bool negative = skipSpaceAndSign(p, last);
    double magnitude = 0.0;
    // Without a number the sign does not count either: the result is +0.
    if (!parseMagnitude(p, last, magnitude, end)) return 0.0;
    return negative ? -magnitude : magnitude;
}

const char* skipBlanks(const char* p, const char* last) {
    while (p < last && *p == ' ') ++p;
    return p;
}

const char* tokenEnd(const char* p, const char* last) {
    while (p < last && *p != ' ') ++p;
    return p;
}

bool isVertexKeyword(const char* first, const char* last) {
    return last - first == 6 && startsWithIgnoringCase(first, last, "vertex", 6);
}

}  // namespace

float parseStlNumber(const char* first, const char* last) {
    // Rounded through double, as atof's result is stored into a float.
    const char* end;
    return static_cast<float>(parseCDouble(first, last, end));
}

AsciiStatus parseAsciiLines(const char* data, std::size_t size, bool final, StlPointList& corners,
                            std::size_t& consumed) {
    consumed = 0;
    if (size == 0) return final ? AsciiStatus::Stopped : AsciiStatus::NeedMore;
    const char* const end = data + size;
    // The next NUL at or after the current line; lines before it need no
    // check of their own.
    const char* nul = static_cast<const char*>(std::memchr(data, '\0', size));
    if (!nul) nul = end;

    const char* line = data;
    for (;;) {
        const char* feed = static_cast<const char*>(std::memchr(line, '\n', end - line));
        if (!feed && !final) {
            // The start of a line that the next block completes.
            consumed = static_cast<std::size_t>(line - data);
            return AsciiStatus::NeedMore;
        }
        const char* lineEnd = feed ? feed : end;
        // A carriage return right before the line feed is part of the line end.
        const char* stop = (feed && lineEnd > line && lineEnd[-1] == '\r') ? lineEnd - 1 : lineEnd;
        if (nul < lineEnd) {
            // The line is read only up to its first NUL.
            if (nul < stop) stop = nul;
            nul = static_cast<const char*>(std::memchr(lineEnd, '\0', end - lineEnd));
            if (!nul) nul = end;
        }

        const char* first = skipBlanks(line, stop);
        if (first == stop) return AsciiStatus::Stopped;  // an empty or blank line ends the parse
        const char* last = tokenEnd(first, stop);
        if (isVertexKeyword(first, last)) {
            // Up to three numbers; missing ones read as 0 so that the corner
            // still counts and the corners after it stay grouped in threes.
            float xyz[3] = {0.0f, 0.0f, 0.0f};
            const char* p = last;
            for (float& coordinate : xyz) {
                p = skipBlanks(p, stop);
                if (p == stop) break;
                const char* token = p;
                if (isCSpace(*token)) {
                    // White space (a tab) first: the skip must stop at the
                    // token's end, so the token is delimited first.
                    p = tokenEnd(p, stop);
                    coordinate = parseStlNumber(token, p);
                } else {
                    // No number reaches past a blank, so the rest of the line
                    // can be handed over, and the token's end is searched
                    // only from where the number stopped.
                    const char* numberEnd;
                    coordinate = static_cast<float>(parseCDouble(token, stop, numberEnd));
                    p = tokenEnd(numberEnd, stop);
                }
            }
            corners.insert(corners.end(), xyz, xyz + 3);
        }
        if (!feed) return AsciiStatus::EndReached;  // the last line, with a token and no line feed
        line = feed + 1;
    }
}

bool parseAsciiStl(const char* data, std::size_t size, StlPointList& corners) {
    corners.reserve(corners.size() + 3 * (size / AsciiBytesPerCorner));
    std::size_t consumed;
    return parseAsciiLines(data, size, true, corners, consumed) == AsciiStatus::EndReached;
}

}  // namespace stlrefine
