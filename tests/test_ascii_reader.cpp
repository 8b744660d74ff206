// ASCII STL reading: line and token rules, the success line, the file
// wrapper, independence of the host's locale, and agreement with binary input.
#include <gtest/gtest.h>

#include <charconv>
#include <clocale>
#include <cmath>
#include <cstring>
#include <locale>
#include <string>
#include <vector>

#include "api/pipeline.h"
#include "stl/stl.h"
#include "support/files.h"

namespace {

using stlrefine::parseAsciiStl;
using stlrefine::StlPointList;
using testing_support::captureStdout;
using testing_support::readFile;
using testing_support::TempDir;
using testing_support::widePath;
using testing_support::writeFile;

using Corners = std::vector<std::vector<float>>;

struct Parsed {
    bool success;
    Corners corners;
};

Parsed parse(const std::string& text) {
    StlPointList list;
    Parsed parsed{parseAsciiStl(text.data(), text.size(), list), {}};
    for (const stlrefine::StlPoint& p : list) {
        EXPECT_EQ(p.reserved, 0u);
        parsed.corners.push_back({p.x, p.y, p.z});
    }
    return parsed;
}

std::string withCrLf(const std::string& text) {
    std::string out;
    for (char c : text) out += c == '\n' ? std::string("\r\n") : std::string(1, c);
    return out;
}

const std::string Facet = "facet normal 0 0 1\n outer loop\n  vertex 0 0 0\n  vertex 1 0 0\n"
                          "  vertex 0 1 0\n endloop\nendfacet\n";
const Corners FacetCorners = {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}};

TEST(AsciiParser, LineAndTokenRules) {
    const std::string nul(1, '\0');
    const std::string longName(100000, 'x');
    const std::string blanks(300, ' ');
    struct Case {
        const char* name;
        std::string text;
        bool success;
        Corners corners;
    };
    const Case cases[] = {
        {"empty data", "", false, {}},
        {"keyword only", "solid", true, {}},
        {"final line feed", "solid\n", false, {}},
        {"as our writer ends", "solid\n" + Facet + "endsolid", true, FacetCorners},
        {"ends with line feed", "solid\n" + Facet + "endsolid\n", false, FacetCorners},
        {"blank line mid-file", "solid\n" + Facet + "\n" + Facet + "endsolid", false, FacetCorners},
        {"blanks-only line mid-file", "solid\n" + Facet + "   \n" + Facet + "endsolid", false, FacetCorners},
        {"tab-indented", "solid\n\tvertex 1 2 3\n\t\tvertex 4 5 6\nendsolid", true, {}},
        {"tab-separated", "solid\nvertex\t1\t2\t3\nvertex 4\t5 6\nendsolid", true, {{4, 6, 0}}},
        {"white space inside tokens", "solid\nvertex \t7 \t 8\x0b\nend", true, {{7, 0, 8}}},
        {"extra tokens", "solid\nvertex 1 2 3 4 five\nendsolid", true, {{1, 2, 3}}},
        {"1.5e+002 -2 abc", "solid\n  vertex   1.5e+002 -2 abc  \nendsolid", true, {{150, -2, 0}}},
        {"short vertex lines", "solid\nvertex\nvertex 7\nvertex 7 8\nendsolid", true, {{0, 0, 0}, {7, 0, 0}, {7, 8, 0}}},
        {"keyword case", "solid\nVeRtEx 1 1 1\nVERTEX 2 2 2\nvertexx 3 3 3\nvertice 4 4 4\nvert 5 5 5\nend", true,
         {{1, 1, 1}, {2, 2, 2}}},
        {"four vertex lines in a facet",
         "solid\nfacet\nvertex 1 0 0\nvertex 2 0 0\nvertex 3 0 0\nvertex 4 0 0\nendfacet\nfacet\n"
         "vertex 5 0 0\nendfacet\nendsolid",
         true, {{1, 0, 0}, {2, 0, 0}, {3, 0, 0}, {4, 0, 0}, {5, 0, 0}}},
        {"several solids", "solid a\nvertex 1 1 1\nendsolid a\nsolid b\nvertex 2 2 2\nendsolid b", true,
         {{1, 1, 1}, {2, 2, 2}}},
        {"the facet normal is not a corner", "solid\nfacet normal 9 9 9\nvertex 1 2 3\nendsolid", true, {{1, 2, 3}}},
        {"NUL inside a vertex line", "solid\nvertex 1 2" + nul + " 3\nvertex 4 5 6\nend", true, {{1, 2, 0}, {4, 5, 6}}},
        {"NULs in several lines", "solid\nvertex 1" + nul + "a" + nul + "b\nvertex 2 2 2\nvertex 3 3" + nul + " 3\nend",
         true, {{1, 0, 0}, {2, 2, 2}, {3, 3, 0}}},
        {"NUL at line start ends the parse", "solid\nvertex 1 1 1\n" + nul + "vertex 2 2 2\nvertex 3 3 3\nend",
         false, {{1, 1, 1}}},
        {"NUL in the last line", "solid\nvertex 1 1 1\nendsolid" + nul + "tail", true, {{1, 1, 1}}},
        {"only NUL in the last line", "solid\nvertex 1 1 1\n" + nul, false, {{1, 1, 1}}},
        {"carriage return alone is a token", "solid\n\r\r\nvertex 1 2 3\r\nend\r", true, {{1, 2, 3}}},
        {"empty line after a carriage return", "solid\r\n\r\nvertex 1 2 3\nend", false, {}},
        {"long lines", "solid " + longName + "\nvertex" + blanks + "1" + blanks + "2" + blanks + "3" + blanks +
                           "\nvertex 0." + std::string(5000, '0') + "1e5001 " + longName + "\n" + longName,
         true, {{1, 2, 3}, {1, 0, 0}}},
    };
    for (const Case& c : cases) {
        const Parsed parsed = parse(c.text);
        EXPECT_EQ(parsed.success, c.success) << c.name;
        EXPECT_EQ(parsed.corners, c.corners) << c.name;
    }
}

