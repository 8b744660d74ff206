// ASCII STL reading: line and token rules, the success line, and
// independence of the host's locale.
#include <gtest/gtest.h>

#include <clocale>
#include <cmath>
#include <cstring>
#include <locale>
#include <string>
#include <vector>

#include "stl/stl.h"

namespace {

using Corners = std::vector<std::vector<float>>;

struct Parsed {
    bool success;
    Corners corners;
    bool operator==(const Parsed&) const = default;
};

Parsed parse(const std::string& text) {
    stlrefine::StlPointList list;
    Parsed parsed{stlrefine::parseAsciiStl(text.data(), text.size(), list), {}};
    for (std::size_t i = 0; i < list.size(); i += 3) parsed.corners.push_back({list[i], list[i + 1], list[i + 2]});
    return parsed;
}

TEST(AsciiParser, LineAndTokenRules) {
    const std::string nul(1, '\0');
    const std::string facet = "facet normal 9 9 9\n outer loop\n  vertex 0 0 0\n  vertex 1 0 0\n  vertex 0 1 0\n"
                              " endloop\nendfacet\n";
    const Corners facetCorners = {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}};
    const struct { const char* name; std::string text; bool success; Corners corners; } cases[] = {
        {"empty data", "", false, {}},
        {"as our writer ends", "solid\n" + facet + "endsolid", true, facetCorners},
        {"ends with line feed", "solid\n" + facet + "endsolid\n", false, facetCorners},
        {"CRLF, no final line feed", "solid\r\nvertex 1 2 3\r\nendsolid", true, {{1, 2, 3}}},
        {"CRLF, final line feed", "solid\r\nvertex 1 2 3\r\nendsolid\r\n", false, {{1, 2, 3}}},
        {"blank line stops", "solid\n" + facet + "\n" + facet + "endsolid", false, facetCorners},
        {"blanks-only line stops", "solid\n" + facet + "   \n" + facet + "endsolid", false, facetCorners},
        {"empty CRLF line stops", "solid\r\n\r\nvertex 1 2 3\nend", false, {}},
        {"tab-indented", "solid\n\tvertex 1 2 3\nendsolid", true, {}},
        {"tab-separated", "solid\nvertex\t1\t2\t3\nvertex 4\t5 6\nendsolid", true, {{4, 6, 0}}},
        {"extra tokens", "solid\nvertex 1 2 3 4 five\nendsolid", true, {{1, 2, 3}}},
        {"1.5e+002 -2 abc", "solid\n  vertex   1.5e+002 -2 abc  \nendsolid", true, {{150, -2, 0}}},
        {"short vertex lines", "solid\nvertex\nvertex 7\nvertex 7 8\nend", true, {{0, 0, 0}, {7, 0, 0}, {7, 8, 0}}},
        {"keyword case", "solid\nVeRtEx 1 1 1\nVERTEX 2 2 2\nvertexx 3 3 3\nvert 5 5 5\nend", true,
         {{1, 1, 1}, {2, 2, 2}}},
        {"several solids", "solid a\nvertex 1 1 1\nendsolid a\nsolid b\nvertex 2 2 2\nendsolid b", true,
         {{1, 1, 1}, {2, 2, 2}}},
        {"NUL inside a vertex line", "solid\nvertex 1 2" + nul + " 3\nvertex 4 5 6\nend", true, {{1, 2, 0}, {4, 5, 6}}},
        {"NUL at line start stops", "solid\nvertex 1 1 1\n" + nul + "vertex 2 2 2\nend", false, {{1, 1, 1}}},
        {"NUL in the last line", "solid\nvertex 1 1 1\nendsolid" + nul + "tail", true, {{1, 1, 1}}},
    };
    for (const auto& c : cases) {
        const Parsed parsed = parse(c.text);
        EXPECT_EQ(parsed.success, c.success) << c.name;
        EXPECT_EQ(parsed.corners, c.corners) << c.name;
    }
}

TEST(AsciiParser, HostLocaleWithDecimalCommaChangesNothing) {
    const std::string text = "solid\nvertex 1.5 -2.25e1 0x1.8p1\nvertex 1,5 +.5 inf\nvertex 3,25 1e-3 7\nend";
    const Parsed reference = parse(text);
    ASSERT_EQ(reference.corners, (Corners{{1.5f, -22.5f, 3.0f}, {1, 0.5f, INFINITY}, {3, 0.001f, 7}}));
    const std::locale previous;
    const char* name = nullptr;
    // CI installs one (de_DE.UTF-8 through localedef).
    for (const char* candidate : {"de_DE.UTF-8", "de_DE.utf8", "fr_FR.UTF-8", "de_DE"}) {
        if (!name && std::setlocale(LC_ALL, candidate) && std::strcmp(std::localeconv()->decimal_point, ",") == 0) {
            name = candidate;
        }
    }
    if (!name) std::setlocale(LC_ALL, "C");
    if (!name) GTEST_SKIP() << "no locale with a decimal comma can be set";
    std::locale::global(std::locale(name));
    EXPECT_TRUE(parse(text) == reference);
    const char token[] = "2.5";
    EXPECT_EQ(stlrefine::parseStlNumber(token, token + 3), 2.5f);
    std::locale::global(previous);
    std::setlocale(LC_ALL, "C");
}

}  // namespace
