// STL input and output below the whole call: format detection, binary records
// bit for bit, the ASCII line rules that the golden cases leave out and the
// block edges of a file read through one handle, numbers against strtod, and
// the ASCII writer against a classic-locale stream.
#include <gtest/gtest.h>

#include <array>
#include <bit>
#include <clocale>
#include <cstring>
#include <locale>
#include <random>
#include <sstream>
#include <thread>
#ifndef _WIN32
#  include <sys/stat.h>
#endif

#include "stl/stl.h"
#include "support/files.h"
#include "support/meshes.h"

using namespace testing_support;
using enum stlrefine::StlFormat;

// The file as the pipeline reads it, detected as `type`: detection, then the
// parser, through one open handle. The parser's result and the corners. With
// `pipe`, the bytes come through a named pipe (POSIX), which is read to its
// end before its type is known.
static std::pair<bool, stlrefine::StlPointList> readThroughFile(const std::string& bytes, stlrefine::StlFormat format,
                                                                bool pipe = false) {
    TempDir dir;
    std::thread writer;
#ifndef _WIN32
    if (pipe) {
        EXPECT_EQ(::mkfifo((dir / "in.stl").c_str(), 0600), 0);
        writer = std::thread([&] { writeFile(dir / "in.stl", bytes); });
    }
#endif
    if (!writer.joinable()) writeFile(dir / "in.stl", bytes);
    stlrefine::platform::InputFile input;
    stlrefine::StlHead head;
    EXPECT_TRUE(input.open(widePath(dir / "in.stl")) && stlrefine::detectStlFile(input, head) && head.format == format);
    if (writer.joinable()) writer.join();
    std::pair<bool, stlrefine::StlPointList> read;
    read.first = stlrefine::parseStlFile(input, head, read.second);
    EXPECT_FALSE(input.failed());
    return read;
}

// Binary when the size is exactly that of the declared facets (in 64 bits),
// else ASCII when "solid" stands at the very first byte.
TEST(StlInput, Detection) {
    const std::string one = binaryStl(std::vector<float>(9)),
                      two = "solid 2" + binaryStl(std::vector<float>(18)).substr(7);
    const std::string huge = one.substr(0, 80) + "\xFF\xFF\xFF\xFF";
    const std::uint64_t hugeSize = 84 + 50 * std::uint64_t{0xFFFFFFFF};
    // clang-format off
    const struct { std::string head; std::uint64_t size; stlrefine::StlFormat format; } cases[] = {
        {one, 134, Binary}, {one, 133, NotStl}, {one, 135, NotStl}, {two, 184, Binary}, {two, 185, Ascii},
        {huge, hugeSize, Binary}, {huge, hugeSize & 0xFFFFFFFF, NotStl}, {"solid", 5, Ascii}, {"soli", 4, NotStl},
        {"SOLID x\n", 8, NotStl}, {" solid\n", 7, NotStl}, {"\xEF\xBB\xBFsolid\n", 9, NotStl}};
    // clang-format on
    for (const auto& c : cases) {
        const auto* head = reinterpret_cast<const unsigned char*>(c.head.data());
        EXPECT_EQ(stlrefine::detectStlFormat(head, std::min<std::size_t>(c.head.size(), 84), c.size), c.format)
            << c.size;
    }
}

// 10000 facets span several read blocks; every corner distinct, the first ones
// NaN payloads, infinities, -0 and subnormals. The stored normal and attribute
// word are not read; a record cut short is not decoded.
TEST(StlInput, BinaryCornersBitForBit) {
    const std::uint32_t patterns[] = {0x7FC00000, 0xFFC00001, 0x7FA00000, 0x7F800000,
                                      0xFF800000, 0x80000000, 1,          0x80000001};
    std::vector<float> corners(std::size(patterns));
    std::memcpy(corners.data(), patterns, sizeof patterns);
    for (int i = 0; corners.size() < 9 * 10000; ++i) corners.push_back(float(i) + 0.5f);
    for (const unsigned char filler : {0x00, 0xFF}) {  // the second through a pipe
        EXPECT_EQ(bitsOf(readThroughFile(binaryStl(corners, filler), Binary, filler == 0xFF).second), bitsOf(corners));
    }
    const std::string records = binaryStl(corners).substr(84);
    for (const auto& [size, maxCount, decoded] :
         {std::array<std::size_t, 3>{50 * 3 + 49, 5, 3}, {150, 2, 2}, {49, 5, 0}}) {
        stlrefine::StlPointList part;
        EXPECT_EQ(
            stlrefine::appendBinaryFacets(reinterpret_cast<const unsigned char*>(records.data()), size, maxCount, part),
            decoded);
        EXPECT_EQ(bitsOf(part), bitsOf(corners.data(), 9 * decoded)) << size;
    }
}

