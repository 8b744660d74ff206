// Format detection and binary STL decoding.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "stl/stl.h"
#include "support/files.h"

using namespace stlrefine;
using testing_support::binaryStl;
using testing_support::captureStdout;
using testing_support::TempDir;
using testing_support::writeFile;

namespace {

// Header and count; `records` facet records of zeros follow (default: as
// many as the count declares).
std::string facetBytes(std::uint32_t count, const char* header = "", std::int64_t records = -1) {
    std::string bytes(80, '\0');
    std::memcpy(bytes.data(), header, std::strlen(header));
    for (int i = 0; i < 4; ++i) bytes.push_back(static_cast<char>((count >> (8 * i)) & 0xFF));
    bytes.append(std::size_t{50} * static_cast<std::size_t>(records < 0 ? count : records), '\0');
    return bytes;
}

StlType classify(const std::string& bytes) {
    return classifyStl(reinterpret_cast<const unsigned char*>(bytes.data()),
                       std::min<std::size_t>(bytes.size(), 84), bytes.size());
}

}  // namespace

TEST(Detection, SizeTestComesFirstThenSolid) {
    struct Case {
        const char* name;
        std::string bytes;
        StlType expected;
    };
    const Case cases[] = {
        {"zero facets, 84 bytes", facetBytes(0), Binary},
        {"one facet, 134 bytes", facetBytes(1), Binary},
        {"one byte short", facetBytes(1).substr(0, 133), NotStl},
        {"one byte long", facetBytes(1) + "x", NotStl},
        {"solid header and matching size", facetBytes(2, "solid binary"), Binary},
        {"solid header, size off by one", facetBytes(2, "solid binary") + "\n", Ascii},
        {"count with a line feed byte", facetBytes(10), Binary},
        {"count 0x0a0a0a0a without records", facetBytes(0x0a0a0a0a, "", 0), NotStl},
        {"ascii with name", "solid cube\nendsolid cube\n", Ascii},
        {"ascii keyword only", "solid", Ascii},
        {"solid then line feed", "solid\n", Ascii},
        {"solid then blank", "solid ", Ascii},
        {"short keyword", "sol\nid", NotStl},
        {"upper case", "SOLID x\n", NotStl},
        {"leading blank", " solid x\n", NotStl},
        {"byte order mark", "\xEF\xBB\xBFsolid x\n", NotStl},
        {"empty", "", NotStl},
    };
    for (const Case& c : cases) EXPECT_EQ(classify(c.bytes), c.expected) << c.name;
}

TEST(Detection, SizesBeyondThirtyTwoBitsUseExactArithmetic) {
    // A count of 2^32-1 would need 214 GB; a 32-bit product would wrap and
    // could match a small file.
    unsigned char head[84] = {};
    head[80] = head[81] = head[82] = head[83] = 0xFF;
    const std::uint64_t exact = 84 + 50 * std::uint64_t{0xFFFFFFFF};
    EXPECT_EQ(classifyStl(head, 84, exact), Binary);
    EXPECT_EQ(classifyStl(head, 84, exact & 0xFFFFFFFF), NotStl);
}

TEST(BinaryParser, DecodesCornersInRecordOrderAndIgnoresNormalAndAttribute) {
    const std::vector<float> corners = {1, 2, 3, 4, 5, 6, 7, 8, 9, -1, -2, -3, 0.5f, 1e30f, -0.0f, 10, 11, 12};
    for (unsigned char filler : {0x00, 0x7F, 0xFF}) {
        const std::string bytes = binaryStl(corners, filler);
        StlPointList list;
        parseBinaryStl(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size(), list);
        ASSERT_EQ(list.size(), 6u);
        for (std::size_t i = 0; i < list.size(); ++i) {
            EXPECT_EQ(std::memcmp(&list[i].x, &corners[3 * i], 12), 0) << i;
            EXPECT_EQ(list[i].reserved, 0u);
        }
    }
}

TEST(BinaryParser, TruncatedDataDecodesCompleteRecordsOnly) {
    const std::vector<float> corners(27, 1.0f);
    const std::string bytes = binaryStl(corners);
    for (std::size_t size : {std::size_t{0}, std::size_t{83}, std::size_t{84}, std::size_t{133},
                             std::size_t{134}, std::size_t{183}, bytes.size()}) {
        StlPointList list;
        parseBinaryStl(reinterpret_cast<const unsigned char*>(bytes.data()), size, list);
        const std::size_t complete = size < 84 ? 0 : (size - 84) / 50;
        EXPECT_EQ(list.size(), 3 * complete) << size;
    }
}

