// ASCII STL output, formatted into a fixed buffer and written in large blocks.
#include <cstring>

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

}  // namespace

void writeAsciiStl(std::wstring outputPath, const float* facetCorners, std::int32_t cornerCount,
                   const float* normalArray) {
    // The buffer comes first: once the file is open, nothing can fail and
    // leave a half-written file behind.
    const std::unique_ptr<char[]> buffer = allocateArray<char>(BufferSize);
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
        out = putTriple(out, "vertex", 6, facetCorners + 9 * f);
        out = putTriple(out, "vertex", 6, facetCorners + 9 * f + 3);
        out = putTriple(out, "vertex", 6, facetCorners + 9 * f + 6);
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
