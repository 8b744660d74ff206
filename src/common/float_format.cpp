// "%.6g" of a float without printf and without the general-purpose
// shortest/precision machinery of std::to_chars.
//
// A finite nonzero float v has an exact decimal exponent X = floor(log10 v),
// found by comparing its bits against the smallest float at or above each
// power of ten. Then s = v * 10^(5 - X) lies in [100000, 1000000), and the six
// significant digits are s rounded to the nearest integer (ties to even).
// s is computed in double: 10^k is correctly rounded and so is the product,
// so s is off by at most 2^-52 relative, under 3e-10 absolute. Rounding s
// therefore gives the exact answer unless its fraction lies within a small
// margin of one half; those rare values (about 0.1% of all floats, exact ties
// among them) go to std::to_chars, which rounds the exact value. Rounding up
// to 1000000 moves to the next exponent, as "%g" decides between fixed and
// exponent notation on the rounded value.
//
// tests/test_float_format_exhaustive.cpp checks all 2^32 bit patterns
// against snprintf.
#include "common/float_format.h"

#include <array>
#include <bit>
#include <charconv>
#include <cstdint>
#include <cstring>

static_assert(std::endian::native == std::endian::little,
              "digits are assembled in registers and stored as little-endian bytes");

namespace stlrefine {

namespace {

// Decimal exponents of finite nonzero floats run from -45 to 38, so the
// scale 10^(5 - X) runs from 10^-33 to 10^50.
constexpr int MinDecimalExponent = -45;
constexpr int MinScale = -33;

// Smallest float bit pattern (sign cleared) whose exact value is at least
// 10^X, for X = MinDecimalExponent + 1 .. 39 (found by a binary search over
// the bit patterns with exact rational comparisons). 10^39 is beyond every
// float, so its entry is the bits of infinity.
constexpr std::uint32_t PowerOfTenThreshold[84] = {
    0x00000008, 0x00000048, 0x000002ca, 0x00001be1, 0x000116c3, 0x000ae398, 0x006ce3ef, 0x02081ceb,
    0x03aa2425, 0x0554ad2e, 0x0704ec3d, 0x08a6274c, 0x0a4fb11f, 0x0c01ceb4, 0x0da24260, 0x0f4ad2f8,
    0x10fd87b6, 0x129e74d2, 0x14461207, 0x15f79688, 0x179abe15, 0x19416d9b, 0x1af1c901, 0x1c971da1,
    0x1e3ce509, 0x1fec1e4b, 0x219392ef, 0x233877ab, 0x24e69595, 0x26901d7d, 0x283424dd, 0x29e12e14,
    0x2b8cbccd, 0x2d2fec00, 0x2edbe6ff, 0x30897060, 0x322bcc78, 0x33d6bf95, 0x358637be, 0x3727c5ad,
    0x38d1b718, 0x3a83126f, 0x3c23d70b, 0x3dcccccd, 0x3f800000, 0x41200000, 0x42c80000, 0x447a0000,
    0x461c4000, 0x47c35000, 0x49742400, 0x4b189680, 0x4cbebc20, 0x4e6e6b28, 0x501502f9, 0x51ba43b8,
    0x5368d4a6, 0x551184e8, 0x56b5e621, 0x58635faa, 0x5a0e1bca, 0x5bb1a2bd, 0x5d5e0b6c, 0x5f0ac724,
    0x60ad78ec, 0x6258d727, 0x64078679, 0x65a96817, 0x6753c21c, 0x69045952, 0x6aa56fa6, 0x6c4ecb90,
    0x6e013f3a, 0x6fa18f08, 0x7149f2ca, 0x72fc6f7d, 0x749dc5ae, 0x7645371a, 0x77f684e0, 0x799a130c,
    0x7b4097cf, 0x7cf0bdc3, 0x7e96769a, 0x7f800000,
};

// 10^k for k = MinScale .. 50, each the nearest double.
constexpr double ScaleByPowerOfTen[84] = {
    1e-33, 1e-32, 1e-31, 1e-30, 1e-29, 1e-28, 1e-27, 1e-26, 1e-25, 1e-24, 1e-23, 1e-22, 1e-21, 1e-20,
    1e-19, 1e-18, 1e-17, 1e-16, 1e-15, 1e-14, 1e-13, 1e-12, 1e-11, 1e-10, 1e-9,  1e-8,  1e-7,  1e-6,
    1e-5,  1e-4,  1e-3,  1e-2,  1e-1,  1e0,   1e1,   1e2,   1e3,   1e4,   1e5,   1e6,   1e7,   1e8,
    1e9,   1e10,  1e11,  1e12,  1e13,  1e14,  1e15,  1e16,  1e17,  1e18,  1e19,  1e20,  1e21,  1e22,
    1e23,  1e24,  1e25,  1e26,  1e27,  1e28,  1e29,  1e30,  1e31,  1e32,  1e33,  1e34,  1e35,  1e36,
    1e37,  1e38,  1e39,  1e40,  1e41,  1e42,  1e43,  1e44,  1e45,  1e46,  1e47,  1e48,  1e49,  1e50,
};

// The same powers times 2^32, for a product in 32.32 fixed point.
constexpr auto FixedPointScale = [] {
    std::array<double, std::size(ScaleByPowerOfTen)> scale{};
    for (std::size_t i = 0; i < scale.size(); ++i) scale[i] = ScaleByPowerOfTen[i] * 0x1p32;
    return scale;
}();

// One half, and the distance from it (in units of 2^-32, about 3.7e-9) within
// which the rounding of the product is not trusted: the product is off by
// under 3e-10 and the truncation by under 2^-32.
constexpr std::uint32_t Half = 0x80000000u;
constexpr std::uint32_t TieMargin = 16;

constexpr char DigitPairs[] =
    "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
    "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
    "8081828384858687888990919293949596979899";

// Six ASCII digits of n (below 10^6) in bytes 0..5 of the result, the most
// significant first; bytes 6 and 7 are zero. Each 16-bit lane first holds a
// two-digit group, then is split into tens and ones (x * 103 >> 10 is x / 10
// for x below 100).
constexpr std::uint64_t ZeroDigits = 0x0000303030303030u;

std::uint64_t asciiDigits(std::uint32_t n) {
    const std::uint32_t high = n / 10000;
    const std::uint32_t low = n - high * 10000;
    const std::uint32_t middle = low / 100;
    const std::uint64_t groups =
        std::uint64_t{high} | (std::uint64_t{middle} << 16) | (std::uint64_t{low - middle * 100} << 32);
    const std::uint64_t tens = ((groups * 103) >> 10) & 0x0000000f000f000fu;
    return (tens | ((groups - tens * 10) << 8)) | ZeroDigits;
}

// The exact value's own rounding, for the values whose product sits too
// close to a tie. `magnitude` is positive and finite.
char* formatExactly(char* out, float magnitude) {
    return std::to_chars(out, out + MaxFloatTextLength, static_cast<double>(magnitude),
                         std::chars_format::general, 6)
        .ptr;
}

}  // namespace

char* formatFloat(char* out, float value) {
    const auto bits = std::bit_cast<std::uint32_t>(value);
    // printf prints the sign of every value, zeros and NaNs included.
    // (Branch-free: signs of mesh coordinates are unpredictable.)
    *out = '-';
    out += bits >> 31;
    const std::uint32_t magnitudeBits = bits & 0x7fffffffu;
    if (magnitudeBits >= 0x7f800000u) {
        std::memcpy(out, magnitudeBits == 0x7f800000u ? "inf" : "nan", 3);
        return out + 3;
    }
    if (magnitudeBits == 0) {
        *out = '0';
        return out + 1;
    }

    // floor(log2 v), subnormals included; then floor(log10 v) is either
    // floor(binaryExponent * log10(2)) or one more.
    const int biasedExponent = static_cast<int>(magnitudeBits >> 23);
    const int binaryExponent =
        biasedExponent != 0 ? biasedExponent - 127 : (31 - std::countl_zero(magnitudeBits)) - 149;
    int decimalExponent = (binaryExponent * 78913) >> 18;
    // (The entry for 10^(decimalExponent + 1).)
    decimalExponent += magnitudeBits >= PowerOfTenThreshold[decimalExponent - MinDecimalExponent];

    // s in 32.32 fixed point: the table's powers carry the factor 2^32
    // (exact) and s * 2^32 < 2^52, so the truncation loses only bits far
    // below the margin.
    const float magnitude = std::bit_cast<float>(magnitudeBits);
    const auto fixed = static_cast<std::uint64_t>(static_cast<std::int64_t>(
        static_cast<double>(magnitude) * FixedPointScale[5 - decimalExponent - MinScale]));
    if (static_cast<std::uint32_t>(fixed) - (Half - TieMargin) <= 2 * TieMargin) {
        return formatExactly(out, magnitude);
    }
    auto digits6 = static_cast<std::uint32_t>((fixed + Half) >> 32);
    if (digits6 == 1000000) {
        digits6 = 100000;
        ++decimalExponent;
    }

    // The six digits as ASCII bytes of one register, most significant first
    // in memory, and how many remain once trailing zeros are dropped (at
    // least one: the leading digit is not zero).
    const std::uint64_t digits = asciiDigits(digits6);
    const int length = (71 - std::countl_zero((digits - ZeroDigits) | 1)) / 8;

    if (static_cast<unsigned>(decimalExponent + 4) < 10) {
        // Fixed notation, without branches on the exponent (mixed magnitudes
        // such as 1.5 and 0.25 alternate unpredictably in mesh data).
        // X >= 0: X + 1 integer digits, then '.' if digits remain.
        // X < 0: "0." and -X - 1 zeros, then all remaining digits.
        const bool belowOne = decimalExponent < 0;
        const int prefix = belowOne ? 1 - decimalExponent : 0;
        const int integerDigits = belowOne ? 6 : decimalExponent + 1;
        const std::uint64_t lowMask = ~std::uint64_t{0} >> (64 - 8 * integerDigits);
        const std::uint64_t text =
            (digits & lowMask) | (std::uint64_t{'.'} << (8 * integerDigits)) | ((digits & ~lowMask) << 8);
        const int withPoint = length > integerDigits ? length + 1 : integerDigits;
        std::memcpy(out, "0.000000", 8);
        std::memcpy(out + prefix, &text, 8);
        return out + (belowOne ? prefix + length : withPoint);
    }

    // Exponent notation: d[.ddddd]e±XX; float exponents have at most two digits.
    const std::uint64_t mantissa =
        length > 1 ? (digits & 0xff) | (std::uint64_t{'.'} << 8) | ((digits & ~std::uint64_t{0xff}) << 8)
                   : digits & 0xff;
    std::memcpy(out, &mantissa, 8);
    out += length > 1 ? length + 1 : 1;
    const int exponentDigits = decimalExponent < 0 ? -decimalExponent : decimalExponent;
    out[0] = 'e';
    out[1] = decimalExponent < 0 ? '-' : '+';
    std::memcpy(out + 2, DigitPairs + 2 * exponentDigits, 2);
    return out + 4;
}

}  // namespace stlrefine
