// Format detection and binary STL decoding.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "stl/stl.h"
#include "support/files.h"

using namespace stlrefine;
using namespace testing_support;

namespace {

// Header, count and as many zero records as the count says.
std::string facetBytes(std::uint32_t count, const std::string& header = "") {
    return withFacetCount(header + std::string(84 - header.size() + 50 * std::size_t{count}, '\0'), count);
}

StlType classify(const std::string& bytes) {
    return classifyStl(reinterpret_cast<const unsigned char*>(bytes.data()),
                       std::min<std::size_t>(bytes.size(), 84), bytes.size());
}

}  // namespace

TEST(Detection, SizeTestComesFirstThenSolid) {
    const std::pair<std::string, StlType> cases[] = {
        {facetBytes(0), Binary},                            {facetBytes(1), Binary},
        {facetBytes(1).substr(0, 133), NotStl},             {facetBytes(1) + "x", NotStl},
        {facetBytes(2, "solid binary"), Binary},            {facetBytes(2, "solid binary") + "\n", Ascii},
        {facetBytes(10), Binary},                           {withFacetCount(facetBytes(0), 0x0a0a0a0a), NotStl},
        {"solid cube\nendsolid cube\n", Ascii},             {"solid", Ascii},
        {"solid ", Ascii},                                  {"sol\nid", NotStl},
        {"SOLID x\n", NotStl},                              {" solid x\n", NotStl},
        {"\xEF\xBB\xBFsolid x\n", NotStl},                  {"", NotStl},
    };
    for (std::size_t i = 0; i < std::size(cases); ++i) EXPECT_EQ(classify(cases[i].first), cases[i].second) << i;
}

TEST(Detection, SizesBeyondThirtyTwoBitsUseExactArithmetic) {
    // A count of 2^32-1 needs 214 GB; a 32-bit product would wrap to a small size.
    unsigned char head[84] = {};
    head[80] = head[81] = head[82] = head[83] = 0xFF;
    const std::uint64_t exact = 84 + 50 * std::uint64_t{0xFFFFFFFF};
    EXPECT_EQ(classifyStl(head, 84, exact), Binary);
    EXPECT_EQ(classifyStl(head, 84, exact & 0xFFFFFFFF), NotStl);
}

TEST(BinaryParser, CopiesCornersBitForBitAndIgnoresNormalAndAttribute) {
    const std::uint32_t patterns[18] = {0x7FC00000, 0xFFC00001, 0x7F800000, 0xFF800000, 0x00000001, 0x80000000,
                                        0x7F7FFFFF, 0x7FA00000, 0x3F800000, 0x40000000, 0xBF800000, 0x3F000000,
                                        0x7149F2CA, 0x41200000, 0x41300000, 0x41400000, 0xC0400000, 0x00000000};
    std::vector<float> corners(18);
    std::memcpy(corners.data(), patterns, sizeof patterns);
    for (unsigned char filler : {0x00, 0x7F, 0xFF}) {
        const std::string bytes = binaryStl(corners, filler);
        StlPointList list;
        parseBinaryStl(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size(), list);
        ASSERT_EQ(list.size(), 6u);
        for (std::size_t i = 0; i < list.size(); ++i) {
            EXPECT_EQ(std::memcmp(&list[i].x, &patterns[3 * i], 12), 0) << i;
            EXPECT_EQ(list[i].reserved, 0u);
        }
    }
}

TEST(BinaryReader, ReadsLargeFilesBlockByBlockUpToTheDeclaredOrCompleteRecords) {
    // 10,000 facets span several read blocks; every corner is distinct, so a
    // record decoded twice, skipped or misplaced at a block edge shows.
    constexpr std::uint32_t Facets = 10000;
    std::vector<float> corners;
    for (std::uint32_t i = 0; i < 3 * Facets; ++i) {
        corners.insert(corners.end(), {float(i), float(i) + 0.5f, -float(i)});
    }
    const std::string full = binaryStl(corners);
    const std::pair<std::string, std::size_t> cases[] = {
        {full, Facets},
        {full.substr(0, 84 + 50 * 4096 + 25), 4096},  // cut in a record at a block edge
        {full.substr(0, 84 + 50 * 9000), 9000},
        {withFacetCount(full, 3 * Facets), Facets},
        {withFacetCount(full, 5000), 5000},
        {full.substr(0, 84), 0},
        {full.substr(0, 50), 0},
    };
    TempDir dir;
    for (const auto& [bytes, records] : cases) {
        SCOPED_TRACE(bytes.size());
        writeFile(dir / "in.stl", bytes);
        StlPointList list(2, StlPoint{7, 7, 7, 0});  // the reader appends
        EXPECT_EQ(captureStdout([&] { readBinaryStl(list, widePath(dir / "in.stl")); }), "Read binary file success!\n");
        ASSERT_EQ(list.size(), 2 + 3 * records);
        EXPECT_EQ(list[1].x, 7.0f);
        for (std::size_t k = 0; k < 3 * records; ++k) {
            const StlPoint& p = list[2 + k];
            ASSERT_TRUE(p.x == float(k) && p.y == float(k) + 0.5f && p.z == -float(k) && p.reserved == 0)
                << "corner " << k;
        }
    }
}
