// Files on POSIX systems. Wide (UTF-32) paths become UTF-8 names; the code
// points U+DC80..U+DCFF stand for the bytes 0x80..0xFF of a name that is not
// valid UTF-8 (the mapping Python calls surrogateescape), so every name on
// disk can be reached.
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>

#include "common/hash.h"
#include "common/utf8.h"
#include "platform/platform.h"

namespace stlrefine::platform {

namespace {

// Gives `advice` for the whole `unit`-aligned units inside the array.
[[maybe_unused]] void adviseWholeUnits(const void* data, std::size_t bytes, std::uintptr_t unit, int advice) {
    const auto first = reinterpret_cast<std::uintptr_t>(data);
    const std::uintptr_t begin = (first + unit - 1) & ~(unit - 1);
    const std::uintptr_t end = (first + bytes) & ~(unit - 1);
    if (end > begin) madvise(reinterpret_cast<void*>(begin), end - begin, advice);
}

}  // namespace

void adviseLargePages(const void* data, std::size_t bytes) noexcept {
#if defined(MADV_HUGEPAGE)
    adviseWholeUnits(data, bytes, std::uintptr_t{1} << 21, MADV_HUGEPAGE);
#else
    (void)data;
    (void)bytes;
#endif
}

void prefaultPages(void* data, std::size_t bytes) noexcept {
#if defined(MADV_POPULATE_WRITE)
    // Older kernels refuse the request; the pages then fault in one by one.
    adviseWholeUnits(data, bytes, static_cast<std::uintptr_t>(::sysconf(_SC_PAGESIZE)), MADV_POPULATE_WRITE);
#else
    (void)data;
    (void)bytes;
#endif
}

namespace {

// Appends the name bytes of one code point; false for one that no name can
// hold (NUL, a surrogate other than an escaped byte, beyond U+10FFFF).
bool appendNameBytes(std::uint32_t c, std::string& out) {
    if (c >= 0xDC80 && c <= 0xDCFF) {
        out.push_back(static_cast<char>(c - 0xDC00));
    } else if (c == 0 || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) {
        return false;
    } else {
        appendUtf8(c, out);
    }
    return true;
}

// The file name of a wide path; false when the path names no file, so that
// it opens nothing rather than some other file.
bool fileName(std::wstring_view path, std::string& out) {
    out.clear();
    out.reserve(path.size());
    for (const wchar_t c : path) {
        if (!appendNameBytes(static_cast<std::uint32_t>(c), out)) return false;
    }
    return !out.empty();
}

// The system's text for an error code, in English whatever the locale.
std::string reasonOf(int error) {
#if defined(__GLIBC__) && (__GLIBC__ > 2 || __GLIBC_MINOR__ >= 32)
    if (const char* text = strerrordesc_np(error)) return text;
#else
    if (const char* text = std::strerror(error)) return text;
#endif
    return "error " + std::to_string(error);
}

int openRetrying(const char* name, int flags, mode_t mode = 0) {
    int fd;
    do {
        fd = ::open(name, flags | O_CLOEXEC, mode);
    } while (fd < 0 && errno == EINTR);
    return fd;
}

// The file a chain of symbolic links ends at, so that the link stays a link
// and its target receives the new bytes. A dangling link names the file it
// would create.
std::string finalTarget(std::string name) {
    for (int hop = 0; hop < 40; ++hop) {
        struct stat info {};
        if (::lstat(name.c_str(), &info) != 0 || !S_ISLNK(info.st_mode)) return name;
        std::string link(static_cast<std::size_t>(std::max<off_t>(info.st_size, 0)) + 256, '\0');
        const ssize_t length = ::readlink(name.c_str(), link.data(), link.size());
        if (length < 0 || static_cast<std::size_t>(length) >= link.size()) return name;
        link.resize(static_cast<std::size_t>(length));
        const std::size_t slash = name.rfind('/');
        name = link[0] == '/' || slash == std::string::npos ? link : name.substr(0, slash + 1) + link;
    }
    return name;
}

// A temporary file beside `target`, named so that a user knows it for one
// (".out.stl.<random>.tmp", with at most TemporaryBaseLength bytes of the
// output's name, so that it fits wherever the output's name fits) and
// created exclusively, so that it never collides with another call. The
// permission bits are those of a new file (0666 less the umask). Returns the
// descriptor, or -1 with errno set and `name` empty: it must never name a
// file that this call did not make, such as another call's temporary file.
constexpr std::size_t TemporaryBaseLength = 100;

int createTemporary(const std::string& target, std::string& name) {
    const std::size_t slash = target.rfind('/');
    const std::string folder = slash == std::string::npos ? "" : target.substr(0, slash + 1);
    const std::string base =
        (slash == std::string::npos ? target : target.substr(slash + 1)).substr(0, TemporaryBaseLength);
    const auto ticks = static_cast<std::uint64_t>(
        std::chrono::steady_clock::now().time_since_epoch().count());
    std::uint64_t bits = mixBits(ticks ^ reinterpret_cast<std::uintptr_t>(&name) ^
                                 (static_cast<std::uint64_t>(::getpid()) << 32));
    for (int attempt = 0; attempt < 100; ++attempt) {
        static constexpr char Digits[] = "0123456789abcdefghijklmnopqrstuvwxyz";
        std::string suffix;
        for (int i = 0; i < 8; ++i, bits /= 36) suffix.push_back(Digits[bits % 36]);
        name = folder + "." + base + "." + suffix + ".tmp";
        const int fd = openRetrying(name.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0666);
        if (fd >= 0) return fd;
        if (errno != EEXIST) break;
        bits = mixBits(bits + static_cast<std::uint64_t>(attempt) + 1);
    }
    name.clear();
    return -1;
}

}  // namespace

std::string displayPath(std::wstring_view path) {
    std::string out;
    for (const wchar_t c : path) {
        if (!appendNameBytes(static_cast<std::uint32_t>(c), out)) appendUtf8(0xFFFD, out);
    }
    return out;
}

InputFile::~InputFile() { close(); }

bool InputFile::open(std::wstring_view path) {
    close();
    std::string name;
    if (!fileName(path, name)) {
        error_ = reasonOf(ENOENT);
        return false;
    }
    const int fd = openRetrying(name.c_str(), O_RDONLY);
    if (fd < 0) {
        error_ = reasonOf(errno);
        return false;
    }
    struct stat info {};
    if (::fstat(fd, &info) != 0 || S_ISDIR(info.st_mode)) {
        error_ = reasonOf(EISDIR);
        ::close(fd);
        return false;
    }
    fd_ = fd;
    error_.clear();
    return true;
}

std::int64_t InputFile::size() const {
    struct stat info {};
    if (fd_ < 0 || ::fstat(fd_, &info) != 0 || !S_ISREG(info.st_mode)) return -1;
    return static_cast<std::int64_t>(info.st_size);
}

std::size_t InputFile::read(void* destination, std::size_t n) {
    auto* out = static_cast<unsigned char*>(destination);
    std::size_t done = 0;
    while (fd_ >= 0 && !failed() && done < n) {
        // Large reads in slices: some systems cap a single read below 2 GiB.
        const std::size_t want = std::min<std::size_t>(n - done, std::size_t{1} << 30);
        const ssize_t got = ::read(fd_, out + done, want);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) error_ = reasonOf(errno);
        if (got <= 0) break;
        done += static_cast<std::size_t>(got);
    }
    return done;
}

