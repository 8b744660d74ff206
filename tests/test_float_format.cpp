// formatFloat must give the bytes of printf("%.6g", (double)f) in the "C" locale; the
// table also pins the text, so an unusual C library on the test host shows up too.
#include <gtest/gtest.h>
#include <algorithm>
#include <bit>
#include <cfloat>
#include <clocale>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <string>
#include "common/float_format.h"

namespace {

std::string format(float value) {
    char buffer[stlrefine::MaxFloatTextLength + 8];
    std::fill(std::begin(buffer), std::end(buffer), '#');
    const char* end = stlrefine::formatFloat(buffer, value);
    for (std::size_t i = stlrefine::MaxFloatTextLength; i < sizeof buffer; ++i)
        EXPECT_EQ(buffer[i], '#') << "wrote past the room for " << value;
    return std::string(static_cast<const char*>(buffer), end);
}

std::string printfText(float value) {
    char text[64];
    std::snprintf(text, sizeof text, "%.6g", static_cast<double>(value));
    return text;
}

float fromBits(std::uint32_t bits) { return std::bit_cast<float>(bits); }

struct FloatFormat : testing::Test {
    void SetUp() override { ASSERT_STREQ(std::setlocale(LC_NUMERIC, nullptr), "C"); }
};

TEST_F(FloatFormat, KnownTexts) {
    const struct { float value; const char* text; } cases[] = {
        {0.0f, "0"}, {-0.0f, "-0"}, {1.0f, "1"}, {-2.5f, "-2.5"}, {2.0f / 3, "0.666667"}, {100.0f, "100"},
        {0.0001f, "0.0001"}, {0.00012345678f, "0.000123457"}, {0.00001f, "1e-05"}, {0.000099999f, "9.9999e-05"},
        {999999.0f, "999999"}, {1000000.0f, "1e+06"}, {-1234567.0f, "-1.23457e+06"}, {1e-10f, "1e-10"},
        {999999.6f, "1e+06"}, {0.00009999997f, "0.0001"}, {9.999996f, "10"}, {0.1f, "0.1"}, {0.3f, "0.3"},
        {123456.5f, "123456"}, {123457.5f, "123458"}, {999999.5f, "1e+06"}, {1000005.0f, "1e+06"},
        {1000015.0f, "1.00002e+06"}, {1234.125f, "1234.12"}, {12.34375f, "12.3438"}, {-FLT_MAX, "-3.40282e+38"},
        {-FLT_MIN, "-1.17549e-38"}, {FLT_TRUE_MIN, "1.4013e-45"}, {fromBits(0x007fffff), "1.17549e-38"}, {NAN, "nan"},
        {-NAN, "-nan"}, {fromBits(0x7f800001), "nan"}, {fromBits(0xffffffff), "-nan"}, {INFINITY, "inf"}, {-INFINITY, "-inf"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(format(c.value), c.text) << "bits 0x" << std::hex << std::bit_cast<std::uint32_t>(c.value);
        EXPECT_EQ(printfText(c.value), c.text) << "the C library disagrees on this case";
    }
}

// Every tie n + 1/2 with six integer digits, and fractional ties m / 2^q whose
// exact decimal m * 5^q has seven significant digits ending in 5.
TEST_F(FloatFormat, SixDigitTiesRoundToEven) {
    for (std::uint32_t n = 100000; n < 1000000; ++n) {
        const std::uint32_t even = n % 2 == 0 ? n : n + 1;
        ASSERT_EQ(format(static_cast<float>(n) + 0.5f), even == 1000000 ? "1e+06" : std::to_string(even)) << n;
    }
    std::uint64_t powerOfFive = 1;
    for (int q = 1; q <= 10; ++q) {
        powerOfFive *= 5;
        const std::uint64_t first = ((1000000 + powerOfFive - 1) / powerOfFive) | 1, last = 9999999 / powerOfFive;
        for (std::uint64_t m = first; m <= last; m += std::max<std::uint64_t>(2, (last - first) / 20000 * 2)) {
            const auto value = static_cast<float>(std::ldexp(static_cast<double>(m), -q));
            ASSERT_EQ(format(value), printfText(value)) << m << " / 2^" << q;
            ASSERT_EQ(format(-value), printfText(-value)) << "-" << m << " / 2^" << q;
        }
    }
}

// Odd stride: about 10.5 million patterns of every kind and both signs.
TEST_F(FloatFormat, StridedSweepMatchesPrintf) {
    for (std::uint64_t i = 0; i < (std::uint64_t{1} << 32); i += 409) {
        const float value = fromBits(static_cast<std::uint32_t>(i));
        ASSERT_EQ(format(value), printfText(value)) << "bits 0x" << std::hex << i;
    }
}

}  // namespace
