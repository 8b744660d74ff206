// Threads calling both exports at once, and a thousand calls in one process
// (LeakSanitizer and ThreadSanitizer run this file in CI).
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <malloc.h>

#include <atomic>
#include <filesystem>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "support/files.h"
#include "support/library.h"
#include "support/meshes.h"

using namespace testing_support;

namespace {

struct Job { std::filesystem::path input; bool heightLimited; int iterations; float threshold; };

int call(const Job& job, const std::filesystem::path& output) {
    return callLibrary(job.input, output, job.iterations, job.heightLimited ? &job.threshold : nullptr);
}

std::map<std::string, int> lineCounts(const std::string& text) {
    std::map<std::string, int> counts;
    for (const std::string& line : lines(text)) ++counts[line];
    return counts;
}

// Meshes of different kinds and sizes, so that calls overlap at every stage.
std::vector<Job> makeJobs(const TempDir& dir) {
    writeFile(dir / "tetra.stl", binaryStl(facetCorners(tetrahedron())));
    writeFile(dir / "torus.stl", binaryStl(facetCorners(shuffledFaces(torus(30, 12), 3))));
    std::string text = "solid ascii\n";
    const std::vector<float> c = facetCorners(torus(10, 8, 3.0f, 1.25f));
    for (std::size_t k = 0; k + 2 < c.size(); k += 3) {
        text += "vertex " + std::to_string(c[k]) + ' ' + std::to_string(c[k + 1]) + ' ' +
                std::to_string(c[k + 2]) + '\n';
    }
    writeFile(dir / "ascii.stl", text + "endsolid");
    return {{dir / "tetra.stl", false, 3, 0}, {dir / "tetra.stl", true, 5, 0.3f},
            {dir / "torus.stl", false, 1, 0}, {dir / "torus.stl", true, 3, 0.2f},
            {dir / "ascii.stl", false, 2, 0}, {dir / "ascii.stl", true, 4, 0.5f}};
}

}  // namespace

TEST(Concurrency, SimultaneousCallsWriteWhatSingleCallsWrite) {
    ASSERT_NE(library().plain, nullptr) << dlerror();
    TempDir dir;
    const std::vector<Job> jobs = makeJobs(dir);
    std::vector<std::string> expected(jobs.size());
    std::map<std::string, int> expectedLines;
    constexpr int Rounds = 3;
    for (std::size_t j = 0; j < jobs.size(); ++j) {
        int result = 0;
        const std::string transcript = captureStdout([&] { result = call(jobs[j], dir / "alone.stl"); });
        ASSERT_EQ(result, 1);
        expected[j] = readFile(dir / "alone.stl");
        for (const auto& [line, n] : lineCounts(transcript)) expectedLines[line] += Rounds * n;
    }
    // Every thread runs every job, each starting at a different one.
    std::atomic<int> mismatches = 0;
    const std::string transcript = captureStdout([&] {
        std::vector<std::thread> threads;
        for (std::size_t t = 0; t < jobs.size(); ++t) {
            threads.emplace_back([&, t] {
                for (int round = 0; round < Rounds; ++round) {
                    const std::size_t j = (t + static_cast<std::size_t>(round)) % jobs.size();
                    const auto out = dir / ("thread" + std::to_string(t) + ".stl");
                    if (call(jobs[j], out) != 1 || readFile(out) != expected[j]) ++mismatches;
                }
            });
        }
        for (std::thread& thread : threads) thread.join();
    });
    EXPECT_EQ(mismatches, 0);
    // Interleaved, but every line whole and as often as the calls alone print it.
    EXPECT_EQ(lineCounts(transcript), expectedLines);
}

TEST(Concurrency, AThousandCallsLeaveNothingBehind) {
    ASSERT_NE(library().plain, nullptr) << dlerror();
    TempDir dir;
    const std::vector<Job> jobs = makeJobs(dir);
    const Job repeated[2] = {{jobs[2].input, false, 1, 0}, {jobs[2].input, true, 2, 0.1f}};
    std::string first[2];
    std::size_t heapAfterWarmUp = 0, heapAtEnd = 0;
    constexpr int WarmUp = 50, Calls = 1000;
    int failures = 0;
    const std::string transcript = captureStdout([&] {
        for (int i = 0; i < WarmUp + Calls; ++i) {
            if (call(repeated[i % 2], dir / "repeated.stl") != 1) ++failures;
            const std::string written = readFile(dir / "repeated.stl");
            if (first[i % 2].empty()) first[i % 2] = written;
            if (written != first[i % 2]) ++failures;
            if (i + 1 == WarmUp) heapAfterWarmUp = mallinfo2().uordblks + mallinfo2().hblkhd;
        }
        heapAtEnd = mallinfo2().uordblks + mallinfo2().hblkhd;
    });
    EXPECT_EQ(failures, 0);
    EXPECT_EQ(lineCounts(transcript)["subdivision triangle done!!"], WarmUp + Calls);
    if (Sanitized) return;  // LeakSanitizer checks at exit; the sanitizers' heaps are their own
    EXPECT_LE(heapAtEnd, heapAfterWarmUp + 64 * 1024);
}