TEST(AsciiParser, CrLfGivesTheSameRecordsAsLf) {
    for (const std::string& text : {"solid\n" + Facet + Facet + "endsolid", "solid\n" + Facet + "endsolid\n",
                                    "solid\n" + Facet + "\n" + Facet + "endsolid"}) {
        const Parsed lf = parse(text), crlf = parse(withCrLf(text));
        EXPECT_TRUE(crlf.corners == lf.corners && crlf.success == lf.success) << text;
    }
}

TEST(AsciiParser, AppendsToTheListAndReadsOnlyTheGivenBytes) {
    StlPointList list(2, stlrefine::StlPoint{9, 9, 9, 0});
    const std::string text = "solid\nvertex 1 2 3\nvertex 4 5 6\n";
    // The last line cut after "vertex 4": it has no line feed, so success.
    EXPECT_TRUE(parseAsciiStl(text.data(), text.find(" 5"), list));
    ASSERT_EQ(list.size(), 4u);
    EXPECT_TRUE(list[1].x == 9 && list[2].z == 3 && list[3].x == 4 && list[3].y == 0);
    EXPECT_FALSE(parseAsciiStl(nullptr, 0, list));
    EXPECT_EQ(list.size(), 4u);
}

// Installs a locale with a decimal comma on request; restores the previous
// C++ and the "C" locale at the end of a test.
struct LocaleGuard {
    ~LocaleGuard() {
        std::locale::global(previous);
        std::setlocale(LC_ALL, "C");
    }
    bool setDecimalComma() {
        for (const char* name : {"de_DE.UTF-8", "de_DE.utf8", "fr_FR.UTF-8", "de_DE"}) {
            if (std::setlocale(LC_ALL, name) && std::strcmp(std::localeconv()->decimal_point, ",") == 0) {
                std::locale::global(std::locale(name));
                return true;
            }
        }
        return false;
    }
    std::locale previous;
};

