// Calls from a host that uses the library hard: several threads calling both
// exports at once, and a thousand calls in one process. Every concurrent call
// must write exactly the file a call on its own writes, every progress line
// must stay whole, and repeated calls must leave nothing behind (the
// sanitizer build adds LeakSanitizer; ThreadSanitizer runs this file in CI).
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <malloc.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "support/files.h"
#include "support/library.h"
#include "support/meshes.h"

using testing_support::binaryStl;
using testing_support::captureStdout;
using testing_support::readFile;
using testing_support::TempDir;
using testing_support::widePath;
using testing_support::writeFile;

namespace {

using testing_support::library;
using testing_support::Sanitized;

// One way of calling: an input, the export, its arguments.
struct Job {
    std::filesystem::path input;
    bool heightLimited;
    int iterations;
    float threshold;
};

int call(const Job& job, const std::filesystem::path& output) {
    return testing_support::callLibrary(job.input, output, job.iterations,
                                        job.heightLimited ? &job.threshold : nullptr);
}

std::map<std::string, int> lineCounts(const std::string& text) {
    std::map<std::string, int> counts;
    std::istringstream stream(text);
    for (std::string line; std::getline(stream, line);) ++counts[line];
    return counts;
}

// Meshes of different kinds and sizes, so that calls overlap at every stage.
std::vector<Job> makeJobs(const TempDir& dir) {
    using testing_support::facetCorners;
    const auto tetra = dir / "tetra.stl";
    const auto torus = dir / "torus.stl";
    const auto shuffled = dir / "shuffled.stl";
    const auto ascii = dir / "ascii.stl";
    writeFile(tetra, binaryStl(facetCorners(testing_support::tetrahedron())));
    writeFile(torus, binaryStl(facetCorners(testing_support::torus(24, 16))));
    writeFile(shuffled, binaryStl(facetCorners(testing_support::shuffledFaces(testing_support::torus(30, 12), 3))));
    std::string text = "solid ascii\n";
    const std::vector<float> corners = facetCorners(testing_support::torus(10, 8, 3.0f, 1.25f));
    for (std::size_t k = 0; k < corners.size(); k += 3) {
        text += "vertex " + std::to_string(corners[k]) + ' ' + std::to_string(corners[k + 1]) + ' ' +
                std::to_string(corners[k + 2]) + '\n';
    }
    writeFile(ascii, text + "endsolid");
    return {{tetra, false, 3, 0}, {tetra, true, 5, 0.3f},  {torus, false, 1, 0},
            {torus, true, 3, 0.2f}, {shuffled, false, 2, 0}, {shuffled, true, 2, -1.0f},
            {ascii, false, 2, 0},   {ascii, true, 4, 0.5f}};
}

class Concurrency : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_NE(library().plain, nullptr) << dlerror();
        ASSERT_NE(library().height, nullptr);
    }
    TempDir dir;
};

}  // namespace

TEST_F(Concurrency, SimultaneousCallsWriteWhatSingleCallsWrite) {
    const std::vector<Job> jobs = makeJobs(dir);
    std::vector<std::string> expected(jobs.size());
    std::map<std::string, int> expectedLines;
    constexpr int Rounds = 3;
    for (std::size_t j = 0; j < jobs.size(); ++j) {
        const auto out = dir / ("alone" + std::to_string(j) + ".stl");
        int result = 0;
        const std::string transcript = captureStdout([&] { result = call(jobs[j], out); });
        ASSERT_EQ(result, 1);
        expected[j] = readFile(out);
        for (const auto& [line, n] : lineCounts(transcript)) expectedLines[line] += Rounds * n;
    }

    // Every thread runs every job, each starting at a different one, so that
    // different stages and both exports overlap.
    std::vector<std::vector<std::string>> mismatches(jobs.size());
    const std::string transcript = captureStdout([&] {
        std::vector<std::thread> threads;
        for (std::size_t t = 0; t < jobs.size(); ++t) {
            threads.emplace_back([&, t] {
                for (int round = 0; round < Rounds; ++round) {
                    const std::size_t j = (t + static_cast<std::size_t>(round)) % jobs.size();
                    const auto out = dir / ("thread" + std::to_string(t) + ".stl");
                    if (call(jobs[j], out) != 1 || readFile(out) != expected[j]) {
                        mismatches[t].push_back("job " + std::to_string(j) + " round " + std::to_string(round));
                    }
                }
            });
        }
        for (std::thread& thread : threads) thread.join();
    });
    for (std::size_t t = 0; t < jobs.size(); ++t) EXPECT_TRUE(mismatches[t].empty()) << "thread " << t;
    // Interleaved, but every line whole and each one as often as the calls
    // on their own print it.
    EXPECT_EQ(lineCounts(transcript), expectedLines);
}

TEST_F(Concurrency, AThousandCallsLeaveNothingBehind) {
    const std::vector<Job> jobs = makeJobs(dir);
    const Job plain{jobs[2].input, false, 1, 0};  // the 24 x 16 torus
    const Job height{jobs[2].input, true, 2, 0.1f};
    const auto out = dir / "repeated.stl";
    std::string firstPlain, firstHeight;
    std::size_t heapAfterWarmUp = 0, heapAtEnd = 0;
    long residentAfterWarmUp = 0, residentAtEnd = 0;
    auto heapInUse = [] {
        const struct mallinfo2 info = mallinfo2();
        return info.uordblks + info.hblkhd;
    };
    auto residentKilobytes = [] {
        std::istringstream status(readFile("/proc/self/status"));
        for (std::string line; std::getline(status, line);) {
            if (line.rfind("VmRSS:", 0) == 0) return std::stol(line.substr(6));
        }
        return -1L;
    };

    constexpr int WarmUp = 50, Calls = 1000;
    int failures = 0;
    const std::string transcript = captureStdout([&] {
        for (int i = 0; i < WarmUp + Calls; ++i) {
            const Job& job = i % 2 ? height : plain;
            std::string& first = i % 2 ? firstHeight : firstPlain;
            if (call(job, out) != 1) ++failures;
            const std::string written = readFile(out);
            if (first.empty()) first = written;
            if (written != first) ++failures;
            if (i + 1 == WarmUp) {
                heapAfterWarmUp = heapInUse();
                residentAfterWarmUp = residentKilobytes();
            }
        }
        heapAtEnd = heapInUse();
        residentAtEnd = residentKilobytes();
    });
    EXPECT_EQ(failures, 0);
    EXPECT_EQ(lineCounts(transcript)["subdivision triangle done!!"], WarmUp + Calls);
    if (Sanitized) return;  // LeakSanitizer checks at exit; the sanitizers' heaps are their own
    // Every call releases all it allocated: the heap in use is as it was.
    EXPECT_LE(heapAtEnd, heapAfterWarmUp + 64 * 1024);
    EXPECT_LE(residentAtEnd, residentAfterWarmUp + 4 * 1024);
}
