// Whole calls through the shared library, as a host makes them: loaded with
// dlopen, called through the exported C functions, standard output captured.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <clocale>
#include <cmath>
#include <filesystem>
#include <iostream>
#include <locale>
#include <limits>
#include <sstream>
#include <string>
#include <vector>

#include "mesh/mesh.h"
#include "stl/stl.h"
#include "subdivision/subdivision.h"
#include "support/files.h"
#include "support/library.h"
#include "support/meshes.h"

using testing_support::binaryStl;
using testing_support::captureStdout;
using testing_support::readFile;
using testing_support::TempDir;
using testing_support::writeFile;

namespace {

using testing_support::Call;
using testing_support::library;

Call callPlain(const std::filesystem::path& in, const std::filesystem::path& out, int iterations) {
    return testing_support::callCaptured(in, out, iterations);
}

Call callHeight(const std::filesystem::path& in, const std::filesystem::path& out, int iterations,
                float threshold) {
    return testing_support::callCaptured(in, out, iterations, &threshold);
}

std::string transcript(const std::string& readerLines, int pointsBefore, int facesBefore,
                       const std::string& heightLines, int pointsAfter, int facesAfter,
                       const std::string& writerLine = "stl file: output success!!\n") {
    std::ostringstream text;
    text << readerLines << "start subdivision sorting\nsubdivision sorting success!\n"
         << "total points before: " << pointsBefore << "\ntotal face before: " << facesBefore
         << "\nstart doing subdivision...\n"
         << heightLines << "doing subdivision success!\n"
         << "total points after: " << pointsAfter << "\ntotal face after: " << facesAfter
         << "\nstart output ascii stl file...\n"
         << writerLine << "output ascii stl file success\nsubdivision triangle done!!\n";
    return text.str();
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
        tetra = dir / "tetra.stl";
        writeFile(tetra, binaryStl(testing_support::facetCorners(testing_support::tetrahedron())));
    }
    TempDir dir;
    std::filesystem::path tetra;
};

}  // namespace

TEST_F(ApiTest, TetrahedronTranscripts) {
    const float half = 0.5f, one = 1.0f, two = 2.0f, nan = std::numeric_limits<float>::quiet_NaN();
    const std::string line = "-------max hight in triangles: ";
    struct Case {
        int iterations;
        const float* threshold;
        std::string heights;
        int points, faces;
    };
    const Case cases[] = {
        {-3, nullptr, "", 4, 4}, {0, nullptr, "", 4, 4}, {1, nullptr, "", 10, 16}, {2, nullptr, "", 34, 64},
        {5, &half, line + "2------\n" + line + "1------\n" + line + "0.5------\n", 34, 64},
        {5, &one, line + "2------\n" + line + "1------\n", 10, 16},
        {5, &two, line + "2------\n", 4, 4}, {5, &nan, line + "2------\n", 4, 4},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.iterations) + (c.threshold ? ", " + std::to_string(*c.threshold) : ""));
        const Call call = testing_support::callCaptured(tetra, dir / "out.stl", c.iterations, c.threshold);
        EXPECT_EQ(call.result, 1);
        EXPECT_EQ(call.transcript, transcript(BinaryLines, 4, 4, c.heights, c.points, c.faces));
        const std::string written = readFile(dir / "out.stl");
        EXPECT_EQ(count(written, "facet normal"), static_cast<std::size_t>(c.faces));
        EXPECT_EQ(written.substr(0, 6), "solid\n");
        EXPECT_EQ(written.substr(written.size() - 9), "\nendsolid");
    }
}

TEST_F(ApiTest, MissingInputPrintsOnlyIoFailAndCreatesNoOutput) {
    for (const auto& input : {dir / "missing.stl", dir.path()}) {
        const auto out = dir / "never.stl";
        for (const Call& call : {callPlain(input, out, 1), callHeight(input, out, 1, 0.5f)}) {
            EXPECT_EQ(call.result, 0);
            EXPECT_EQ(call.transcript, "I/O fail\n");
        }
        EXPECT_FALSE(std::filesystem::exists(out));
    }
    int result = -1;
    EXPECT_EQ(captureStdout([&] { result = library().plain(nullptr, nullptr, 1); }), "I/O fail\n");
    EXPECT_EQ(result, 0);
}

TEST_F(ApiTest, UnwritableOrNullOutputStillReturnsOne) {
    const std::string expected = transcript(BinaryLines, 4, 4, "", 10, 16, "- Error, unable open file to save\n");
    for (const auto& out : {dir / "no-such-dir" / "out.stl", dir.path()}) {
        const Call call = callPlain(tetra, out, 1);
        EXPECT_EQ(call.result, 1);
        EXPECT_EQ(call.transcript, expected);
    }
    int result = -1;
    const std::wstring in = testing_support::widePath(tetra);
    EXPECT_EQ(captureStdout([&] { result = library().plain(in.c_str(), nullptr, 1); }), expected);
    EXPECT_EQ(result, 1);
}

TEST_F(ApiTest, InputsWithoutAFacetGiveAnEmptySolid) {
    struct Case {
        std::string name, bytes, readerLines;
    };
    const Case cases[] = {
        {"empty.stl", "", "it not stl data...\n"},
        {"text.stl", "hello world\n", "it not stl data...\n"},
        {"zero.stl", binaryStl({}), BinaryLines},
        {"two-corners.stl", "solid\nvertex 1 2 3\nvertex 4 5 6\nendsolid", "it ascii_stl\nRead ascii data success!\n"},
    };
    for (const Case& c : cases) {
        writeFile(dir / c.name, c.bytes);
        const Call call = callPlain(dir / c.name, dir / "out.stl", 3);
        EXPECT_EQ(call.result, 1) << c.name;
        EXPECT_EQ(call.transcript, transcript(c.readerLines, 0, 0, "", 0, 0)) << c.name;
        EXPECT_EQ(readFile(dir / "out.stl"), "solid\nendsolid") << c.name;
    }
}