TEST(AsciiParser, HostLocaleWithDecimalCommaChangesNothing) {
    const std::string text = "solid\nvertex 1.5 -2.25e1 0x1.8p1\nvertex 1,5 +.5 inf\nvertex 3,25 1e-3 7\nend";
    const Parsed reference = parse(text);
    ASSERT_EQ(reference.corners, (Corners{{1.5f, -22.5f, 3.0f}, {1, 0.5f, INFINITY}, {3, 0.001f, 7}}));
    LocaleGuard guard;
    // CI installs one (de_DE.UTF-8 through localedef).
    if (!guard.setDecimalComma()) GTEST_SKIP() << "no locale with a decimal comma can be set";
    const Parsed localised = parse(text);
    EXPECT_TRUE(localised.corners == reference.corners && localised.success == reference.success);
    const char token[] = "2.5";
    EXPECT_EQ(stlrefine::parseStlNumber(token, token + 3), 2.5f);
}

TEST(AsciiFile, WriterOutputReadsBackWithItsSuccessLine) {
    TempDir dir;
    const float corners[] = {0.5f, -1.25f, 3, 1e-7f, 2, 1e20f, -0.0f, 7.125f, 100};
    const float normal[] = {0, 0, 1};
    const std::wstring path = widePath(dir / "out.stl");
    captureStdout([&] { stlrefine::writeAsciiStl(path, corners, 3, normal); });
    StlPointList list;
    EXPECT_EQ(captureStdout([&] { stlrefine::readAsciiStl(list, path); }), "Read ascii data success!\n");
    ASSERT_EQ(list.size(), 3u);
    for (int i = 0; i < 3; ++i) {
        EXPECT_TRUE(list[i].x == corners[3 * i] && list[i].y == corners[3 * i + 1] && list[i].z == corners[3 * i + 2])
            << i;
    }

    // Through detection: the same file with a final line feed prints no success line.
    writeFile(dir / "lf.stl", readFile(dir / "out.stl") + "\n");
    list.clear();
    EXPECT_EQ(captureStdout([&] { stlrefine::readStlFile(list, widePath(dir / "lf.stl")); }), "it ascii_stl\n");
    EXPECT_EQ(list.size(), 3u);
}

// The same floats as ASCII and as binary input: identical output files and
// identical transcripts apart from the reader's own lines.
TEST(AsciiFile, AsciiAndBinaryInputGiveTheSameResult) {
    TempDir dir;
    std::vector<float> corners;
    std::string ascii = "solid cube\n";
    const float values[] = {0, 1, -1, 0.5f, 2.25f, -3.75f, 1e-3f, 0.1f, 12345.678f};
    for (int facet = 0; facet < 12; ++facet) {
        ascii += "  facet normal 0 0 0\n    outer loop\n";
        for (int k = 0; k < 3; ++k) {
            ascii += "      VERTEX";
            for (int axis = 0; axis < 3; ++axis) {
                // The shortest text that reads back as this float.
                const float v = values[(facet * 7 + k * 3 + axis * 5) % 9] * static_cast<float>(facet + 1);
                corners.push_back(v);
                char text[32];
                ascii += ' ';
                ascii += std::string(text, std::to_chars(text, text + sizeof text, v).ptr);
            }
            ascii += '\n';
        }
        ascii += "    endloop\n  endfacet\n";
    }
    ascii += "endsolid cube";
    writeFile(dir / "a.stl", ascii);
    writeFile(dir / "b.stl", testing_support::binaryStl(corners));

    const auto run = [&](const char* in, const char* out) {
        const std::wstring input = widePath(dir / in), output = widePath(dir / out);
        std::string transcript =
            captureStdout([&] { stlrefine::runPipeline(input.c_str(), output.c_str(), 1, nullptr); });
        for (const char* line : {"it ascii_stl\nRead ascii data success!\n", "it binary_stl !!\nRead binary file success!\n"}) {
            const std::size_t at = transcript.find(line);
            if (at != std::string::npos) transcript.erase(at, std::strlen(line));
        }
        return transcript;
    };
    const std::string fromAscii = run("a.stl", "a-out.stl");
    EXPECT_EQ(fromAscii, run("b.stl", "b-out.stl"));
    EXPECT_NE(fromAscii.find("total face before: "), std::string::npos);
    EXPECT_EQ(readFile(dir / "a-out.stl"), readFile(dir / "b-out.stl"));
}

}  // namespace
