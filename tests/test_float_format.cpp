// formatFloat must give the bytes of printf("%.6g", (double)f) in the "C"
// locale (what a default std::ostream writes for a float). Every check
// compares with snprintf itself; the table also pins the expected text, so a
// test host with an unusual C library would show up as well.
#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cfloat>
#include <clocale>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <limits>
#include <string>
#include <string_view>

#include "common/float_format.h"

namespace {

std::string format(float value) {
    // Canary bytes past the text show that nothing is written beyond the
    // room the function asks for.
    char buffer[stlrefine::MaxFloatTextLength + 8];
    std::fill(std::begin(buffer), std::end(buffer), '#');
    const char* end = stlrefine::formatFloat(buffer, value);
    for (std::size_t i = stlrefine::MaxFloatTextLength; i < sizeof buffer; ++i) {
        EXPECT_EQ(buffer[i], '#') << "wrote past the room for " << value;
    }
    return std::string(static_cast<const char*>(buffer), end);
}

std::string printfText(float value) {
    char text[64];
    std::snprintf(text, sizeof text, "%.6g", static_cast<double>(value));
    return text;
}

float fromBits(std::uint32_t bits) { return std::bit_cast<float>(bits); }

class FloatFormat : public testing::Test {
protected:
    void SetUp() override { ASSERT_STREQ(std::setlocale(LC_NUMERIC, nullptr), "C"); }
};

TEST_F(FloatFormat, KnownTexts) {
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inf = std::numeric_limits<float>::infinity();
    const struct {
        float value;
        const char* text;
    } cases[] = {
        {0.0f, "0"}, {-0.0f, "-0"}, {1.0f, "1"}, {-1.0f, "-1"}, {0.5f, "0.5"}, {1.0f / 3, "0.333333"},
        {2.0f / 3, "0.666667"}, {-2.5f, "-2.5"}, {10.0f, "10"}, {100.0f, "100"},
        // Exponent notation below 1e-4 and from 1e6 up, two exponent digits at least.
        {0.0001f, "0.0001"}, {0.00012345678f, "0.000123457"}, {0.00001f, "1e-05"},
        {0.000099999f, "9.9999e-05"}, {123456.0f, "123456"}, {999999.0f, "999999"},
        {1000000.0f, "1e+06"}, {1234567.0f, "1.23457e+06"}, {-1234567.0f, "-1.23457e+06"},
        // Rounding that carries into the next power of ten switches notation.
        {999999.6f, "1e+06"}, {0.00009999997f, "0.0001"}, {9.999996f, "10"},
        // Exact ties round to even.
        {123456.5f, "123456"}, {123457.5f, "123458"}, {999999.5f, "1e+06"}, {1000005.0f, "1e+06"},
        {1000015.0f, "1.00002e+06"}, {1234.125f, "1234.12"}, {12.34375f, "12.3438"},
        {0.1f, "0.1"}, {0.3f, "0.3"}, {1e-10f, "1e-10"}, {1e10f, "1e+10"},
        {FLT_MAX, "3.40282e+38"}, {-FLT_MAX, "-3.40282e+38"}, {FLT_MIN, "1.17549e-38"},
        {-FLT_MIN, "-1.17549e-38"}, {FLT_TRUE_MIN, "1.4013e-45"}, {fromBits(0x007fffff), "1.17549e-38"},
        {nan, "nan"}, {-nan, "-nan"}, {inf, "inf"}, {-inf, "-inf"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(format(c.value), c.text) << "bits 0x" << std::hex << std::bit_cast<std::uint32_t>(c.value);
        EXPECT_EQ(printfText(c.value), c.text) << "the C library disagrees on this case";
    }
}

TEST_F(FloatFormat, EveryNaNPayloadAndSign) {
    for (const std::uint32_t bits : {0x7f800001u, 0x7fc00000u, 0x7fffffffu, 0xff800001u, 0xffc00000u, 0xffffffffu}) {
        EXPECT_EQ(format(fromBits(bits)), printfText(fromBits(bits))) << std::hex << bits;
    }
}

// Every exact tie n + 1/2 with six integer digits: even n stays, odd n rounds
// up, and 999999.5 carries into 1e+06.
TEST_F(FloatFormat, HalfIntegerTiesRoundToEven) {
    for (std::uint32_t n = 100000; n < 1000000; ++n) {
        const float value = static_cast<float>(n) + 0.5f;
        const std::uint32_t rounded = n % 2 == 0 ? n : n + 1;
        const std::string expected = rounded == 1000000 ? "1e+06" : std::to_string(rounded);
        ASSERT_EQ(format(value), expected) << n;
    }
}

// Ties with fractional digits: m / 2^q for odd m whose exact decimal m * 5^q
// has seven significant digits, so that the seventh is a 5 and nothing
// follows it (such as 12.34375 = 395 / 32).
TEST_F(FloatFormat, FractionalTiesMatchPrintf) {
    int ties = 0;
    std::uint64_t powerOfFive = 1;
    for (int q = 1; q <= 10; ++q) {
        powerOfFive *= 5;
        const std::uint64_t first = ((1000000 + powerOfFive - 1) / powerOfFive) | 1;
        const std::uint64_t last = 9999999 / powerOfFive;
        const std::uint64_t step = std::max<std::uint64_t>(2, (last - first) / 20000 * 2);
        for (std::uint64_t m = first; m <= last; m += step) {
            const auto value = static_cast<float>(std::ldexp(static_cast<double>(m), -q));
            ASSERT_EQ(format(value), printfText(value)) << m << " / 2^" << q;
            ASSERT_EQ(format(-value), printfText(-value)) << "-" << m << " / 2^" << q;
            ++ties;
        }
    }
    EXPECT_GT(ties, 30000);
}

// Around every power of ten and every point where six-digit rounding reaches
// the next one (9.999995 * 10^X): the decimal exponent and notation switch.
TEST_F(FloatFormat, DecimalExponentBoundaries) {
    for (int exponent = -45; exponent <= 38; ++exponent) {
        for (const double mantissa : {1.0, 9.999995}) {
            const auto center = static_cast<float>(mantissa * std::pow(10.0, exponent));
            if (!std::isfinite(center) || center == 0.0f) continue;
            const auto bits = std::bit_cast<std::uint32_t>(center);
            for (std::uint32_t b = bits > 64 ? bits - 64 : 1; b <= bits + 64 && b < 0x7f800000u; ++b) {
                ASSERT_EQ(format(fromBits(b)), printfText(fromBits(b))) << "bits 0x" << std::hex << b;
                ASSERT_EQ(format(-fromBits(b)), printfText(-fromBits(b))) << "bits 0x" << std::hex << b;
            }
        }
    }
}

// A strided sweep over all 2^32 patterns: about 10.5 million floats of
// every kind (subnormals, NaN payloads, infinities, both signs). The stride
// is odd, so the sweep does not stay on one mantissa pattern; the complete
// check is test_float_format_exhaustive.
TEST_F(FloatFormat, StridedSweepMatchesPrintf) {
    constexpr std::uint64_t Stride = 409;
    std::uint64_t mismatches = 0;
    for (std::uint64_t i = 0; i < (std::uint64_t{1} << 32); i += Stride) {
        const float value = fromBits(static_cast<std::uint32_t>(i));
        char got[stlrefine::MaxFloatTextLength];
        char expected[32];
        const char* end = stlrefine::formatFloat(got, value);
        const int length = std::snprintf(expected, sizeof expected, "%.6g", static_cast<double>(value));
        if (std::string_view(got, static_cast<std::size_t>(end - got)) != std::string_view(expected, static_cast<std::size_t>(length))) {
            if (++mismatches <= 10) {
                ADD_FAILURE() << "bits 0x" << std::hex << i << ": \"" << std::string(static_cast<const char*>(got), end)
                              << "\" instead of \"" << expected << "\"";
            }
        }
    }
    EXPECT_EQ(mismatches, 0u);
}

}  // namespace