TEST(BinaryParser, NanAndInfinityAreCopiedBitForBit) {
    std::vector<float> corners(9);
    const std::uint32_t patterns[9] = {0x7FC00000, 0xFFC00001, 0x7F800000, 0xFF800000, 0x00000001,
                                       0x80000000, 0x7F7FFFFF, 0x7FA00000, 0x3F800000};
    std::memcpy(corners.data(), patterns, sizeof patterns);
    const std::string bytes = binaryStl(corners);
    StlPointList list;
    parseBinaryStl(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size(), list);
    ASSERT_EQ(list.size(), 3u);
    for (int i = 0; i < 3; ++i) EXPECT_EQ(std::memcmp(&list[i].x, &patterns[3 * i], 12), 0);
}

TEST(ReadStlFile, PrintsOneLinePerStageAndReportsOpenFailure) {
    TempDir dir;
    const std::vector<float> corners = {0, 0, 0, 1, 0, 0, 0, 1, 0};
    writeFile(dir / "binary.stl", binaryStl(corners));
    writeFile(dir / "empty.stl", "");
    writeFile(dir / "text.txt", "hello\n");
    writeFile(dir / "zero.stl", facetBytes(0, "solid"));
    struct Case {
        std::string name;
        std::int32_t result;
        std::string transcript;
        std::size_t points;
    };
    const Case cases[] = {
        {"binary.stl", 1, "it binary_stl !!\nRead binary file success!\n", 3},
        {"empty.stl", 1, "it not stl data...\n", 0},
        {"text.txt", 1, "it not stl data...\n", 0},
        {"zero.stl", 1, "it binary_stl !!\nRead binary file success!\n", 0},
        {"missing.stl", 0, "I/O fail\n", 0},
        {"", 0, "I/O fail\n", 0},  // the directory itself
    };
    for (const Case& c : cases) {
        StlPointList list(5);  // stale content must be dropped
        std::int32_t result = -1;
        const std::string out = captureStdout(
            [&] { result = readStlFile(list, testing_support::widePath(dir / c.name)); });
        EXPECT_EQ(result, c.result) << c.name;
        EXPECT_EQ(out, c.transcript) << c.name;
        EXPECT_EQ(list.size(), c.points) << c.name;
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
    const auto withCount = [](std::string bytes, std::uint32_t count) {
        for (int i = 0; i < 4; ++i) bytes[80 + i] = static_cast<char>((count >> (8 * i)) & 0xFF);
        return bytes;
    };
    struct Case {
        const char* name;
        std::string bytes;
        std::size_t records;
    };
    const Case cases[] = {
        {"whole file", full, Facets},
        {"cut in a record at a block edge", full.substr(0, 84 + 50 * 4096 + 25), 4096},
        {"cut after a whole record", full.substr(0, 84 + 50 * 9000), 9000},
        {"count larger than the records", withCount(full, 3 * Facets), Facets},
        {"count smaller than the records", withCount(full, 5000), 5000},
        {"header only", full.substr(0, 84), 0},
        {"shorter than the header", full.substr(0, 50), 0},
    };
    TempDir dir;
    for (const Case& c : cases) {
        writeFile(dir / "in.stl", c.bytes);
        StlPointList list(2, StlPoint{7, 7, 7, 0});  // the reader appends
        const std::string out =
            captureStdout([&] { readBinaryStl(list, testing_support::widePath(dir / "in.stl")); });
        EXPECT_EQ(out, "Read binary file success!\n") << c.name;
        ASSERT_EQ(list.size(), 2 + 3 * c.records) << c.name;
        EXPECT_EQ(list[1].x, 7.0f) << c.name;
        for (std::size_t k = 0; k < 3 * c.records; ++k) {
            const StlPoint& p = list[2 + k];
            ASSERT_TRUE(p.x == float(k) && p.y == float(k) + 0.5f && p.z == -float(k) &&
                        p.reserved == 0)
                << c.name << ", corner " << k;
        }
    }
}
