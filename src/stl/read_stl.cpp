// Front door of STL input: classify the open file from its first bytes and
// hand the rest to the matching parser. Every byte is read once, through the
// one handle the pipeline opened, so a pipe reads like a file and a file
// replaced meanwhile cannot be classified as one thing and parsed as another.
#include <algorithm>
#include <cstring>
#include <memory>

#include "stl/little_endian.h"
#include "stl/stl.h"

namespace stlrefine {

StlType detectStlType(const unsigned char* head, std::size_t headSize, std::uint64_t fileSize) {
    // Binary first: the size must be exactly that of the declared facets.
    if (headSize >= BinaryHeaderSize) {
        const std::uint64_t count = loadLittleEndian32(head + 80);
        if (fileSize == BinaryHeaderSize + BinaryRecordSize * count) return Binary;
    }
    // ASCII only when "solid" stands at the very first byte.
    if (headSize >= 5 && std::memcmp(head, "solid", 5) == 0) return Ascii;
    return NotStl;
}

namespace {

// Records read per block: about 200 KB, so a block stays in the cache
// between the read and its decoding, and the file never needs a buffer of
// its own size.
constexpr std::size_t RecordsPerBlock = 4096;

void readBinaryStl(platform::InputFile& input, std::uint32_t declared, StlPointList& corners) {
    // A file that shrank since its size was taken gives its complete records:
    // the loop stops at the first short block.
    corners.reserve(9 * std::size_t{declared});
    const std::unique_ptr<unsigned char[]> block(new unsigned char[RecordsPerBlock * BinaryRecordSize]);
    std::size_t remaining = declared;
    while (remaining > 0) {
        const std::size_t want = std::min(remaining, RecordsPerBlock) * BinaryRecordSize;
        const std::size_t got = input.read(block.get(), want);
        remaining -= appendBinaryFacets(block.get(), got, remaining, corners);
        if (got < want) break;
    }
}

// Everything the input holds: the head already read, then the rest up to
// the end. `size` is the file's size, or -1 for a pipe.
struct Bytes {
    std::unique_ptr<char[]> data;
    std::size_t size = 0;
};
Bytes readRest(platform::InputFile& input, std::int64_t size, const unsigned char* head,
               std::size_t headSize) {
    // One byte of room more than the size: a regular file takes one read,
    // plus the one that sees its end.
    std::size_t capacity = std::max<std::size_t>(
        size >= 0 ? static_cast<std::size_t>(size) + 1 : std::size_t{1} << 16, headSize + 1);
    Bytes bytes{std::unique_ptr<char[]>(new char[capacity]), headSize};
    std::memcpy(bytes.data.get(), head, headSize);
    for (;;) {
        if (bytes.size == capacity) {
            std::unique_ptr<char[]> larger(new char[2 * capacity]);
            std::memcpy(larger.get(), bytes.data.get(), bytes.size);
            bytes.data = std::move(larger);
            capacity *= 2;
        }
        const std::size_t want = capacity - bytes.size;
        const std::size_t got = input.read(bytes.data.get() + bytes.size, want);
        bytes.size += got;
        if (got < want) return bytes;
    }
}

}  // namespace

StlRead readStlFile(platform::InputFile& input, StlPointList& corners) {
    StlRead read;
    unsigned char head[BinaryHeaderSize];
    const std::size_t headSize = input.read(head, sizeof head);
    if (input.failed()) {
        read.failed = true;
        return read;
    }
    const std::int64_t size = input.size();
    if (size < 0) {
        // A pipe: its size is what it delivers, so it is read to the end
        // first and then classified and parsed as a file of that size.
        const Bytes all = readRest(input, size, head, headSize);
        read.failed = input.failed();
        if (read.failed) return read;
        const auto* bytes = reinterpret_cast<const unsigned char*>(all.data.get());
        read.detected = true;
        read.type = detectStlType(bytes, std::min(all.size, BinaryHeaderSize), all.size);
        if (read.type == Binary) {
            appendBinaryFacets(bytes + BinaryHeaderSize, all.size - BinaryHeaderSize,
                               loadLittleEndian32(bytes + 80), corners);
        } else if (read.type == Ascii) {
            read.asciiEndReached = parseAsciiStl(all.data.get(), all.size, corners);
        }
        return read;
    }
    read.detected = true;
    read.type = detectStlType(head, headSize, static_cast<std::uint64_t>(size));
    if (read.type == Binary) {
        readBinaryStl(input, loadLittleEndian32(head + 80), corners);
    } else if (read.type == Ascii) {
        const Bytes text = readRest(input, size, head, headSize);
        if (!input.failed()) read.asciiEndReached = parseAsciiStl(text.data.get(), text.size, corners);
    }
    read.failed = input.failed();
    return read;
}

}  // namespace stlrefine
