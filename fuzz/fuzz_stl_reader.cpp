// The STL parsers on arbitrary bytes: detection, binary records and ASCII
// text, each checked against a plain restatement of its rules, and number
// tokens checked against the C library's strtod (this process runs in the
// "C" locale). Every parser appends: what the list held before must stay.
#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "fuzz_check.h"
#include "stl/stl.h"

namespace {

using stlrefine::StlPointList;

const StlPointList Before{1.5f, -2.5f, 3.5f};

std::uint32_t loadU32(const unsigned char* p) {
    return std::uint32_t{p[0]} | std::uint32_t{p[1]} << 8 | std::uint32_t{p[2]} << 16 |
           std::uint32_t{p[3]} << 24;
}

bool sameBits(const StlPointList& a, const StlPointList& b) {
    return a.size() == b.size() && std::memcmp(a.data(), b.data(), a.size() * sizeof(float)) == 0;
}

float strtodFloat(const std::string& token) {
    return static_cast<float>(std::strtod(token.c_str(), nullptr));
}

void checkDetection(const unsigned char* data, std::size_t size) {
    const std::size_t headSize = std::min<std::size_t>(size, 84);
    bool binary = false;
    if (size >= 84) {
        const std::uint64_t declared = 84 + 50 * std::uint64_t{loadU32(data + 80)};
        binary = size == declared;
        // With the size its count declares, any header is binary.
        FUZZ_CHECK(stlrefine::detectStlFormat(data, headSize, declared) == stlrefine::StlFormat::Binary);
    }
    const bool ascii = !binary && size >= 5 && std::memcmp(data, "solid", 5) == 0;
    using enum stlrefine::StlFormat;
    FUZZ_CHECK(stlrefine::detectStlFormat(data, headSize, size) == (binary  ? Binary
                                                                    : ascii ? Ascii
                                                                            : NotStl));
}

// The records after an 84-byte header, at most as many as its count says:
// the three corners of each are the nine little-endian floats at 12..47.
void checkBinary(const unsigned char* data, std::size_t size) {
    if (size < 84) return;
    const std::size_t count = std::min<std::size_t>(loadU32(data + 80), (size - 84) / 50);
    StlPointList corners = Before, expected = Before;
    FUZZ_CHECK(stlrefine::appendBinaryFacets(data + 84, size - 84, loadU32(data + 80), corners) == count);
    expected.resize(3 + 9 * count);
    for (std::size_t r = 0; r < count; ++r) {
        std::memcpy(&expected[3 + 9 * r], data + 84 + 50 * r + 12, 36);  // little-endian host
    }
    FUZZ_CHECK(sameBits(corners, expected));
}

// The ASCII rules read plainly: lines end at line feeds (a carriage return
// right before one is dropped) and at their first NUL; tokens are separated
// by blanks; a line without a token ends the parse; a "vertex" line (any
// case) gives a corner of its next three tokens, missing ones 0. Returns
// whether the parse reached the end. The first `budget` tokens are also
// read by parseStlNumber.
bool plainAscii(const std::string& text, StlPointList& corners, int budget) {
    if (text.empty()) return false;
    for (std::size_t start = 0;;) {
        const std::size_t feed = text.find('\n', start);
        std::string line = text.substr(start, feed == std::string::npos ? feed : feed - start);
        if (feed != std::string::npos && !line.empty() && line.back() == '\r') line.pop_back();
        line.resize(std::min(line.size(), line.find('\0')));
        std::vector<std::string> tokens;
        for (std::size_t at = line.find_first_not_of(' '); at != std::string::npos;
             at = line.find_first_not_of(' ', at)) {
            const std::size_t stop = std::min(line.find(' ', at), line.size());
            tokens.push_back(line.substr(at, stop - at));
            at = stop;
        }
        if (tokens.empty()) return false;
        for (const std::string& token : tokens) {
            if (budget-- <= 0) break;
            const float ours = stlrefine::parseStlNumber(token.data(), token.data() + token.size());
            FUZZ_CHECK(sameBits({ours}, {strtodFloat(token)}));
        }
        std::string keyword = tokens[0];
        for (char& c : keyword) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        if (keyword == "vertex") {
            tokens.resize(4, "0");
            for (std::size_t k = 1; k <= 3; ++k) corners.push_back(strtodFloat(tokens[k]));
        }
        if (feed == std::string::npos) return true;
        start = feed + 1;
    }
}

void checkAscii(const unsigned char* bytes, std::size_t size) {
    const char* data = reinterpret_cast<const char*>(bytes);
    StlPointList corners = Before, expected = Before;
    const bool reachedEnd = stlrefine::parseAsciiStl(data, size, corners);
    FUZZ_CHECK(reachedEnd == plainAscii(std::string(data, size), expected, 512));
    FUZZ_CHECK(sameBits(corners, expected));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    checkDetection(data, size);
    checkBinary(data, size);
    checkAscii(data, size);
    return 0;
}
