// STL output, formatted into one buffer and written in large blocks.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

#include "common/float_format.h"
#include "common/hash.h"
#include "stl/little_endian.h"
#include "stl/stl.h"

namespace stlrefine {

namespace {

// Faces per block: normals and corners of a block (48 bytes a face) stay in
// the cache between their computation and their text, and no array of the
// whole output is ever made.
constexpr std::int32_t FacesPerBlock = 1024;

constexpr std::size_t BufferSize = std::size_t{1} << 20;
constexpr std::size_t PageSize = 4096;
// Room one facet needs: its keywords, and twelve numbers with their blanks
// (each number has MaxFloatTextLength bytes, which include formatFloat's
// scratch space), with room to spare. A binary record needs 50.
constexpr std::size_t MaxFacetText = 128 + 12 * (MaxFloatTextLength + 1);

// The binary header names the writer; it must not begin with "solid", which
// readers that look no further would take for ASCII.
constexpr char BinaryHeader[80] = "binary STL written by stlrefine";

char* put(char* out, const char* text, std::size_t n) {
    std::memcpy(out, text, n);
    return out + n;
}

char* putNumbers(char* out, const float* xyz) {
    for (int i = 0; i < 3; ++i) {
        *out++ = ' ';
        out = formatFloat(out, xyz[i]);
    }
    *out++ = '\n';
    return out;
}

char* putBinaryFacet(char* out, const float* corners, const float* normal) {
    auto* bytes = reinterpret_cast<unsigned char*>(out);
    for (int i = 0; i < 3; ++i) bytes = storeFloat32(bytes, normal[i]);
    for (int i = 0; i < 9; ++i) bytes = storeFloat32(bytes, corners[i]);
    *bytes++ = 0;  // the attribute word
    *bytes++ = 0;
    return reinterpret_cast<char*>(bytes);
}

}  // namespace

// The text of recent number triples (" x y z\n"), by their bits. A mesh
// lists each vertex once per facet around it, mostly a few facets apart, so
// most corners repeat one written shortly before; and the facets split from
// one flat facet lie side by side and mostly share their normal. Copying the
// text is much cheaper than formatting three numbers again. The text is a
// function of the bits alone, so an entry is right whenever its bits match,
// and every entry always holds the text of its own bits (empty ones that of
// 0, 0, 0).
struct StlWriter::Text {
    explicit Text(int sizeBits) : entries(std::size_t{1} << sizeBits), shift(64 - sizeBits) {
        Entry zero{};
        zero.length = static_cast<std::uint32_t>(putNumbers(zero.text, Zero) - zero.text);
        for (Entry& entry : entries) entry = zero;
    }

    // Writes the text of the corner at `xyz`; returns one past its end. 48
    // bytes at `out` must be writable.
    char* put(char* out, const float* xyz) {
        std::uint32_t bits[3];
        std::memcpy(bits, xyz, sizeof bits);
        const std::uint64_t h = hashTriple(bits[0], bits[1], bits[2], 0);
        Entry& entry = entries[static_cast<std::size_t>(h >> shift)];
        if (std::memcmp(entry.bits, bits, sizeof bits) != 0) {
            std::memcpy(entry.bits, bits, sizeof bits);
            entry.length = static_cast<std::uint32_t>(putNumbers(entry.text, xyz) - entry.text);
        }
        std::memcpy(out, entry.text, sizeof entry.text);
        return out + entry.length;
    }

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
    static constexpr float Zero[3] = {0.0f, 0.0f, 0.0f};

    std::vector<Entry> entries;
    int shift;
};

// Corners: 4096 entries, 256 KiB, enough for the vertices of a few rows of
// facets and small enough to stay in the cache. Normals: 256 entries, as the
// facets that share a normal come in runs.
constexpr int CornerTextBits = 12;
constexpr int NormalTextBits = 8;

StlWriter::StlWriter(platform::OutputFile& output, StlFormat format, std::uint32_t facetCount)
    : output_(output), format_(format), buffer_(new char[BufferSize]) {
    if (format_ == StlFormat::Ascii) {
        cornerText_ = std::make_unique<Text>(CornerTextBits);
        normalText_ = std::make_unique<Text>(NormalTextBits);
        used_ = static_cast<std::size_t>(put(buffer_.get(), "solid\n", 6) - buffer_.get());
    } else {
        auto* out = reinterpret_cast<unsigned char*>(put(buffer_.get(), BinaryHeader, 80));
        storeLittleEndian32(out, facetCount);
        used_ = BinaryHeaderSize;
    }
}

StlWriter::~StlWriter() = default;

// Writes cover whole pages at page-aligned offsets (the tail of a page waits
// for the next block), so the system never has to read a page back to merge
// a partial write into it.
bool StlWriter::flushWholePages() {
    const std::size_t whole = used_ & ~(PageSize - 1);
    const bool written = output_.write(buffer_.get(), whole);
    std::memmove(buffer_.get(), buffer_.get() + whole, used_ - whole);
    used_ -= whole;
    return written;
}

bool StlWriter::writeFacets(const float* facetCorners, const float* normals, std::size_t count) {
    char* const begin = buffer_.get();
    for (std::size_t f = 0; f < count; ++f, facetCorners += 9, normals += 3) {
        if (used_ > BufferSize - MaxFacetText && !flushWholePages()) return false;
        char* out = begin + used_;
        if (format_ == StlFormat::Binary) {
            out = putBinaryFacet(out, facetCorners, normals);
        } else {
            out = normalText_->put(put(out, "facet normal", 12), normals);
            out = put(out, "outer loop\n", 11);
            for (int k = 0; k < 3; ++k) out = cornerText_->put(put(out, "vertex", 6), facetCorners + 3 * k);
            out = put(out, "endloop\nendfacet\n", 17);
        }
        used_ = static_cast<std::size_t>(out - begin);
    }
    return output_.error().empty();
}

bool StlWriter::finish() {
    if (format_ == StlFormat::Ascii) {
        std::memcpy(buffer_.get() + used_, "endsolid", 8);
        used_ += 8;
    }
    const bool written = output_.write(buffer_.get(), used_);
    used_ = 0;
    return written;
}

bool writeStl(platform::OutputFile& output, StlFormat format, const Mesh& mesh) {
    StlWriter writer(output, format, static_cast<std::uint32_t>(mesh.faceCount));
    std::vector<float> normals(3 * std::size_t{FacesPerBlock});
    std::vector<float> corners(9 * std::size_t{FacesPerBlock});
    for (std::int32_t first = 0; first < mesh.faceCount; first += FacesPerBlock) {
        const std::int32_t count = std::min(FacesPerBlock, mesh.faceCount - first);
        const std::int32_t* block = mesh.faces.get() + 3 * static_cast<std::size_t>(first);
        computeFaceNormals(mesh.vertices.get(), block, count, normals.data());
        expandFacets(mesh.vertices.get(), block, count, corners.data());
        if (!writer.writeFacets(corners.data(), normals.data(), static_cast<std::size_t>(count)))
            return false;
    }
    return writer.finish();
}

}  // namespace stlrefine
