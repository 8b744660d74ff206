// ASCII STL output, formatted into a fixed buffer and written in large blocks.
#include <cstdint>
#include <cstring>
#include <vector>

#include "common/console.h"
#include "common/arrays.h"
#include "common/float_format.h"
#include "platform/platform.h"
#include "stl/stl.h"

namespace stlrefine {

namespace {

constexpr std::size_t BufferSize = std::size_t{1} << 20;
constexpr std::size_t PageSize = 4096;
// Room one facet needs: its keywords, and twelve numbers with their blanks
// (each number has MaxFloatTextLength bytes, which include formatFloat's
// scratch space), with room to spare.
constexpr std::size_t MaxFacetText = 128 + 12 * (MaxFloatTextLength + 1);

char* put(char* out, const char* text, std::size_t n) {
    std::memcpy(out, text, n);
    return out + n;
}

char* putTriple(char* out, const char* keyword, std::size_t keywordLength, const float* xyz) {
    out = put(out, keyword, keywordLength);
    for (int i = 0; i < 3; ++i) {
        *out++ = ' ';
        out = formatFloat(out, xyz[i]);
    }
    *out++ = '\n';
    return out;
}

// The text of recent corners (" x y z\n"), by their coordinate bits. A mesh
// lists each vertex once per facet around it, mostly a few facets apart, so
// most corners repeat one written shortly before; copying its text is several
// times cheaper than formatting three numbers again. The text is a function
// of the bits alone, so an entry is right whenever its bits match, and every
// entry always holds the text of its own bits (empty ones that of 0, 0, 0).
class CornerTextCache {
public:
    CornerTextCache() : entries_(Size) {
        Entry zero{};
        zero.length = static_cast<std::uint32_t>(formatCorner(zero.text, zero.bits) - zero.text);
        for (Entry& entry : entries_) entry = zero;
    }

    // Writes the text of the corner at `xyz`; returns one past its end. 48
    // bytes at `out` must be writable.
    char* put(char* out, const float* xyz) {
        std::uint32_t bits[3];
        std::memcpy(bits, xyz, sizeof bits);
        std::uint64_t h = (std::uint64_t{bits[0]} * 0x9E3779B97F4A7C15ull) ^
                          (std::uint64_t{bits[1]} * 0xC2B2AE3D27D4EB4Full) ^
                          (std::uint64_t{bits[2]} * 0x165667B19E3779F9ull);
        h = (h ^ (h >> 29)) * 0xBF58476D1CE4E5B9ull;
        Entry& entry = entries_[static_cast<std::size_t>(h >> (64 - SizeBits))];
        if (std::memcmp(entry.bits, bits, sizeof bits) != 0) {
            std::memcpy(entry.bits, bits, sizeof bits);
            entry.length = static_cast<std::uint32_t>(formatCorner(entry.text, bits) - entry.text);
        }
        std::memcpy(out, entry.text, sizeof entry.text);
        return out + entry.length;
    }

private:
    // Three numbers, each after a blank, and the line feed: at most 40 bytes
    // (a number's text has at most 12), and the scratch space formatFloat
    // may use past the last number stays within 48.
    static constexpr std::size_t LongestNumber = 12;
    struct Entry {
        std::uint32_t bits[3];
        std::uint32_t length;
        char text[48];
    };
    static_assert(sizeof(Entry) == 64, "one cache line per entry");
    static_assert(2 * (1 + LongestNumber) + 1 + MaxFloatTextLength <= sizeof(Entry::text),
                  "room for three numbers and the scratch space of the last");

    static char* formatCorner(char* out, const std::uint32_t* bits) {
        for (int i = 0; i < 3; ++i) {
            float value;
            std::memcpy(&value, &bits[i], sizeof value);
            *out++ = ' ';
            out = formatFloat(out, value);
        }
        *out++ = '\n';
        return out;
    }

    // 4096 entries, 256 KiB: enough for the vertices of a few rows of facets,
    // small enough to stay in the cache.
    static constexpr int SizeBits = 12;
    static constexpr std::size_t Size = std::size_t{1} << SizeBits;
    std::vector<Entry> entries_;
};

}  // namespace

void writeAsciiStl(std::wstring outputPath, const float* facetCorners, std::int32_t cornerCount,
                   const float* normalArray) {
    // The buffer and the corner texts come first: once the file is open,
    // nothing can fail and leave a half-written file behind.
    const std::unique_ptr<char[]> buffer = allocateArray<char>(BufferSize);
    CornerTextCache cornerText;
    platform::OutputFile file;
    if (!file.open(outputPath)) {
        printLine("- Error, unable open file to save");
        return;
    }
    char* const begin = buffer.get();
    // Writes cover whole pages at page-aligned offsets (the tail of a page
    // waits for the next block), so the system never has to read a page
    // back to merge a partial write into it.
    const auto flushIfFull = [&](char* out) {
        const auto used = static_cast<std::size_t>(out - begin);
        if (used <= BufferSize - MaxFacetText) return out;
        const std::size_t whole = used & ~(PageSize - 1);
        file.write(begin, whole);
        std::memmove(begin, begin + whole, used - whole);
        return begin + (used - whole);
    };

    // Corner k opens a facet when k % 3 == 0 and closes it when k % 3 == 2:
    // whole facets first, then the corners of an unfinished last one.
    const std::size_t corners = cornerCount > 0 ? static_cast<std::size_t>(cornerCount) : 0;
    const std::size_t wholeFacets = corners / 3;
    char* out = put(begin, "solid\n", 6);
    for (std::size_t f = 0; f < wholeFacets; ++f) {
        out = flushIfFull(out);
        out = putTriple(out, "facet normal", 12, normalArray + 3 * f);
        out = put(out, "outer loop\n", 11);
        for (int k = 0; k < 3; ++k) {
            out = put(out, "vertex", 6);
            out = cornerText.put(out, facetCorners + 9 * f + 3 * k);
        }
        out = put(out, "endloop\nendfacet\n", 17);
    }
    if (corners % 3 != 0) {
        out = flushIfFull(out);
        out = putTriple(out, "facet normal", 12, normalArray + 3 * wholeFacets);
        out = put(out, "outer loop\n", 11);
        for (std::size_t k = 3 * wholeFacets; k < corners; ++k) {
            out = putTriple(out, "vertex", 6, facetCorners + 3 * k);
        }
    }
    out = put(out, "endsolid", 8);
    file.write(begin, static_cast<std::size_t>(out - begin));
    file.close();
    printLine("stl file: output success!!");
}

}  // namespace stlrefine
