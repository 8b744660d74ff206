// writeAsciiStl: exact bytes and console lines; reference: a classic-locale std::ostringstream.
#include <gtest/gtest.h>
#include <bit>
#include <cstdint>
#include <filesystem>
#include <locale>
#include <sstream>
#include <string>
#include <vector>
#include "stl/stl.h"
#include "support/files.h"
#include "support/meshes.h"

namespace {

using namespace testing_support;

std::string streamReference(const std::vector<float>& corners, std::int32_t count, const std::vector<float>& normals) {
    std::ostringstream out;
    out.imbue(std::locale::classic());
    out << "solid\n";
    for (std::size_t k = 0; k < static_cast<std::size_t>(count); ++k) {
        if (k % 3 == 0)
            out << "facet normal " << normals[k] << ' ' << normals[k + 1] << ' ' << normals[k + 2] << "\nouter loop\n";
        out << "vertex " << corners[3 * k] << ' ' << corners[3 * k + 1] << ' ' << corners[3 * k + 2] << "\n";
        if (k % 3 == 2) out << "endloop\nendfacet\n";
    }
    out << "endsolid";
    return out.str();
}

std::string write(const std::filesystem::path& path, const std::vector<float>& corners, std::int32_t count,
                  const std::vector<float>& normals) {
    return captureStdout([&] { stlrefine::writeAsciiStl(widePath(path), corners.data(), count, normals.data()); });
}

constexpr const char *SuccessLine = "stl file: output success!!\n", *ErrorLine = "- Error, unable open file to save\n";

TEST(AsciiWriter, WorkedExampleEmptyFrameAndReplacement) {
    TempDir dir;
    EXPECT_EQ(write(dir / "one.stl", {0, 0, 0, 1, 0, 0, 0, 1, 0}, 3, {0, 0, 1}), SuccessLine);
    EXPECT_EQ(readFile(dir / "one.stl"), "solid\nfacet normal 0 0 1\nouter loop\nvertex 0 0 0\nvertex 1 0 0\nvertex 0 1 0\n"
                                         "endloop\nendfacet\nendsolid");
    writeFile(dir / "old.stl", std::string(100000, 'x'));
    EXPECT_EQ(write(dir / "old.stl", {}, 0, {}), SuccessLine);
    EXPECT_EQ(readFile(dir / "old.stl"), "solid\nendsolid");
}

TEST(AsciiWriter, UnopenablePathPrintsErrorAndCreatesNothing) {
    TempDir dir;
    EXPECT_EQ(write(dir / "no-such-dir" / "out.stl", {0, 0, 0, 1, 0, 0, 0, 1, 0}, 3, {0, 0, 1}), ErrorLine);
    EXPECT_FALSE(std::filesystem::exists(dir / "no-such-dir"));
    EXPECT_EQ(write(dir.path(), {}, 0, {}), ErrorLine);
}

// Torus corners (exact repeats at many distances) after corners that differ
// only in bits (both zeros, NaN payloads); every fourth normal is a random bit
// pattern, so the numbers cross many buffer blocks in all their shapes.
TEST(AsciiWriter, ManyBlocksAndPartialFacetsMatchStreamOutput) {
    const float nanA = std::bit_cast<float>(0xFFFFFFFFu), nanB = std::bit_cast<float>(0x7FC00000u);
    std::vector<float> corners = {0, 0, 0, -0.0f, 0, 0, nanA, nanA, nanA, nanB, 0, -0.0f, 0, 0, 0, nanA, nanB, 0};
    const std::vector<float> ring = facetCorners(torus(200, 100));
    corners.insert(corners.end(), ring.begin(), ring.end());
    std::vector<float> normals;
    for (std::uint32_t i = 0, state = 2463534242u; i < corners.size() / 3; ++i) {
        state ^= state << 13, state ^= state >> 17, state ^= state << 5;
        normals.push_back(i % 4 == 0 ? std::bit_cast<float>(state) : static_cast<float>(state) * 0x1p-31f - 1.0f);
    }
    TempDir dir;
    for (const auto count : {static_cast<std::int32_t>(corners.size() / 3), 1, 2, 4, 5, 7}) {
        EXPECT_EQ(write(dir / "out.stl", corners, count, normals), SuccessLine);
        ASSERT_TRUE(readFile(dir / "out.stl") == streamReference(corners, count, normals)) << count;
    }
}

}  // namespace
