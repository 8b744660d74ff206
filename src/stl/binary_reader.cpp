// Binary STL: an 80-byte header, a little-endian facet count, then 50 bytes
// per facet (normal, three corners, attribute word).
#include <cstring>

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

void parseBinaryStl(const unsigned char* data, std::size_t size, StlPointList& list) {
    if (size < BinaryHeaderSize) return;
    // A file that shrank after detection: decode the complete records only.
    const std::size_t available = (size - BinaryHeaderSize) / BinaryRecordSize;
    const std::size_t count = std::min<std::size_t>(facetCount(data), available);
    const std::size_t start = list.size();
    list.resize(start + 3 * count);
    StlPoint* out = list.data() + start;
    const unsigned char* record = data + BinaryHeaderSize;
    for (std::size_t i = 0; i < count; ++i, record += BinaryRecordSize) {
        // Offsets 12..47 hold the three corners; the stored normal and the
        // attribute word are not used.
        for (int corner = 0; corner < 3; ++corner) {
            const unsigned char* p = record + 12 + 12 * corner;
            *out++ = StlPoint{loadFloat(p), loadFloat(p + 4), loadFloat(p + 8), 0};
        }
    }
}

void readBinaryStl(StlPointList& list, std::wstring path) {
    platform::InputFile file;
    if (file.open(path)) {
        unsigned char head[BinaryHeaderSize];
        if (file.read(head, sizeof head) == sizeof head) {
            // One read of exactly the declared size: header, count and records.
            const std::uint64_t declared =
                BinaryHeaderSize + std::uint64_t{BinaryRecordSize} * facetCount(head);
            const platform::FileBytes bytes = platform::readRest(file, declared);
            file.close();
            parseBinaryStl(bytes.data.get(), bytes.size, list);
        }
    }
    printLine("Read binary file success!");
}

}  // namespace stlrefine
