// Reading a file into memory, the same on every platform.
#include <algorithm>
#include <cstring>

#include "platform/platform.h"

namespace stlrefine::platform {

FileBytes readWhole(InputFile& file) {
    FileBytes bytes;
    const std::int64_t size = file.size();
    if (size >= 0) {
        // A regular file: one read of its size.
        const auto want = static_cast<std::uint64_t>(size);
        if (!file.seek(0)) return bytes;
        if (want > SIZE_MAX) throw std::bad_alloc();
        bytes.data.reset(new unsigned char[std::max<std::size_t>(want, 1)]);
        bytes.size = file.read(bytes.data.get(), static_cast<std::size_t>(want));
        return bytes;
    }
    // A pipe or device: grow the buffer until the end.
    std::size_t capacity = 1 << 16;
    bytes.data.reset(new unsigned char[capacity]);
    for (;;) {
        if (bytes.size == capacity) {
            std::unique_ptr<unsigned char[]> larger(new unsigned char[capacity * 2]);
            std::memcpy(larger.get(), bytes.data.get(), bytes.size);
            bytes.data = std::move(larger);
            capacity *= 2;
        }
        const std::size_t want = capacity - bytes.size;
        const std::size_t got = file.read(bytes.data.get() + bytes.size, want);
        bytes.size += got;
        if (got < want) return bytes;
    }
}

}  // namespace stlrefine::platform
