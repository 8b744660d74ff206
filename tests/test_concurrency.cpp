// Threads calling both exports at once write what each call alone writes, and
// every progress line comes out whole (ThreadSanitizer runs this in CI).
#include <gtest/gtest.h>

#include <atomic>
#include <map>
#include <sstream>
#include <thread>

#include "support/library.h"
#include "support/meshes.h"

using namespace testing_support;

static std::map<std::string, int> lineCounts(const std::string& text) {
    std::map<std::string, int> counts;
    std::istringstream stream(text);
    for (std::string line; std::getline(stream, line);) ++counts[line];
    return counts;
}

TEST(Concurrency, SimultaneousCallsWriteWhatSingleCallsWrite) {
    TempDir dir;
    writeFile(dir / "tetra.stl", binaryStl(facetCorners(tetrahedron())));
    writeFile(dir / "torus.stl", binaryStl(facetCorners(shuffledFaces(torus(30, 12), 3))));
    ASSERT_EQ(callLibrary(dir / "torus.stl", dir / "ascii.stl", 0), 1);  // ASCII input: the library's own output
    // Meshes of different kinds and sizes, so that calls overlap at every stage.
    // clang-format off
    const struct Job { const char* input; int iterations; bool heightLimited; float threshold; } jobs[] = {
        {"tetra.stl", 3, false, 0}, {"tetra.stl", 5, true, 0.3f}, {"torus.stl", 1, false, 0},
        {"torus.stl", 3, true, 0.2f}, {"ascii.stl", 2, false, 0}, {"ascii.stl", 4, true, 0.5f}};
    // clang-format on
    auto run = [&](const Job& job, const std::string& out) {
        return callLibrary(dir / job.input, dir / out, job.iterations, job.heightLimited ? &job.threshold : nullptr);
    };
    constexpr std::size_t Rounds = 3;  // each thread runs three jobs, each thread starting at another
    std::vector<std::string> expected;
    std::string alone, together;
    for (const Job& job : jobs) {
        for (std::size_t round = 0; round < Rounds; ++round)
            alone += captureStdout([&] { EXPECT_EQ(run(job, "alone.stl"), 1); });
        expected.push_back(readFile(dir / "alone.stl"));
    }
    std::atomic<int> mismatches = 0;
    together = captureStdout([&] {
        std::vector<std::thread> threads;
        for (std::size_t t = 0; t < std::size(jobs); ++t) {
            threads.emplace_back([&, t] {
                for (std::size_t round = 0, j = t; round < Rounds; ++round, j = (j + 1) % std::size(jobs)) {
                    const std::string out = "thread" + std::to_string(t) + ".stl";
                    if (run(jobs[j], out) != 1 || readFile(dir / out) != expected[j]) ++mismatches;
                }
            });
        }
        for (std::thread& thread : threads) thread.join();
    });
    EXPECT_EQ(mismatches, 0);
    EXPECT_EQ(lineCounts(together), lineCounts(alone));  // interleaved, but whole lines, as often as alone
}
