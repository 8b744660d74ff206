// Input files built to break a reader or exhaust the host: truncated and
// lying binary files, non-finite coordinates, binary junk in ASCII files,
// enormous lines and token counts, a declared size far beyond the memory
// there is. Every call must end normally with the lines and result the rules
// give, whatever the file holds.
#include <dlfcn.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <limits>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "stl/stl.h"
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

using testing_support::Call;
using testing_support::library;
using testing_support::Sanitized;

Call run(const std::filesystem::path& in, const std::filesystem::path& out, int iterations,
         const float* threshold = nullptr) {
    return testing_support::callCaptured(in, out, iterations, threshold);
}

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> result;
    std::istringstream stream(text);
    for (std::string line; std::getline(stream, line);) result.push_back(line);
    return result;
}

// The transcript of a call that ran to its end with no iteration.
std::string unrefinedTranscript(const std::string& readerLines, int points, int faces) {
    const auto counts = [&](const std::string& when) {
        return "total points " + when + ": " + std::to_string(points) + "\ntotal face " + when + ": " +
               std::to_string(faces) + "\n";
    };
    return readerLines + "start subdivision sorting\nsubdivision sorting success!\n" + counts("before") +
           "start doing subdivision...\ndoing subdivision success!\n" + counts("after") +
           "start output ascii stl file...\nstl file: output success!!\n"
           "output ascii stl file success\nsubdivision triangle done!!\n";
}

// The number after `label` on its line of the transcript.
int countAfter(const std::string& transcript, const std::string& label) {
    const std::size_t at = transcript.find(label);
    if (at == std::string::npos) return -1;
    return std::stoi(transcript.substr(at + label.size()));
}

// The corners an output file reads back as.
stlrefine::StlPointList readBack(const std::filesystem::path& path) {
    const std::string text = readFile(path);
    stlrefine::StlPointList points;
    EXPECT_TRUE(stlrefine::parseAsciiStl(text.data(), text.size(), points)) << path;
    return points;
}

bool sameBits(float a, float b) { return std::memcmp(&a, &b, sizeof a) == 0; }

// A number as written with six significant digits and read back.
bool readsBackAs(float read, float written) {
    if (std::isnan(written)) return std::isnan(read);
    if (std::isinf(written) || written == 0) return sameBits(read, written);
    return std::fabs(read - written) <= 1.1e-5 * std::fabs(written);
}

std::string withCount(std::string file, std::uint32_t count) {
    for (int i = 0; i < 4; ++i) file[80 + i] = static_cast<char>((count >> (8 * i)) & 0xFF);
    return file;
}

class HostileInputs : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_NE(library().plain, nullptr) << dlerror(); }
    TempDir dir;
    const std::vector<float> tetra = testing_support::facetCorners(testing_support::tetrahedron());
};

}  // namespace

TEST_F(HostileInputs, TruncatedAndLyingBinaryFilesYieldNoFacet) {
    const std::string whole = binaryStl(tetra);  // 284 bytes, count 4
    const std::string solid = std::string(whole).replace(0, 11, "solid tetra");
    const std::string notStl = "it not stl data...\n";
    // The junk after "solid" has no line feed and the line ends at its first
    // NUL: one line, no vertex, and the file ends on it.
    const std::string asciiJunk = "it ascii_stl\nRead ascii data success!\n";
    struct Case {
        std::string name, bytes, readerLines;
    };
    const Case cases[] = {
        {"one byte short", whole.substr(0, 283), notStl},
        {"header and count only", whole.substr(0, 84), notStl},
        {"cut inside the count", whole.substr(0, 82), notStl},
        {"solid header, one byte short", solid.substr(0, 283), asciiJunk},
        {"solid header, header only", solid.substr(0, 80), asciiJunk},
        {"one byte too many", whole + '\0', notStl},
        {"count 2^32-1", withCount(whole, 0xFFFFFFFFu), notStl},
        {"count 2^32-1, solid header", withCount(solid, 0xFFFFFFFFu), asciiJunk},
        // 84 + 50 * (2^31 + 1) wraps to 134 in 32-bit arithmetic.
        {"count wrapping to the size", withCount(whole.substr(0, 134), 0x80000001u), notStl},
        {"count 2^31 - 1", withCount(whole, 0x7FFFFFFFu), notStl},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        writeFile(dir / "in.stl", c.bytes);
        const Call call = run(dir / "in.stl", dir / "out.stl", 2);
        EXPECT_EQ(call.result, 1);
        EXPECT_EQ(call.transcript, unrefinedTranscript(c.readerLines, 0, 0));
        EXPECT_EQ(readFile(dir / "out.stl"), "solid\nendsolid");
    }
}

