// Binary STL: an 80-byte header, a little-endian facet count, then 50 bytes
// per facet (normal, three corners, attribute word).
#include <algorithm>
#include <cstring>

#include "common/arrays.h"
#include "common/console.h"
#include "platform/platform.h"
#include "stl/stl.h"

namespace stlrefine {

namespace {

float loadFloat(const unsigned char* bytes) {
    // Records are not 4-byte aligned, and the format is little-endian.
    const std::uint32_t bits = std::uint32_t{bytes[0]} | std::uint32_t{bytes[1]} << 8 |
                               std::uint32_t{bytes[2]} << 16 | std::uint32_t{bytes[3]} << 24;
    float value;
    std::memcpy(&value, &bits, sizeof value);
    return value;
}

std::uint32_t facetCount(const unsigned char* data) {
    return std::uint32_t{data[80]} | std::uint32_t{data[81]} << 8 | std::uint32_t{data[82]} << 16 |
           std::uint32_t{data[83]} << 24;
}

}  // namespace

namespace {

// Appends the corners of `count` facet records. Offsets 12..47 of a record
// hold the three corners; the stored normal and the attribute word are not
// used. Appending to reserved room writes each point once: resize() would
// zero the whole list first.
void appendCorners(const unsigned char* record, std::size_t count, StlPointList& list) {
    for (std::size_t i = 0; i < count; ++i, record += BinaryRecordSize) {
        for (int corner = 0; corner < 3; ++corner) {
            const unsigned char* p = record + 12 + 12 * corner;
            list.push_back(StlPoint{loadFloat(p), loadFloat(p + 4), loadFloat(p + 8), 0});
        }
    }
}

// Records read per block: about 200 KB, so a block stays in the cache
// between the read and its decoding, and the file never needs a buffer of
// its own size (fresh memory costs more than the copy out of the page cache).
constexpr std::size_t RecordsPerBlock = 4096;

}  // namespace

void parseBinaryStl(const unsigned char* data, std::size_t size, StlPointList& list) {
    if (size < BinaryHeaderSize) return;
    // A file that shrank after detection: decode the complete records only.
    const std::size_t available = (size - BinaryHeaderSize) / BinaryRecordSize;
    const std::size_t count = std::min<std::size_t>(facetCount(data), available);
    list.reserve(list.size() + 3 * count);
    appendCorners(data + BinaryHeaderSize, count, list);
}

void readBinaryStl(StlPointList& list, std::wstring path) {
    platform::InputFile file;
    unsigned char head[BinaryHeaderSize];
    if (file.open(path) && file.read(head, sizeof head) == sizeof head) {
        // The declared facets, but never more complete records than the
        // file holds (it may have shrunk since it was classified).
        std::size_t remaining = facetCount(head);
        const std::int64_t size = file.size();
        if (size >= 0) {
            const auto bytes = static_cast<std::uint64_t>(size);
            const std::uint64_t records =
                bytes > BinaryHeaderSize ? (bytes - BinaryHeaderSize) / BinaryRecordSize : 0;
            remaining = static_cast<std::size_t>(std::min<std::uint64_t>(remaining, records));
            list.reserve(list.size() + 3 * remaining);
        }
        const std::unique_ptr<unsigned char[]> block =
            allocateArray<unsigned char>(RecordsPerBlock * BinaryRecordSize);
        while (remaining > 0) {
            const std::size_t want = std::min(remaining, RecordsPerBlock) * BinaryRecordSize;
            const std::size_t got = file.read(block.get(), want);
            appendCorners(block.get(), got / BinaryRecordSize, list);
            if (got < want) break;
            remaining -= got / BinaryRecordSize;
        }
        file.close();
    }
    printLine("Read binary file success!");
}

}  // namespace stlrefine
