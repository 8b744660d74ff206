// Whole calls through the shared library, as a host makes them: loaded with
// dlopen, called through the exported C functions, standard output captured.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <clocale>
#include <filesystem>
#include <iostream>
#include <limits>
#include <locale>
#include <string>

#include "support/files.h"
#include "support/library.h"
#include "support/meshes.h"

using namespace testing_support;

namespace {

std::string transcript(const std::string& readerLines, int pointsBefore, int facesBefore,
                       const std::string& heightLines, int pointsAfter, int facesAfter,
                       const std::string& writerLine = "stl file: output success!!\n") {
    return readerLines + "start subdivision sorting\nsubdivision sorting success!\ntotal points before: " +
           std::to_string(pointsBefore) + "\ntotal face before: " + std::to_string(facesBefore) +
           "\nstart doing subdivision...\n" + heightLines + "doing subdivision success!\ntotal points after: " +
           std::to_string(pointsAfter) + "\ntotal face after: " + std::to_string(facesAfter) +
           "\nstart output ascii stl file...\n" + writerLine +
           "output ascii stl file success\nsubdivision triangle done!!\n";
}

const std::string BinaryLines = "it binary_stl !!\nRead binary file success!\n";

std::size_t count(const std::string& text, const std::string& word) {
    std::size_t n = 0;
    for (std::size_t at = text.find(word); at != std::string::npos; at = text.find(word, at + 1)) ++n;
    return n;
}

class ApiTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_NE(library().plain, nullptr) << dlerror();
        ASSERT_NE(library().height, nullptr);
        writeFile(tetra, binaryStl(facetCorners(tetrahedron())));
    }
    TempDir dir;
    std::filesystem::path tetra = dir / "tetra.stl";
};

}  // namespace

TEST_F(ApiTest, TetrahedronTranscripts) {
    const float half = 0.5f, one = 1.0f, two = 2.0f, nan = std::numeric_limits<float>::quiet_NaN();
    const std::string line = "-------max hight in triangles: ";
    const struct Case { int iterations; const float* threshold; std::string heights; int points, faces; } cases[] = {
        {-3, nullptr, "", 4, 4}, {0, nullptr, "", 4, 4}, {1, nullptr, "", 10, 16}, {2, nullptr, "", 34, 64},
        {5, &half, line + "2------\n" + line + "1------\n" + line + "0.5------\n", 34, 64},
        {5, &one, line + "2------\n" + line + "1------\n", 10, 16},
        {5, &two, line + "2------\n", 4, 4}, {5, &nan, line + "2------\n", 4, 4},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.iterations) + (c.threshold ? ", " + std::to_string(*c.threshold) : ""));
        const Call call = callCaptured(tetra, dir / "out.stl", c.iterations, c.threshold);
        EXPECT_EQ(call.result, 1);
        EXPECT_EQ(call.transcript, transcript(BinaryLines, 4, 4, c.heights, c.points, c.faces));
        const std::string written = readFile(dir / "out.stl");
        EXPECT_EQ(count(written, "facet normal"), static_cast<std::size_t>(c.faces));
        EXPECT_EQ(written.substr(0, 6), "solid\n");
        EXPECT_EQ(written.substr(written.size() - 9), "\nendsolid");
    }
}

TEST_F(ApiTest, MissingInputAndUnwritableOutput) {
    const float half = 0.5f;
    const auto never = dir / "never.stl";
    for (const auto& input : {dir / "missing.stl", dir.path()}) {
        for (const Call& call : {callCaptured(input, never, 1), callCaptured(input, never, 1, &half)}) {
            EXPECT_EQ(call.result, 0);
            EXPECT_EQ(call.transcript, "I/O fail\n");
        }
        EXPECT_FALSE(std::filesystem::exists(never));
    }
    const std::string expected = transcript(BinaryLines, 4, 4, "", 10, 16, "- Error, unable open file to save\n");
    for (const auto& out : {dir / "no-such-dir" / "out.stl", dir.path()}) {
        const Call call = callCaptured(tetra, out, 1);
        EXPECT_EQ(call.result, 1);
        EXPECT_EQ(call.transcript, expected);
    }
    // Null paths name no file: no crash, the same results.
    int result = -1;
    EXPECT_EQ(captureStdout([&] { result = library().plain(nullptr, nullptr, 1); }), "I/O fail\n");
    EXPECT_EQ(result, 0);
    const std::wstring in = testing_support::widePath(tetra);
    EXPECT_EQ(captureStdout([&] { result = library().plain(in.c_str(), nullptr, 1); }), expected);
    EXPECT_EQ(result, 1);
}

