// The STL readers on arbitrary bytes: classification, the binary parser and
// the ASCII parser, each checked against a plain restatement of its rules,
// and every number token checked against the C library's strtod (this
// process runs in the "C" locale).
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "stl/stl.h"
#include "fuzz_check.h"

namespace {

using stlrefine::StlPoint;
using stlrefine::StlPointList;

std::uint32_t loadU32(const unsigned char* p) {
    return std::uint32_t{p[0]} | std::uint32_t{p[1]} << 8 | std::uint32_t{p[2]} << 16 |
           std::uint32_t{p[3]} << 24;
}

bool sameBits(float a, float b) { return std::memcmp(&a, &b, sizeof a) == 0; }

bool samePoint(const StlPoint& a, const StlPoint& b) {
    return sameBits(a.x, b.x) && sameBits(a.y, b.y) && sameBits(a.z, b.z) && a.reserved == b.reserved;
}

constexpr StlPoint Sentinel{1.5f, -2.5f, 3.5f, 0};

void checkClassification(const unsigned char* data, std::size_t size) {
    const std::size_t headSize = size < 84 ? size : 84;
    bool binary = false;
    if (size >= 84) {
        const std::uint64_t declared = 84 + 50 * std::uint64_t{loadU32(data + 80)};
        binary = size == declared;
        // With the size its count declares, any header is binary.
        FUZZ_CHECK(stlrefine::classifyStl(data, headSize, declared) == stlrefine::Binary);
    }
    const bool ascii = !binary && size >= 5 && std::memcmp(data, "solid", 5) == 0;
    const stlrefine::StlType expected =
        binary ? stlrefine::Binary : ascii ? stlrefine::Ascii : stlrefine::NotStl;
    FUZZ_CHECK(stlrefine::classifyStl(data, headSize, size) == expected);
}

void checkBinary(const unsigned char* data, std::size_t size) {
    StlPointList list{Sentinel};
    stlrefine::parseBinaryStl(data, size, list);
    std::size_t records = 0;
    if (size >= 84) {
        records = loadU32(data + 80);
        if (records > (size - 84) / 50) records = (size - 84) / 50;
    }
    FUZZ_CHECK(list.size() == 1 + 3 * records);
    FUZZ_CHECK(samePoint(list[0], Sentinel));
    for (std::size_t i = 0; i < 3 * records; ++i) {
        const unsigned char* p = data + 84 + 50 * (i / 3) + 12 + 12 * (i % 3);
        StlPoint expected{0, 0, 0, 0};
        std::memcpy(&expected.x, p, 4);  // little-endian host
        std::memcpy(&expected.y, p + 4, 4);
        std::memcpy(&expected.z, p + 8, 4);
        FUZZ_CHECK(samePoint(list[1 + i], expected));
    }
}

// atof, then rounded to float, through the C library.
float strtodFloat(const std::string& token) {
    return static_cast<float>(std::strtod(token.c_str(), nullptr));
}

bool caseInsensitiveVertex(const std::string& token) {
    if (token.size() != 6) return false;
    for (std::size_t i = 0; i < 6; ++i) {
        const char c = token[i];
        const char lower = c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
        if (lower != "vertex"[i]) return false;
    }
    return true;
}

// The ASCII rules read literally: lines at line feeds (a carriage return
// before one dropped), each cut at its first NUL, tokens between blanks; a
// line without a token ends the parse; "vertex" lines give a corner of their
// next three tokens (missing ones 0). Every token goes through the strtod
// comparison too, up to a budget.
bool literalAscii(const char* data, std::size_t size, StlPointList& points, int& tokenBudget) {
    if (size == 0) return false;
    std::size_t start = 0;
    for (;;) {
        const void* feed = std::memchr(data + start, '\n', size - start);
        std::size_t end = feed ? static_cast<std::size_t>(static_cast<const char*>(feed) - data) : size;
        std::string line(data + start, end - start);
        if (feed && !line.empty() && line.back() == '\r') line.pop_back();
        line = line.substr(0, line.find('\0'));
        std::vector<std::string> tokens;
        for (std::size_t at = 0; at < line.size();) {
            if (line[at] == ' ') {
                ++at;
                continue;
            }
            const std::size_t blank = line.find(' ', at);
            const std::size_t stop = blank == std::string::npos ? line.size() : blank;
            tokens.push_back(line.substr(at, stop - at));
            at = stop;
        }
        if (tokens.empty()) return false;
        for (const std::string& token : tokens) {
            if (tokenBudget-- <= 0) break;
            const float ours = stlrefine::parseStlNumber(token.data(), token.data() + token.size());
            const float library = strtodFloat(token);
            FUZZ_CHECK(sameBits(ours, library));
        }
        if (caseInsensitiveVertex(tokens[0])) {
            float xyz[3] = {0, 0, 0};
            for (std::size_t k = 1; k < tokens.size() && k <= 3; ++k) {
                xyz[k - 1] = stlrefine::parseStlNumber(tokens[k].data(), tokens[k].data() + tokens[k].size());
            }
            points.push_back(StlPoint{xyz[0], xyz[1], xyz[2], 0});
        }
        if (!feed) return true;
        start = end + 1;
    }
}

void checkAscii(const unsigned char* bytes, std::size_t size) {
    const char* data = reinterpret_cast<const char*>(bytes);
    StlPointList list{Sentinel};
    const bool reachedEnd = stlrefine::parseAsciiStl(data, size, list);
    StlPointList expected{Sentinel};
    int tokenBudget = 512;
    const bool expectedEnd = literalAscii(data, size, expected, tokenBudget);
    FUZZ_CHECK(reachedEnd == expectedEnd);
    FUZZ_CHECK(list.size() == expected.size());
    for (std::size_t i = 0; i < list.size(); ++i) FUZZ_CHECK(samePoint(list[i], expected[i]));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    checkClassification(data, size);
    checkBinary(data, size);
    checkAscii(data, size);
    return 0;
}
