// Files on POSIX systems: wide (UTF-32) paths are converted to UTF-8 names.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cwchar>

#include "platform/platform.h"

namespace stlrefine::platform {

bool toUtf8Path(const std::wstring& path, std::string& out) {
    out.clear();
    out.reserve(path.size());
    for (const wchar_t wide : path) {
        const auto c = static_cast<std::uint32_t>(wide);
        if (c == 0 || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) return false;
        if (c < 0x80) {
            out.push_back(static_cast<char>(c));
        } else if (c < 0x800) {
            out.push_back(static_cast<char>(0xC0 | (c >> 6)));
            out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        } else if (c < 0x10000) {
            out.push_back(static_cast<char>(0xE0 | (c >> 12)));
            out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        } else {
            out.push_back(static_cast<char>(0xF0 | (c >> 18)));
            out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        }
    }
    return !out.empty();
}

InputFile::~InputFile() { close(); }

bool InputFile::open(const std::wstring& path) {
    close();
    std::string name;
    if (!toUtf8Path(path, name)) return false;
    int fd;
    do {
        fd = ::open(name.c_str(), O_RDONLY | O_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) return false;
    struct stat info {};
    if (::fstat(fd, &info) != 0 || S_ISDIR(info.st_mode)) {
        ::close(fd);
        return false;
    }
    fd_ = fd;
    return true;
}

bool InputFile::isOpen() const { return fd_ >= 0; }

std::int64_t InputFile::size() const {
    struct stat info {};
    if (fd_ < 0 || ::fstat(fd_, &info) != 0 || !S_ISREG(info.st_mode)) return -1;
    return static_cast<std::int64_t>(info.st_size);
}

bool InputFile::seek(std::uint64_t offset) {
    return fd_ >= 0 && ::lseek(fd_, static_cast<off_t>(offset), SEEK_SET) >= 0;
}

std::size_t InputFile::read(void* destination, std::size_t n) {
    auto* out = static_cast<unsigned char*>(destination);
    std::size_t done = 0;
    while (fd_ >= 0 && done < n) {
        // Large reads in slices: some systems cap a single read below 2 GiB.
        const std::size_t want = std::min<std::size_t>(n - done, std::size_t{1} << 30);
        const ssize_t got = ::read(fd_, out + done, want);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) break;
        done += static_cast<std::size_t>(got);
    }
    return done;
}

void InputFile::close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
}

OutputFile::~OutputFile() { close(); }

bool OutputFile::open(const std::wstring& path) {
    close();
    std::string name;
    if (!toUtf8Path(path, name)) return false;
    // No O_TRUNC: an existing file is cut to the written length in close().
    // Rewriting the pages a file already has is several times cheaper than
    // freeing them at open and allocating them again (65 MB: about 10 ms
    // against 40-60 ms on ext4), and the finished file is the same.
    int fd;
    do {
        fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0666);
    } while (fd < 0 && errno == EINTR);
    fd_ = fd;
    return fd_ >= 0;
}

void OutputFile::write(const char* data, std::size_t n) {
    while (fd_ >= 0 && n > 0) {
        const ssize_t put = ::write(fd_, data, n);
        if (put < 0 && errno == EINTR) continue;
        if (put <= 0) return;
        data += put;
        n -= static_cast<std::size_t>(put);
    }
}

void OutputFile::close() {
    if (fd_ < 0) return;
    // Drop whatever an earlier, longer file left past the written end. Pipes
    // and devices have no length to cut (lseek or ftruncate fails: harmless).
    const off_t end = ::lseek(fd_, 0, SEEK_CUR);
    if (end >= 0) {
        while (::ftruncate(fd_, end) != 0 && errno == EINTR) {
        }
    }
    ::close(fd_);
    fd_ = -1;
}

}  // namespace stlrefine::platform