TEST_F(ApiTest, InputsWithoutAFacetGiveAnEmptySolid) {
    const std::string whole = binaryStl(facetCorners(tetrahedron()));  // 284 bytes, count 4
    const std::string solid = std::string(whole).replace(0, 11, "solid tetra");
    const std::string notStl = "it not stl data...\n", ascii = "it ascii_stl\nRead ascii data success!\n";
    const std::pair<std::string, std::string> cases[] = {
        {"", notStl}, {"hello world\n", notStl}, {binaryStl({}), BinaryLines},
        {"solid\nvertex 1 2 3\nvertex 4 5 6\nendsolid", ascii}, {whole.substr(0, 283), notStl},
        {whole.substr(0, 82), notStl}, {solid.substr(0, 283), ascii}, {withFacetCount(whole, 0xFFFFFFFFu), notStl},
        // 84 + 50 * (2^31 + 1) wraps to 134 in 32-bit arithmetic.
        {withFacetCount(whole.substr(0, 134), 0x80000001u), notStl},
    };
    for (const auto& [bytes, readerLines] : cases) {
        SCOPED_TRACE(bytes.size());
        writeFile(dir / "in.stl", bytes);
        const Call call = callCaptured(dir / "in.stl", dir / "out.stl", 3);
        EXPECT_EQ(call.result, 1);
        EXPECT_EQ(call.transcript, transcript(readerLines, 0, 0, "", 0, 0));
        EXPECT_EQ(readFile(dir / "out.stl"), "solid\nendsolid");
    }
}

TEST_F(ApiTest, NonAsciiPathsWithSpacesAndOutputReplacingTheInput) {
    const auto in = dir / "m\u00e9sh \u6f22\u5b57 \U0001F600.stl", out = dir / "r\u00e9sultat final.stl";
    std::filesystem::copy_file(tetra, in);
    EXPECT_EQ(callCaptured(in, out, 1).result, 1);
    EXPECT_EQ(count(readFile(out), "endfacet"), 16u);
    // Our own output read back: ASCII this time, same mesh refined again.
    EXPECT_EQ(callCaptured(out, out, 1).result, 1);
    EXPECT_EQ(count(readFile(out), "endfacet"), 64u);
}

TEST_F(ApiTest, HostLocaleDoesNotChangeAnyByte) {
    // Counts in the thousands would show digit grouping; coordinates have decimals.
    const auto torusFile = dir / "torus.stl";
    writeFile(torusFile, binaryStl(facetCorners(torus(40, 30))));
    const Call reference = callCaptured(torusFile, dir / "c.stl", 1);
    const char* chosen = nullptr;
    for (const char* name : {"de_DE.UTF-8", "de_DE.utf8", "fr_FR.UTF-8", "de_DE"}) {
        if (!chosen && std::setlocale(LC_ALL, name)) chosen = name;
    }
    if (!chosen) GTEST_SKIP() << "no locale with a decimal comma is installed";
    std::locale previous = std::locale::global(std::locale(chosen));
    std::locale coutLocale = std::cout.imbue(std::locale(chosen));
    const Call localised = callCaptured(torusFile, dir / "de.stl", 1);
    std::cout.imbue(coutLocale);
    std::locale::global(previous);
    std::setlocale(LC_ALL, "C");
    EXPECT_EQ(localised.transcript, reference.transcript);
    EXPECT_EQ(readFile(dir / "de.stl"), readFile(dir / "c.stl"));
}
