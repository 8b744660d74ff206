// writeAsciiStl: exact bytes and the console lines (independence from the
// process locale is checked on whole calls in test_api). The reference is the
// same text produced the slow, literal way: a std::ostringstream in the
// classic locale, one operator<< per number.
#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <limits>
#include <locale>
#include <sstream>
#include <string>
#include <vector>

#include "stl/stl.h"
#include "support/files.h"
#include "support/meshes.h"

namespace {

using testing_support::TempDir;

// The file content written literally: corner k opens a facet when k % 3 == 0
// and closes one when k % 3 == 2.
std::string streamReference(const std::vector<float>& corners, std::int32_t cornerCount,
                            const std::vector<float>& normals) {
    std::ostringstream out;
    out.imbue(std::locale::classic());
    out << "solid\n";
    for (std::int32_t k = 0; k < cornerCount; ++k) {
        if (k % 3 == 0) {
            const std::size_t f = static_cast<std::size_t>(k / 3);
            out << "facet normal " << normals[3 * f] << ' ' << normals[3 * f + 1] << ' ' << normals[3 * f + 2]
                << "\nouter loop\n";
        }
        const std::size_t c = 3 * static_cast<std::size_t>(k);
        out << "vertex " << corners[c] << ' ' << corners[c + 1] << ' ' << corners[c + 2] << "\n";
        if (k % 3 == 2) out << "endloop\nendfacet\n";
    }
    out << "endsolid";
    return out.str();
}

// Writes and returns what reached standard output.
std::string write(const std::filesystem::path& path, const std::vector<float>& corners, std::int32_t cornerCount,
                  const std::vector<float>& normals) {
    return testing_support::captureStdout([&] {
        stlrefine::writeAsciiStl(testing_support::widePath(path), corners.data(), cornerCount, normals.data());
    });
}

constexpr const char* SuccessLine = "stl file: output success!!\n";

// A refined-torus-like facet list with normals that cover every kind of
// float (subnormals, NaN payloads, infinities, both zeros), so that the
// numbers cross many buffer blocks in all their shapes.
struct Facets {
    std::vector<float> corners;
    std::vector<float> normals;
    std::int32_t cornerCount() const { return static_cast<std::int32_t>(corners.size() / 3); }
};

Facets torusFacets(int rings, int sides) {
    Facets facets;
    facets.corners = testing_support::facetCorners(testing_support::torus(rings, sides));
    std::uint32_t state = 2463534242u;
    for (std::size_t i = 0; i < facets.corners.size() / 3; ++i) {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        facets.normals.push_back(i % 4 == 0 ? std::bit_cast<float>(state) : static_cast<float>(state) * 0x1p-31f - 1.0f);
    }
    return facets;
}

TEST(AsciiWriter, WorkedExampleAndEmptyFrame) {
    TempDir dir;
    EXPECT_EQ(write(dir / "one.stl", {0, 0, 0, 1, 0, 0, 0, 1, 0}, 3, {0, 0, 1}), SuccessLine);
    EXPECT_EQ(testing_support::readFile(dir / "one.stl"),
              "solid\nfacet normal 0 0 1\nouter loop\nvertex 0 0 0\nvertex 1 0 0\nvertex 0 1 0\n"
              "endloop\nendfacet\nendsolid");
    // No corners: only the frame, and an existing longer file is replaced.
    testing_support::writeFile(dir / "old.stl", std::string(100000, 'x'));
    EXPECT_EQ(write(dir / "old.stl", {}, 0, {}), SuccessLine);
    EXPECT_EQ(testing_support::readFile(dir / "old.stl"), "solid\nendsolid");
}

// One facet whose normal is (v, -v, 0) and whose corners are all (v, v, v).
// The number texts themselves are covered by the float formatting tests.
TEST(AsciiWriter, NumberTexts) {
    volatile float zero = 0.0f;
    const float zeroAreaNaN = zero / zero;  // what a degenerate face's normal holds
    char zeroAreaText[16];
    std::snprintf(zeroAreaText, sizeof zeroAreaText, "%g", static_cast<double>(zeroAreaNaN));
    const struct {
        float value;
        std::string text;
        std::string negated;
    } cases[] = {
        {std::numeric_limits<float>::quiet_NaN(), "nan", "-nan"},
        {zeroAreaNaN, zeroAreaText, zeroAreaText[0] == '-' ? zeroAreaText + 1 : std::string("-") + zeroAreaText},
        {std::numeric_limits<float>::infinity(), "inf", "-inf"},
        {0.0f, "0", "-0"},
        {2.7182818f, "2.71828", "-2.71828"},
        {1000000.0f, "1e+06", "-1e+06"},
        {0.00009f, "9e-05", "-9e-05"},
        {1.5e-39f, "1.5e-39", "-1.5e-39"},
    };
    TempDir dir;
    for (const auto& c : cases) {
        const float v = c.value;
        write(dir / "n.stl", {v, v, v, v, v, v, v, v, v}, 3, {v, -v, 0.0f});
        const std::string vertex = "vertex " + c.text + " " + c.text + " " + c.text + "\n";
        EXPECT_EQ(testing_support::readFile(dir / "n.stl"),
                  "solid\nfacet normal " + c.text + " " + c.negated + " 0\nouter loop\n" + vertex + vertex + vertex +
                      "endloop\nendfacet\nendsolid")
            << c.text;
    }
}

TEST(AsciiWriter, ManyBlocksMatchStreamOutput) {
    const Facets facets = torusFacets(200, 100);  // 40,000 facets, about 8 MB of text
    TempDir dir;
    EXPECT_EQ(write(dir / "torus.stl", facets.corners, facets.cornerCount(), facets.normals), SuccessLine);
    const std::string text = testing_support::readFile(dir / "torus.stl");
    EXPECT_GT(text.size(), std::size_t{4} << 20);
    ASSERT_TRUE(text == streamReference(facets.corners, facets.cornerCount(), facets.normals));
    EXPECT_EQ(text.substr(text.size() - 9), "\nendsolid");
}

TEST(AsciiWriter, RepeatedCornersGetTheirOwnText) {
    // Exact repeats at short and long distances among many distinct corners;
    // values that differ only in bits (both zeros, NaN payloads) keep their
    // own text, and the all-zero corner comes first.
    const std::uint32_t specials[] = {0x00000000, 0x80000000, 0xFFFFFFFF, 0x7FC00000, 0xFFC00001,
                                      0x7F800000, 0xFF800000, 0x00000001, 0x3F800000, 0x3F800001};
    const float allOnes = std::bit_cast<float>(0xFFFFFFFFu);
    std::vector<float> corners = {0, 0, 0, -0.0f, 0, 0, allOnes, allOnes, allOnes, allOnes, 0, 0};
    std::uint32_t state = 12345;
    const auto next = [&state] {
        state = state * 1664525u + 1013904223u;
        return state >> 8;
    };
    while (corners.size() < 3 * 60000) {
        const std::size_t corner = corners.size() / 3;
        if (corner > 10 && next() % 2 == 0) {
            const std::size_t distance = next() % 3 == 0 ? 1 + next() % 20000 : 1 + next() % 8;
            const std::size_t earlier = corner - 1 - std::min(distance - 1, corner - 1);
            for (int a = 0; a < 3; ++a) corners.push_back(corners[3 * earlier + std::size_t(a)]);
            continue;
        }
        for (int a = 0; a < 3; ++a) {
            const std::uint32_t pick = next();
            corners.push_back(pick % 4 == 0 ? std::bit_cast<float>(specials[pick / 4 % std::size(specials)])
                                            : static_cast<float>(pick % 2000) * 0.37f - 300.0f);
        }
    }
    const std::vector<float> normals(corners.size() / 3, 0.5f);
    const auto count = static_cast<std::int32_t>(corners.size() / 3);
    TempDir dir;
    write(dir / "repeats.stl", corners, count, normals);
    ASSERT_TRUE(testing_support::readFile(dir / "repeats.stl") == streamReference(corners, count, normals));
}

// The count decides the layout, not the array: an unfinished facet gets its
// opening lines and its corners but no closing lines.
TEST(AsciiWriter, CornerCountNotAMultipleOfThree) {
    const Facets facets = torusFacets(4, 3);
    TempDir dir;
    for (const std::int32_t count : {1, 2, 4, 5, 7}) {
        write(dir / "partial.stl", facets.corners, count, facets.normals);
        EXPECT_EQ(testing_support::readFile(dir / "partial.stl"), streamReference(facets.corners, count, facets.normals))
            << count;
    }
}

TEST(AsciiWriter, UnopenablePathPrintsErrorAndCreatesNothing) {
    TempDir dir;
    const std::filesystem::path missing = dir / "no-such-dir" / "out.stl";
    EXPECT_EQ(write(missing, {0, 0, 0, 1, 0, 0, 0, 1, 0}, 3, {0, 0, 1}), "- Error, unable open file to save\n");
    EXPECT_FALSE(std::filesystem::exists(missing));
    EXPECT_FALSE(std::filesystem::exists(dir / "no-such-dir"));
    // A directory cannot be opened as the output file either.
    EXPECT_EQ(write(dir.path(), {}, 0, {}), "- Error, unable open file to save\n");
}

}  // namespace
