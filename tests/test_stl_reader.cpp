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
    return detectStlType(reinterpret_cast<const unsigned char*>(bytes.data()),
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
    EXPECT_EQ(detectStlType(head, 84, exact), Binary);
    EXPECT_EQ(detectStlType(head, 84, exact & 0xFFFFFFFF), NotStl);
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
        EXPECT_EQ(appendBinaryFacets(reinterpret_cast<const unsigned char*>(bytes.data()) + 84, bytes.size() - 84,
                                     2, list),
                  2u);
        ASSERT_EQ(list.size(), 18u);
        EXPECT_EQ(std::memcmp(list.data(), patterns, sizeof patterns), 0);
    }
}

TEST(BinaryReader, ReadsLargeFilesBlockByBlockAndOnlyCompleteRecords) {
    // 10,000 facets span several read blocks; every corner is distinct, so a
    // record decoded twice, skipped or misplaced at a block edge shows.
    constexpr std::uint32_t Facets = 10000;
    std::vector<float> corners;
    for (std::uint32_t i = 0; i < 3 * Facets; ++i) {
        corners.insert(corners.end(), {float(i), float(i) + 0.5f, -float(i)});
    }
    const std::string full = binaryStl(corners);
    TempDir dir;
    writeFile(dir / "in.stl", full);
    platform::InputFile input;
    ASSERT_TRUE(input.open(widePath(dir / "in.stl")));
    StlHead head;
    ASSERT_TRUE(detectStlFile(input, head));
    EXPECT_EQ(head.type, Binary);
    StlPointList list;
    parseStlFile(input, head, list);
    EXPECT_FALSE(input.failed());
    EXPECT_TRUE(list == corners);

    // A file shorter than its count says: the complete records, at most the count.
    const auto* records = reinterpret_cast<const unsigned char*>(full.data()) + 84;
    const struct { std::size_t size, maxCount, decoded; } cases[] = {
        {50 * 4096 + 25, Facets, 4096}, {50 * 3, 2, 2}, {49, 5, 0}, {0, 5, 0}};
    for (const auto& c : cases) {
        StlPointList part;
        EXPECT_EQ(appendBinaryFacets(records, c.size, c.maxCount, part), c.decoded);
        EXPECT_TRUE(part == std::vector<float>(corners.begin(), corners.begin() + 9 * c.decoded)) << c.size;
    }
}
