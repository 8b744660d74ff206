// formatFloat against snprintf("%.6g", (double)f) for every one of the 2^32
// float bit patterns. It takes minutes, so it runs only when the environment
// sets STLREFINE_EXHAUSTIVE=1 (CI does); otherwise it is skipped and the
// strided sweep in test_float_format covers the same ground more thinly.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <bit>
#include <chrono>
#include <clocale>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "common/float_format.h"

namespace {

bool exhaustiveRequested() {
    const char* flag = std::getenv("STLREFINE_EXHAUSTIVE");
    return flag != nullptr && std::strcmp(flag, "1") == 0;
}

struct Mismatch {
    std::uint32_t bits;
    std::string got;
    std::string expected;
};

TEST(FloatFormatExhaustive, EveryBitPatternMatchesPrintf) {
    if (!exhaustiveRequested()) GTEST_SKIP() << "set STLREFINE_EXHAUSTIVE=1 to check all 2^32 floats";
    // snprintf is the reference only in the "C" locale.
    ASSERT_STREQ(std::setlocale(LC_NUMERIC, nullptr), "C");

    // Blocks of 2^20 patterns handed out in order; the threads only ever
    // share the block counter and the list of mismatches.
    constexpr std::uint64_t BlockSize = std::uint64_t{1} << 20;
    constexpr std::uint64_t BlockCount = (std::uint64_t{1} << 32) / BlockSize;
    constexpr std::size_t MismatchesKept = 20;
    std::atomic<std::uint64_t> nextBlock{0};
    std::atomic<std::uint64_t> checked{0};
    std::atomic<std::uint64_t> mismatchCount{0};
    std::mutex mismatchLock;
    std::vector<Mismatch> mismatches;

    const auto worker = [&] {
        char got[stlrefine::MaxFloatTextLength];
        char expected[32];
        for (std::uint64_t block; (block = nextBlock.fetch_add(1)) < BlockCount;) {
            std::uint64_t localMismatches = 0;
            for (std::uint64_t i = block * BlockSize; i < (block + 1) * BlockSize; ++i) {
                const auto bits = static_cast<std::uint32_t>(i);
                const float value = std::bit_cast<float>(bits);
                char* end = stlrefine::formatFloat(got, value);
                const int length = std::snprintf(expected, sizeof expected, "%.6g", static_cast<double>(value));
                if (end - got == length && std::memcmp(got, expected, static_cast<std::size_t>(length)) == 0) {
                    continue;
                }
                ++localMismatches;
                const std::lock_guard<std::mutex> lock(mismatchLock);
                if (mismatches.size() < MismatchesKept) {
                    mismatches.push_back({bits, std::string(got, end), expected});
                }
            }
            mismatchCount += localMismatches;
            const std::uint64_t done = (checked += BlockSize);
            if (done % (BlockCount / 16 * BlockSize) == 0) {
                std::fprintf(stderr, "  %llu / 16 of all patterns checked\n",
                             static_cast<unsigned long long>(done / (BlockCount / 16 * BlockSize)));
            }
        }
    };

    const unsigned threadCount = std::max(2u, std::thread::hardware_concurrency());
    const auto start = std::chrono::steady_clock::now();
    std::vector<std::thread> threads;
    for (unsigned t = 0; t < threadCount; ++t) threads.emplace_back(worker);
    for (std::thread& thread : threads) thread.join();
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("checked %llu float bit patterns on %u threads in %.1f s\n",
                static_cast<unsigned long long>(checked.load()), threadCount, seconds);

    EXPECT_EQ(checked.load(), std::uint64_t{1} << 32);
    EXPECT_EQ(mismatchCount.load(), 0u);
    std::sort(mismatches.begin(), mismatches.end(),
              [](const Mismatch& a, const Mismatch& b) { return a.bits < b.bits; });
    for (const Mismatch& m : mismatches) {
        ADD_FAILURE() << "bits 0x" << std::hex << m.bits << ": formatFloat gave \"" << m.got
                      << "\", printf gives \"" << m.expected << "\"";
    }
}

}  // namespace
