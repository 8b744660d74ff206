// Front door of STL input: open, classify, hand to the matching parser.
#include <cstring>

#include "common/console.h"
#include "platform/platform.h"
#include "stl/stl.h"

namespace stlrefine {

StlType classifyStl(const unsigned char* head, std::size_t headSize, std::uint64_t fileSize) {
    // Binary first: the size must be exactly that of the declared facets.
    // Many binary files begin with "solid" too, so the order matters.
    if (headSize >= BinaryHeaderSize) {
        const std::uint64_t count = std::uint64_t{head[80]} | std::uint64_t{head[81]} << 8 |
                                    std::uint64_t{head[82]} << 16 | std::uint64_t{head[83]} << 24;
        if (fileSize == BinaryHeaderSize + BinaryRecordSize * count) return Binary;
    }
    // ASCII only when "solid" stands at the very first byte.
    if (headSize >= 5 && std::memcmp(head, "solid", 5) == 0) return Ascii;
    return NotStl;
}

namespace {

StlType detectOpenFile(platform::InputFile& file) {
    unsigned char head[BinaryHeaderSize];
    const std::int64_t size = file.size();
    const std::size_t headSize = file.read(head, sizeof head);
    // A file whose size cannot be taken (a pipe) never passes the size test.
    const std::uint64_t fileSize = size < 0 ? UINT64_MAX : static_cast<std::uint64_t>(size);
    const StlType type = classifyStl(head, headSize, fileSize);
    switch (type) {
        case Binary: printLine("it binary_stl !!"); break;
        case Ascii: printLine("it ascii_stl"); break;
        default: printLine("it not stl data..."); break;
    }
    return type;
}

}  // namespace

StlType detectStlType(std::wstring path) {
    platform::InputFile file;
    file.open(path);  // a file that does not open reads as empty: NotStl
    return detectOpenFile(file);
}

void readAsciiStl(StlPointList& list, std::wstring path) {
    platform::InputFile file;
    platform::FileBytes bytes;
    if (file.open(path)) bytes = platform::readWhole(file);
    file.close();
    if (parseAsciiStl(reinterpret_cast<const char*>(bytes.data.get()), bytes.size, list)) {
        printLine("Read ascii data success!");
    }
}

std::int32_t readStlFile(StlPointList& list, std::wstring path) {
    list.clear();
    platform::InputFile file;
    if (!file.open(path)) {
        printLine("I/O fail");
        return 0;
    }
    // Each stage opens the file on its own; this one stays open meanwhile, as
    // the proof that the file exists and is readable.
    switch (detectStlType(path)) {
        case Ascii: readAsciiStl(list, path); break;
        case Binary: readBinaryStl(list, path); break;
        default: break;
    }
    return 1;
}

}  // namespace stlrefine
