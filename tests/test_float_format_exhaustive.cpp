// formatFloat against snprintf("%.6g", (double)f) for all 2^32 bit patterns.
// It takes minutes, so it runs only with STLREFINE_EXHAUSTIVE=1 (as in CI).
#include <gtest/gtest.h>
#include <algorithm>
#include <atomic>
#include <bit>
#include <clocale>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>
#include "common/float_format.h"

TEST(FloatFormatExhaustive, EveryBitPatternMatchesPrintf) {
    const char* flag = std::getenv("STLREFINE_EXHAUSTIVE");
    if (flag == nullptr || std::string(flag) != "1") GTEST_SKIP() << "set STLREFINE_EXHAUSTIVE=1 to check all 2^32 floats";
    ASSERT_STREQ(std::setlocale(LC_NUMERIC, nullptr), "C");
    constexpr std::uint64_t BlockSize = std::uint64_t{1} << 20, BlockCount = (std::uint64_t{1} << 32) / BlockSize;
    std::atomic<std::uint64_t> nextBlock{0}, checked{0}, mismatches{0}, firstMismatch{~std::uint64_t{0}};
    const auto worker = [&] {
        char got[stlrefine::MaxFloatTextLength], expected[32];
        for (std::uint64_t block; (block = nextBlock.fetch_add(1)) < BlockCount; checked += BlockSize) {
            for (std::uint64_t i = block * BlockSize; i < (block + 1) * BlockSize; ++i) {
                const float value = std::bit_cast<float>(static_cast<std::uint32_t>(i));
                const std::string text(got, stlrefine::formatFloat(got, value));
                std::snprintf(expected, sizeof expected, "%.6g", static_cast<double>(value));
                if (text == expected) continue;
                ++mismatches;
                for (std::uint64_t seen = firstMismatch; i < seen && !firstMismatch.compare_exchange_weak(seen, i);) {}
            }
        }
    };
    std::vector<std::thread> threads(std::max(2u, std::thread::hardware_concurrency()));
    for (std::thread& thread : threads) thread = std::thread(worker);
    for (std::thread& thread : threads) thread.join();
    EXPECT_EQ(checked.load(), std::uint64_t{1} << 32);
    EXPECT_EQ(mismatches.load(), 0u) << "first at bits 0x" << std::hex << firstMismatch.load();
}