// One corner per "vertex" line, missing numbers read as 0; an empty or blank
// line, or a NUL at a line's start, ends the parse; success only when the text
// ends on a line with a token and no line feed. ASCII text is read in blocks
// of 1 MiB, an unfinished line carried over to the next.
TEST(StlInput, AsciiLinesAndBlockEdges) {
    const std::size_t block = std::size_t{1} << 20;
    auto upTo = [](std::size_t size) {  // "solid" and ignored lines: `size` bytes, ending in a line feed
        std::string text = "solid padding\n";
        while (text.size() + 100 < size) text += "outer loop\n";
        return text + std::string(size - text.size() - 1, 'x') + '\n';
    };
    const std::string nul(1, '\0');
    // clang-format off
    const struct { std::string text; bool success; stlrefine::StlPointList corners; } cases[] = {
        {"solid\nvertex\nvertex 7\nvertex 7 8\nvertex 1 2 3 4\nend", true, {0, 0, 0, 7, 0, 0, 7, 8, 0, 1, 2, 3}},
        {"solid\nvertexx 3 3 3\nvert 5 5 5\nVERTEX 2 2 2\nend\n", false, {2, 2, 2}},
        {"solid a\nvertex 1 1 1\nendsolid a\nsolid b\nvertex 2 2 2\nendsolid b", true, {1, 1, 1, 2, 2, 2}},
        {"solid\r\n\r\nvertex 1 2 3\nend", false, {}},
        {"solid\nvertex 4\t5 6\nvertex \t7 8 9\nend", true, {4, 6, 0, 7, 8, 9}},
        {"solid\nvertex 1 2" + nul + " 3\nvertex 4 5 6\nend", true, {1, 2, 0, 4, 5, 6}},
        {"solid\nvertex 1 1 1\n" + nul + "vertex 2 2 2\nend", false, {1, 1, 1}},
        {"solid\nvertex 1 1 1\nendsolid" + nul + "tail", true, {1, 1, 1}},
        {upTo(block - 5) + "vertex 1 2 3\nvertex 4 5 6\nend", true, {1, 2, 3, 4, 5, 6}},
        {upTo(block - 3) + "end", true, {}},
        {upTo(block) + "\nvertex 1 2 3\nend", false, {}},
        {upTo(block - 1) + "\nvertex 1 2 3\nend", false, {}},
        {upTo(block - 1) + "\r\nvertex 1 2 3\nend", false, {}},
        {upTo(block - 13) + "vertex 1 2 3\r\n\r\nvertex 4 5 6\nend", false, {1, 2, 3}},
        {upTo(99) + "vertex 7 8 9 " + std::string(3 * block, 'y') + "\nvertex 1 2 3\nend", true, {7, 8, 9, 1, 2, 3}}};
    // clang-format on
    for (const auto& c : cases) {
        EXPECT_EQ(readThroughFile(c.text, Ascii), std::pair(c.success, c.corners))
            << c.text.size() << " bytes: " << c.text.substr(0, 60);
    }
    // Through a pipe, 3 MiB whose bytes 80-83, taken as a binary facet count, promise 135.
    const std::string promise = "solid" + std::string(75, ' ') + std::string("\x01\0\0\0", 4) + "\n";
    EXPECT_EQ(readThroughFile(promise + upTo(3 * block) + "vertex 1 2 3\nend", Ascii, true),
              std::pair(true, stlrefine::StlPointList{1, 2, 3}));
}