void InputFile::close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
}

OutputFile::~OutputFile() { discard(); }

bool OutputFile::fail(const std::string& reason) {
    if (error_.empty()) error_ = reason;
    return false;
}

bool OutputFile::open(std::wstring_view path, Mode mode) {
    discard();
    error_.clear();
    temporary_.clear();
    mode_ = mode;
    std::string name;
    if (!fileName(path, name)) return fail(reasonOf(ENOENT));
    // A regular file is replaced where its chain of symbolic links ends, so
    // that the links stay links. Anything else is written through the name
    // itself: a link to a pipe, such as /dev/stdout, ends at no name at all.
    struct stat info {};
    const bool exists = ::stat(name.c_str(), &info) == 0;
    target_ = exists && !S_ISREG(info.st_mode) ? name : finalTarget(name);
    if (!exists) {
        // A new file: nothing to keep, but a crash must not leave it half
        // written either, so it is made under a temporary name too.
        fd_ = createTemporary(target_, temporary_);
        if (fd_ < 0) return fail(reasonOf(errno));
        return true;
    }
    if (S_ISDIR(info.st_mode)) return fail(reasonOf(EISDIR));
    // The caller must be allowed to write the file itself: a rename would get
    // past its permissions, the caller's rights would not. (A FIFO opens once
    // a reader comes, as for any writer.)
    const int existing = openRetrying(target_.c_str(), O_WRONLY);
    if (existing < 0) return fail(reasonOf(errno));
    if (S_ISREG(info.st_mode) && info.st_nlink == 1) {
        fd_ = createTemporary(target_, temporary_);
        if (fd_ >= 0) {
            // The new file takes the place of the old one with its owner and
            // permission bits (set after the owner, which clears set-id
            // bits). When either cannot be given to it, as for another
            // user's file (which a sticky folder would not let us replace
            // anyway), the file is written in place instead.
            const bool ownerKept = ::fchown(fd_, info.st_uid, info.st_gid) == 0 ||
                                   ::fchown(fd_, info.st_uid, static_cast<gid_t>(-1)) == 0 ||
                                   info.st_uid == ::geteuid();
            if (ownerKept && ::fchmod(fd_, info.st_mode & 07777) == 0) {
                ::close(existing);
                return true;
            }
            discard();
        } else {
            if (errno != EACCES && errno != EPERM && errno != EROFS) {
                const int error = errno;
                ::close(existing);
                return fail(reasonOf(error));
            }
        }
    }
    // Devices, FIFOs, files with several names and files in folders where no
    // new file can be made: written in place.
    if (S_ISREG(info.st_mode) && ::ftruncate(existing, 0) != 0) {
        const int error = errno;
        ::close(existing);
        return fail(reasonOf(error));
    }
    fd_ = existing;
    return true;
}

