// Front door of STL input: classify the open file from its first bytes and
// hand the rest to the matching parser. Every byte is read once, through the
// one handle the pipeline opened, so a pipe reads like a file.
#include <algorithm>
#include <cstring>
#include <memory>

#include "common/page_hints.h"
#include "stl/little_endian.h"
#include "stl/stl.h"

namespace stlrefine {

StlFormat detectStlFormat(const unsigned char* head, std::size_t headSize, std::uint64_t fileSize) {
    // Binary first: the size must be exactly that of the declared facets.
    if (headSize >= BinaryHeaderSize) {
        const std::uint64_t count = loadLittleEndian32(head + 80);
        if (fileSize == BinaryHeaderSize + BinaryRecordSize * count) return StlFormat::Binary;
    }
    // ASCII only when "solid" stands at the very first byte.
    if (headSize >= 5 && std::memcmp(head, "solid", 5) == 0) return StlFormat::Ascii;
    return StlFormat::NotStl;
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

// ASCII text in blocks as it arrives: the lines of a block are parsed while
// it is in the cache, and no buffer of the file's size is ever made.
constexpr std::size_t AsciiBlockSize = std::size_t{1} << 20;

bool readAsciiStl(platform::InputFile& input, const StlHead& head, StlPointList& corners) {
    corners.reserve(3 * static_cast<std::size_t>(head.fileSize / AsciiBytesPerCorner));
    std::size_t capacity = AsciiBlockSize;
    std::unique_ptr<char[]> block(new char[capacity]);
    std::memcpy(block.get(), head.bytes.get(), head.size);
    std::size_t filled = head.size;
    for (;;) {
        const std::size_t want = capacity - filled;
        const std::size_t got = input.read(block.get() + filled, want);
        if (input.failed()) return false;
        filled += got;
        std::size_t consumed = 0;
        const AsciiStatus status = parseAsciiLines(block.get(), filled, got < want, corners, consumed);
        if (status != AsciiStatus::NeedMore) return status == AsciiStatus::EndReached;
        // The unfinished line moves to the front; a line longer than the
        // block makes the block grow.
        std::memmove(block.get(), block.get() + consumed, filled - consumed);
        filled -= consumed;
        if (filled == capacity) {
            std::unique_ptr<char[]> larger(new char[2 * capacity]);
            std::memcpy(larger.get(), block.get(), filled);
            block = std::move(larger);
            capacity *= 2;
        }
    }
}

// Reads until a read comes back short, after the `bytes` already read; a
// pipe's capacity grows as needed. One byte of room more than the size keeps
// a regular file to one read, plus the one that sees its end.
void readRest(platform::InputFile& input, std::size_t capacity, StlHead& head) {
    capacity = std::max(capacity, head.size + 1);
    std::unique_ptr<char[]> bytes(new char[capacity]);
    platform::adviseLargePages(bytes.get(), capacity);
    if (head.size > 0) std::memcpy(bytes.get(), head.bytes.get(), head.size);
    head.bytes = std::move(bytes);
    for (;;) {
        if (head.size == capacity) {
            std::unique_ptr<char[]> larger(new char[2 * capacity]);
            // Mapped at once rather than a fault per page as the copy and the
            // reads touch them: most of a pipe's time went to those faults.
            platform::adviseLargePages(larger.get(), 2 * capacity);
            platform::prefaultPages(larger.get(), 2 * capacity);
            std::memcpy(larger.get(), head.bytes.get(), head.size);
            head.bytes = std::move(larger);
            capacity *= 2;
        }
        const std::size_t want = capacity - head.size;
        const std::size_t got = input.read(head.bytes.get() + head.size, want);
        head.size += got;
        if (got < want) return;
    }
}

const unsigned char* unsignedBytes(const StlHead& head) {
    return reinterpret_cast<const unsigned char*>(head.bytes.get());
}

}  // namespace

bool detectStlFile(platform::InputFile& input, StlHead& head) {
    const std::int64_t size = input.size();
    head.bytes.reset(new char[BinaryHeaderSize]);
    head.size = input.read(head.bytes.get(), BinaryHeaderSize);
    if (size < 0 && head.size == BinaryHeaderSize) {
        // A pipe: its size is what it delivers, so it is read to its end
        // first and then classified as a file of that size. The room first
        // made is what a binary STL of the facets its header declares needs,
        // so that such a stream is read without a copy; up to 32 MiB, as the
        // count may be anything (pages are touched only as bytes arrive).
        const std::uint64_t declared =
            BinaryHeaderSize + std::uint64_t{BinaryRecordSize} * loadLittleEndian32(unsignedBytes(head) + 80);
        readRest(input, static_cast<std::size_t>(std::clamp<std::uint64_t>(declared + 1, 1 << 16, 1 << 25)),
                 head);
        head.wholeFile = true;
    }
    if (input.failed()) return false;
    head.wholeFile = head.wholeFile || head.size < BinaryHeaderSize;
    head.fileSize = size < 0 ? head.size : static_cast<std::uint64_t>(size);
    head.format = detectStlFormat(unsignedBytes(head), std::min(head.size, BinaryHeaderSize), head.fileSize);
    return true;
}

bool parseStlFile(platform::InputFile& input, const StlHead& head, StlPointList& corners) {
    if (head.format == StlFormat::Binary) {
        const std::uint32_t count = loadLittleEndian32(unsignedBytes(head) + 80);
        if (head.wholeFile) {
            appendBinaryFacets(unsignedBytes(head) + BinaryHeaderSize, head.size - BinaryHeaderSize, count,
                               corners);
        } else {
            readBinaryStl(input, count, corners);
        }
        return false;
    }
    if (head.format != StlFormat::Ascii) return false;
    if (head.wholeFile) return parseAsciiStl(head.bytes.get(), head.size, corners);
    return readAsciiStl(input, head, corners);
}

}  // namespace stlrefine
