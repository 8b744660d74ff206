// The ASCII writer: exact bytes; reference: a classic-locale std::ostringstream.
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

// The text the writer gives for `facets` facets, through a real output file.
std::string write(const std::filesystem::path& path, const std::vector<float>& corners, std::size_t facets,
                  const std::vector<float>& normals) {
    stlrefine::platform::OutputFile output;
    EXPECT_TRUE(output.open(widePath(path), stlrefine::platform::OutputFile::Mode::Text));
    stlrefine::StlWriter writer(output, stlrefine::StlFormat::Ascii, static_cast<std::uint32_t>(facets));
    EXPECT_TRUE(writer.writeFacets(corners.data(), normals.data(), facets) && writer.finish() && output.commit());
    return readFile(path);
}

TEST(AsciiWriter, WorkedExampleAndEmptyFrame) {
    TempDir dir;
    EXPECT_EQ(write(dir / "one.stl", {0, 0, 0, 1, 0, 0, 0, 1, 0}, 1, {0, 0, 1}),
              "solid\nfacet normal 0 0 1\nouter loop\nvertex 0 0 0\nvertex 1 0 0\nvertex 0 1 0\n"
              "endloop\nendfacet\nendsolid");
    EXPECT_EQ(write(dir / "one.stl", {}, 0, {}), "solid\nendsolid");
}

// Torus corners (exact repeats at many distances) after corners that differ
// only in bits (both zeros, NaN payloads); every fourth normal is a random bit
// pattern, so the numbers cross many buffer blocks in all their shapes.
TEST(AsciiWriter, ManyBlocksMatchStreamOutput) {
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
    const std::size_t facets = corners.size() / 9;
    ASSERT_TRUE(write(dir / "out.stl", corners, facets, normals) ==
                streamReference(corners, static_cast<std::int32_t>(3 * facets), normals));
}

}  // namespace