bool OutputFile::write(const char* data, std::size_t n) {
    while (fd_ >= 0 && error_.empty() && n > 0) {
        const ssize_t put = ::write(fd_, data, std::min<std::size_t>(n, std::size_t{1} << 30));
        if (put < 0 && errno == EINTR) continue;
        if (put < 0) return fail(reasonOf(errno));
        if (put == 0) return fail(reasonOf(EIO));
        data += put;
        n -= static_cast<std::size_t>(put);
    }
    return fd_ >= 0 && error_.empty();
}

bool OutputFile::commit() {
    if (fd_ < 0 || !error_.empty()) {
        discard();
        return fail(reasonOf(EBADF));
    }
    const int fd = fd_;
    fd_ = -1;
    // A file system may report a deferred write error only at close.
    if (::close(fd) != 0 && errno != EINTR) {
        fail(reasonOf(errno));
        if (temporary_.empty()) ::truncate(target_.c_str(), 0);
        discard();
        return false;
    }
    if (!temporary_.empty()) {
        if (::rename(temporary_.c_str(), target_.c_str()) != 0) {
            fail(reasonOf(errno));
            discard();
            return false;
        }
        temporary_.clear();
    }
    return true;
}

void OutputFile::discard() {
    if (fd_ >= 0) {
        // In place, the old bytes are gone already: an empty file is better
        // than a partial mesh that looks complete.
        if (temporary_.empty()) {
            while (::ftruncate(fd_, 0) != 0 && errno == EINTR) {
            }
        }
        ::close(fd_);
        fd_ = -1;
    }
    if (!temporary_.empty()) {
        ::unlink(temporary_.c_str());
        temporary_.clear();
    }
}

}  // namespace stlrefine::platform