TEST_F(HostileInputs, NonFiniteCoordinatesPassThroughEveryStage) {
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inf = std::numeric_limits<float>::infinity();
    const float denormal = std::numeric_limits<float>::denorm_min();
    const float big = std::numeric_limits<float>::max();
    std::vector<float> corners = tetra;
    const std::vector<float> odd = {nan, 0, 0,   0, inf, 0,  0, 0, -inf,        // NaN and infinities
                                    nan, nan, nan, inf, inf, inf, -inf, -inf, -inf,
                                    denormal, -0.0f, 5,  big, -big, 0,  0, big, big};  // none welds to another
    corners.insert(corners.end(), odd.begin(), odd.end());
    writeFile(dir / "in.stl", binaryStl(corners, 0xFF));
    const std::size_t facets = corners.size() / 9;

    const float thresholds[] = {nan, inf, -inf, 0.0f, -1.0f};
    for (int variant = -1; variant < 5; ++variant) {
        const float* threshold = variant < 0 ? nullptr : &thresholds[variant];
        SCOPED_TRACE(variant < 0 ? std::string("plain") : "threshold " + std::to_string(thresholds[variant]));
        const Call call = run(dir / "in.stl", dir / "out.stl", 2, threshold);
        ASSERT_EQ(call.result, 1);
        ASSERT_EQ(lines(call.transcript).back(), "subdivision triangle done!!");
        ASSERT_EQ(countAfter(call.transcript, "total face before: "), static_cast<int>(facets));
        const int faces = countAfter(call.transcript, "total face after: ");
        int iterations = 0;
        while (static_cast<std::size_t>(faces) > facets << (2 * iterations)) ++iterations;
        ASSERT_EQ(static_cast<std::size_t>(faces), facets << (2 * iterations));
        if (!threshold) {
            EXPECT_EQ(iterations, 2);
        }

        // The first child of a face starts at the face's first corner, which
        // keeps its value through every iteration, NaN and infinities too.
        const stlrefine::StlPointList points = readBack(dir / "out.stl");
        ASSERT_EQ(points.size(), 3 * static_cast<std::size_t>(faces));
        const std::size_t children = std::size_t{1} << (2 * iterations);
        for (std::size_t f = 0; f < facets; ++f) {
            const stlrefine::StlPoint& p = points[3 * children * f];
            EXPECT_TRUE(readsBackAs(p.x, corners[9 * f]) && readsBackAs(p.y, corners[9 * f + 1]) &&
                        readsBackAs(p.z, corners[9 * f + 2]))
                << "facet " << f;
        }
    }
}

TEST_F(HostileInputs, AsciiWithBinaryJunkReadsOnlyItsVertexLines) {
    // Junk lines begin with a letter, so they have a token and never stop the
    // parse; their other bytes are anything but a line feed (NUL, CR, 0xFF...).
    using namespace std::string_literals;
    std::mt19937 random(5);
    std::string file = "solid \x01\xff\x7f junk\r\0\x80\n"s;
    auto junkLine = [&] {
        std::string line = "x";
        const int length = static_cast<int>(random() % 200);
        for (int i = 0; i < length; ++i) {
            char c = static_cast<char>(random() % 256);
            if (c == '\n') c = '\0';
            line += c;
        }
        return line + "\n";
    };
    for (std::size_t k = 0; k < tetra.size() / 3; ++k) {
        file += junkLine();
        file += "vertex";
        for (int axis = 0; axis < 3; ++axis) {
            file += ' ';
            file += std::to_string(static_cast<int>(tetra[3 * k + axis]));
        }
        file += "\r\n";
        file += junkLine();
    }
    file += "endsolid";
    writeFile(dir / "junk.stl", file);
    const Call call = run(dir / "junk.stl", dir / "out.stl", 1);
    EXPECT_EQ(call.result, 1);
    EXPECT_EQ(countAfter(call.transcript, "total points before: "), 4);
    EXPECT_EQ(countAfter(call.transcript, "total face after: "), 16);
    EXPECT_EQ(call.transcript.substr(0, 38), "it ascii_stl\nRead ascii data success!\n");
}