TEST_F(ApiTest, NonAsciiPathsWithSpaces) {
    const auto in = dir / "m\u00e9sh \u6f22\u5b57 \U0001F600.stl", out = dir / "r\u00e9sultat final.stl";
    std::filesystem::copy_file(tetra, in);
    EXPECT_EQ(callPlain(in, out, 1).result, 1);
    EXPECT_EQ(count(readFile(out), "endfacet"), 16u);
}

TEST_F(ApiTest, OutputMayReplaceTheInput) {
    const auto path = dir / "inplace.stl";
    std::filesystem::copy_file(tetra, path);
    ASSERT_EQ(callPlain(path, path, 1).result, 1);
    EXPECT_EQ(count(readFile(path), "endfacet"), 16u);
    // Our own output read back: ASCII this time, same mesh refined again.
    const Call again = callPlain(path, path, 1);
    EXPECT_EQ(again.result, 1);
    EXPECT_EQ(count(readFile(path), "endfacet"), 64u);
}

namespace {

// The output of the stages run one by one, each into arrays of its own: the
// reference for a whole call, which shares and reuses memory between them.
std::string stagesOneByOne(const std::filesystem::path& in, const std::filesystem::path& out,
                           int iterations, const float* heightThreshold) {
    using namespace stlrefine;
    captureStdout([&] {
        StlPointList points;
        readStlFile(points, testing_support::widePath(in));
        std::vector<float> corners;
        for (const StlPoint& p : points) corners.insert(corners.end(), {p.x, p.y, p.z});
        VertexArray vertices;
        FaceIndexArray faces;
        std::int32_t vertexCount = 0, faceCount = 0;
        weldVertices(corners.data(), static_cast<std::int32_t>(points.size()), vertices,
                     vertexCount, faces, faceCount);
        vertexCount *= 3;
        faceCount *= 3;
        if (heightThreshold) {
            subdivideMeshHeightLimited(iterations, vertexCount, vertices, faceCount, faces,
                                       *heightThreshold);
        } else {
            subdivideMesh(iterations, vertexCount, vertices, faceCount, faces);
        }
        faceCount /= 3;
        NormalArray normals;
        computeFaceNormals(vertices, faces, faceCount, normals);
        const FacetCornerArray facets = expandFacets(vertices, faces, faceCount);
        writeAsciiStl(testing_support::widePath(out), facets.get(), 3 * faceCount, normals.get());
    });
    return readFile(out);
}

}  // namespace

TEST_F(ApiTest, OutputEqualsTheStagesRunOneByOne) {
    // Meshes that are refined, that stay as they are (no iteration asked, or
    // too many vertices for one), and that end in an unfinished facet.
    writeFile(dir / "torus.stl",
              binaryStl(testing_support::facetCorners(testing_support::torus(260, 200))));
    writeFile(dir / "seven.stl",
              "solid\nvertex 0 0 0\nvertex 1 0 0\nvertex 0 1 0\nvertex 1 1 0\nvertex 0 1 0\n"
              "vertex 1 0 0\nvertex 0.5 0.5 1\nendsolid");
    const float low = 0.25f;
    struct Case {
        std::filesystem::path input;
        int iterations;
        const float* heightThreshold;
    };
    const Case cases[] = {
        {tetra, 0, nullptr},           {tetra, 2, nullptr},
        {tetra, 3, &low},              {dir / "torus.stl", 1, nullptr},
        {dir / "torus.stl", 0, &low},  {dir / "seven.stl", 0, nullptr},
        {dir / "seven.stl", 1, nullptr},
    };
    for (const Case& c : cases) {
        const std::string what = c.input.filename().string() + ", " + std::to_string(c.iterations);
        const Call call = testing_support::callCaptured(c.input, dir / "call.stl", c.iterations, c.heightThreshold);
        ASSERT_EQ(call.result, 1) << what;
        EXPECT_EQ(readFile(dir / "call.stl"),
                  stagesOneByOne(c.input, dir / "stages.stl", c.iterations, c.heightThreshold))
            << what;
    }
}

TEST_F(ApiTest, HostLocaleDoesNotChangeAnyByte) {
    // Counts in the thousands would show digit grouping, and the torus has
    // coordinates with decimals.
    const auto torus = dir / "torus.stl";
    writeFile(torus, binaryStl(testing_support::facetCorners(testing_support::torus(40, 30))));
    const Call reference = callPlain(torus, dir / "c.stl", 1);
    const char* chosen = nullptr;
    for (const char* name : {"de_DE.UTF-8", "de_DE.utf8", "fr_FR.UTF-8", "de_DE"}) {
        if (!chosen && std::setlocale(LC_ALL, name)) chosen = name;
    }
    if (!chosen) GTEST_SKIP() << "no locale with a decimal comma is installed";
    std::locale previous = std::locale::global(std::locale(chosen));
    std::locale coutLocale = std::cout.imbue(std::locale(chosen));
    const Call localised = callPlain(torus, dir / "de.stl", 1);
    std::cout.imbue(coutLocale);
    std::locale::global(previous);
    std::setlocale(LC_ALL, "C");
    EXPECT_EQ(localised.transcript, reference.transcript);
    EXPECT_EQ(readFile(dir / "de.stl"), readFile(dir / "c.stl"));
}
