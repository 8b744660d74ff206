// formatFloat gives the bytes of snprintf("%.6g", (double)f), which is what a
// default-formatted stream writes in the "C" locale: every 409th bit pattern
// (about 10.5 million, of every kind and both signs), the 63 smallest
// subnormals, and every eighth from 100000 to 1000000, among them all
// six-digit ties n + 1/2 (rounded to even).
// test_float_format_exhaustive.cpp includes this file to check all 2^32.
#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <thread>

#include "common/float_format.h"

// The lowest of the bit patterns first, first + stride, ... below last whose
// text differs from printf's, or `last`; on all cores. With `mirrored`, the
// pattern with the sign bit set is checked as well, against a minus sign and
// the same printf text: printf writes a negative value (a NaN with the sign
// bit too) as '-' and the text of its magnitude, which the sweeps check
// directly on every kind of negative float.
static std::uint64_t firstMismatch(std::uint64_t first, std::uint64_t last, std::uint64_t stride,
                                   bool mirrored = false) {
    EXPECT_STREQ(std::setlocale(LC_NUMERIC, nullptr), "C");
    const unsigned threads = std::max(2u, std::thread::hardware_concurrency());
    std::vector<std::uint64_t> found(threads, last);
    std::vector<std::thread> workers;
    for (unsigned t = 0; t < threads; ++t) {
        workers.emplace_back([&, t] {
            char text[stlrefine::MaxFloatTextLength], expected[32] = "-";
            for (std::uint64_t i = first + t * stride; i < found[t]; i += threads * stride) {
                const auto value = std::bit_cast<float>(static_cast<std::uint32_t>(i));
                std::snprintf(expected + 1, sizeof expected - 1, "%.6g", static_cast<double>(value));
                if (std::string_view(text, stlrefine::formatFloat(text, value)) != expected + 1) found[t] = i;
                const auto negative = std::bit_cast<float>(static_cast<std::uint32_t>(i | 0x80000000u));
                if (mirrored && std::string_view(text, stlrefine::formatFloat(text, negative)) != expected)
                    found[t] = i;
            }
        });
    }
    for (std::thread& worker : workers) worker.join();
    return *std::min_element(found.begin(), found.end());
}

#ifndef STLREFINE_ALL_FLOATS
TEST(FloatFormat, MatchesPrintf) {
    EXPECT_EQ(firstMismatch(0, std::uint64_t{1} << 32, 409), std::uint64_t{1} << 32);
    EXPECT_EQ(firstMismatch(1, 64, 1), 64u);  // the smallest subnormals, where log2 is counted from the bits
    const std::uint32_t low = std::bit_cast<std::uint32_t>(1e5f), high = std::bit_cast<std::uint32_t>(1e6f);
    EXPECT_EQ(firstMismatch(low, high, 8), high);
}
#else
// Minutes on two cores: only with STLREFINE_EXHAUSTIVE=1 (as in CI). Every
// pattern with the sign bit clear, and its mirror with the sign bit set.
TEST(FloatFormatExhaustive, EveryBitPatternMatchesPrintf) {
    const char* flag = std::getenv("STLREFINE_EXHAUSTIVE");
    if (flag == nullptr || std::string(flag) != "1")
        GTEST_SKIP() << "set STLREFINE_EXHAUSTIVE=1 to check all 2^32 floats";
    EXPECT_EQ(firstMismatch(0, std::uint64_t{1} << 31, 1, true), std::uint64_t{1} << 31);
}
#endif