TEST_F(HostileInputs, HugeLinesAndTokenCounts) {
    constexpr std::size_t FiftyMegabytes = 50u << 20;
    const std::string corners = "vertex 1 0 0\nvertex 0 1 0\n";
    struct Case {
        std::string name, text;
        std::vector<float> first;  // the first corner, if the file has one
    };
    const Case cases[] = {
        {"one 50 MB token", "solid " + std::string(FiftyMegabytes, 'x'), {}},
        {"a 50 MB number overflows", "solid\nvertex 1" + std::string(FiftyMegabytes, '0') + " 2 3\n" + corners,
         {std::numeric_limits<float>::infinity(), 2, 3}},
        {"a 50 MB number underflows", "solid\nvertex 0." + std::string(FiftyMegabytes, '0') + "1 2 3\n" + corners,
         {0, 2, 3}},
        {"a 50 MB exponent", "solid\nvertex 1e-" + std::string(FiftyMegabytes, '9') + " 2 3\n" + corners,
         {0, 2, 3}},
        {"50 MB of blanks", "solid\nvertex" + std::string(FiftyMegabytes, ' ') + "4 5 6\n" + corners, {4, 5, 6}},
        {"50 MB of hexadecimal digits", "solid\nvertex 0x" + std::string(FiftyMegabytes, 'f') + " 2 3\n" + corners,
         {std::numeric_limits<float>::infinity(), 2, 3}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        writeFile(dir / "big.stl", c.text);
        const Call call = run(dir / "big.stl", dir / "out.stl", 0);
        EXPECT_EQ(call.result, 1);
        const stlrefine::StlPointList points = readBack(dir / "out.stl");
        ASSERT_EQ(points.size(), c.first.empty() ? 0u : 3u);
        if (!c.first.empty()) {
            EXPECT_TRUE(sameBits(points[0].x, c.first[0]) && sameBits(points[0].y, c.first[1]) &&
                    sameBits(points[0].z, c.first[2]));
        }
    }

    // Millions of tokens: on a vertex line (all but three ignored) and on
    // lines that are not vertex lines.
    std::string many = "solid\nvertex 7 8 9";
    for (int i = 0; i < 3'000'000; ++i) many += " 1";
    many += "\nfacet";
    for (int i = 0; i < 3'000'000; ++i) many += " a";
    many += "\n" + corners + "endsolid";
    writeFile(dir / "many.stl", many);
    const Call call = run(dir / "many.stl", dir / "out.stl", 1);
    EXPECT_EQ(call.result, 1);
    EXPECT_EQ(countAfter(call.transcript, "total face after: "), 4);
    const stlrefine::StlPointList points = readBack(dir / "out.stl");
    ASSERT_EQ(points.size(), 12u);
    EXPECT_EQ(points[0].x, 7);
    EXPECT_EQ(points[0].z, 9);
}

TEST_F(HostileInputs, LargestIterationCountStopsAtTheVertexLimit) {
    writeFile(dir / "tetra.stl", binaryStl(tetra));
    // Iterations go on until the mesh has more than 50000 vertices: 4, 10,
    // 34, 130, 514, 2050, 8194, 32770, then 131074 vertices and 4 * 4^8 faces.
    const Call most = run(dir / "tetra.stl", dir / "out.stl", INT_MAX);
    EXPECT_EQ(most.result, 1);
    EXPECT_EQ(countAfter(most.transcript, "total points after: "), 131074);
    EXPECT_EQ(countAfter(most.transcript, "total face after: "), 4 << 16);
}

// The command-line program, in a child whose address space is limited, on a
// sparse file whose size matches a facet count far beyond that limit.
TEST_F(HostileInputs, MemoryExhaustionEndsTheCallCleanly) {
    if (Sanitized) GTEST_SKIP() << "sanitizers need a large address space";
    struct Case {
        std::string name;
        std::uint32_t count;
        rlim_t addressSpace;
        bool failsInReader;
    };
    const Case cases[] = {
        {"count 2^32-1: 215 GB", 0xFFFFFFFFu, rlim_t{1} << 30, true},
        {"1 GB of facets", 20'000'000u, rlim_t{512} << 20, true},
        // The reader manages, a later stage runs out.
        {"200 MB of facets", 4'000'000u, rlim_t{700} << 20, false},
    };
    const std::string errorLine = "error: out of memory, mesh not refined";
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const auto in = dir / "sparse.stl", out = dir / "never.stl", transcriptFile = dir / "stdout.txt";
        writeFile(in, withCount(std::string(84, '\0'), c.count));
        if (truncate(in.c_str(), static_cast<off_t>(84 + 50 * std::uint64_t{c.count})) != 0) {
            GTEST_SKIP() << "no sparse file of that size here: " << std::strerror(errno);
        }

        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            const rlimit limit{c.addressSpace, c.addressSpace};
            const int fd = open(transcriptFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            if (fd < 0 || dup2(fd, 1) < 0 || setrlimit(RLIMIT_AS, &limit) != 0) _exit(99);
            execl(STLREFINE_CLI_PATH, STLREFINE_CLI_PATH, in.c_str(), out.c_str(), "-n", "1",
                  static_cast<char*>(nullptr));
            _exit(98);
        }
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        ASSERT_TRUE(WIFEXITED(status)) << "ended by signal " << WTERMSIG(status);
        EXPECT_EQ(WEXITSTATUS(status), 1);  // the library's result 0
        const std::vector<std::string> printed = lines(readFile(transcriptFile));
        ASSERT_GE(printed.size(), 2u);
        EXPECT_EQ(printed.front(), "it binary_stl !!");
        EXPECT_EQ(printed.back(), errorLine);
        EXPECT_EQ(std::count(printed.begin(), printed.end(), errorLine), 1);
        if (c.failsInReader) {
            EXPECT_EQ(printed.size(), 2u);
        } else {  // the reader and the welding finished
            ASSERT_GT(printed.size(), 3u);
            EXPECT_EQ(printed[1], "Read binary file success!");
            EXPECT_EQ(printed[2], "start subdivision sorting");
        }
        EXPECT_FALSE(std::filesystem::exists(out));
        std::filesystem::remove(in);
    }
}