// atof in the "C" locale rounded to float, against strtod. Random sequences
// of the pieces reach every branch of the parser: white space and signs, runs
// of digits of any length (19 and 20 significant digits, 2^53 and 2^64 among
// them), points, exponents (+-22 and 23, out of range, without digits, signs
// twice), hexadecimal numbers, words, NaN payloads, junk after the number.
// Then the decimal text of the point halfway between two floats, exact or
// nudged up: rounded to double first, then to float, as atof into a float does.
TEST(StlInput, NumbersAgreeWithStrtod) {
    ASSERT_NE(std::setlocale(LC_ALL, "C"), nullptr);
    const char* pieces[] = {" ",
                            "\t\v\f\r",
                            "+",
                            "-",
                            "+-",
                            "0",
                            "00",
                            "1",
                            "5",
                            "7",
                            "9",
                            "12345678",
                            "99999999",
                            "9007199254740992",
                            "9007199254740993",
                            "18446744073709551616",
                            "99999999999999999999",
                            ".",
                            "e",
                            "E",
                            "e+",
                            "e-",
                            "22",
                            "23",
                            "308",
                            "0x",
                            "0X",
                            "p",
                            "P",
                            "p-",
                            "a",
                            "F",
                            "x",
                            "_",
                            "inf",
                            "INFINITY",
                            "nan",
                            "NaN(",
                            ")",
                            ":",
                            "/",
                            ",",
                            "\x01"};
    std::mt19937_64 random(20240601);
    std::vector<std::string> tokens;
    while (tokens.size() < 300'000) {
        std::string token;
        for (auto n = random() % 8 + 1; n > 0; --n) token += pieces[random() % std::size(pieces)];
        tokens.push_back(token);
    }
    for (int i = 0; i < 20'000; ++i) {
        const float low = std::bit_cast<float>(static_cast<std::uint32_t>(random()) & 0x7effffffu);
        char text[200];
        std::snprintf(text, sizeof text, "%.130e", (double(low) + double(std::nextafter(low, INFINITY))) / 2);
        std::string exact = text;
        const std::size_t e = exact.find('e'), end = exact.find_last_not_of('0', e - 1) + 1;
        tokens.push_back(exact.replace(end, e - end, i % 2 ? std::string(random() % 30, '0') + "1" : ""));
    }
    int mismatches = 0;
    for (const std::string& token : tokens) {
        const float expected = static_cast<float>(std::strtod(token.c_str(), nullptr));
        const float parsed = stlrefine::parseStlNumber(token.data(), token.data() + token.size());
        if (std::bit_cast<std::uint32_t>(parsed) != std::bit_cast<std::uint32_t>(expected) && ++mismatches <= 20)
            ADD_FAILURE() << "token \"" << token << "\": got " << parsed << ", expected " << expected;
    }
    EXPECT_EQ(mismatches, 0);
}

// Torus corners (repeats at many distances, for the writer's cache of corner
// texts) after corners that differ only in bits (both zeros, NaN payloads);
// every fourth normal a random bit pattern; the text spans many buffers.
TEST(StlOutput, AsciiMatchesClassicLocaleStream) {
    const float nanA = std::bit_cast<float>(0xFFFFFFFFu), nanB = std::bit_cast<float>(0x7FC00000u);
    std::vector<float> corners = {0, 0, 0, -0.0f, 0, 0, nanA, nanA, nanA, nanB, 0, -0.0f, 0, 0, 0, nanA, nanB, 0};
    const std::vector<float> ring = facetCorners(torus(200, 100));
    corners.insert(corners.end(), ring.begin(), ring.end());
    std::vector<float> normals;
    std::ostringstream expected;
    expected.imbue(std::locale::classic());
    expected << "solid\n";
    std::mt19937 random(3);
    for (const float* c = corners.data(); c < corners.data() + corners.size(); c += 9) {
        for (int k = 0; k < 3; ++k)
            normals.push_back(normals.size() % 12 < 3 ? std::bit_cast<float>(std::uint32_t(random()))
                                                      : float(int(random()) * 0x1p-31));
        expected << "facet normal " << normals.end()[-3] << ' ' << normals.end()[-2] << ' ' << normals.end()[-1]
                 << "\nouter loop\n";
        for (int k = 0; k < 9; k += 3) expected << "vertex " << c[k] << ' ' << c[k + 1] << ' ' << c[k + 2] << '\n';
        expected << "endloop\nendfacet\n";
    }
    TempDir dir;
    stlrefine::platform::OutputFile output;
    ASSERT_TRUE(output.open(widePath(dir / "out.stl"), stlrefine::platform::OutputFile::Mode::Text));
    stlrefine::StlWriter writer(output, stlrefine::StlFormat::Ascii, 0);
    EXPECT_TRUE(writer.writeFacets(corners.data(), normals.data(), corners.size() / 9) && writer.finish() &&
                output.commit());
    EXPECT_TRUE(readFile(dir / "out.stl") == expected.str() + "endsolid");
}
