// Files on POSIX systems. Wide (UTF-32) paths become names of bytes by the
// codec of common/utf8.h, escaped bytes included, so every name on disk can
// be reached.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "common/utf8.h"
#include "platform/platform.h"
#include "platform/temporary_name.h"

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

// The file name of a wide path; false when the path names no file, so that
// it opens nothing rather than some other file.
bool fileName(std::wstring_view path, std::string& out) {
    out.clear();
    return nameBytes(path, out) && !out.empty();
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

// The file a chain of symbolic links ends at. It only tells where to look
// for a file that the system has already let the caller open through
// `name`; what it finds there is confirmed against that open file.
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

// A name's folder ("." for none) and last component.
void splitName(const std::string& name, std::string& folder, std::string& base) {
    const std::size_t slash = name.rfind('/');
    folder = slash == std::string::npos ? "." : slash == 0 ? "/" : name.substr(0, slash);
    base = slash == std::string::npos ? name : name.substr(slash + 1);
}

// A folder, opened to make and rename files in it by name (*at calls), so
// that it stays the same folder for the whole call.
int openFolder(const std::string& folder) {
#if defined(O_PATH)
    return openRetrying(folder.c_str(), O_PATH | O_DIRECTORY);
#else
    return openRetrying(folder.c_str(), O_RDONLY | O_DIRECTORY);
#endif
}

// A temporary file in `folder` (temporary_name.h), created exclusively
// (never through a link, never another call's file) and readable by its
// owner only. Returns the descriptor, or -1 with errno set and `name` empty.
int createTemporary(int folder, const std::string& base, std::string& name) {
    int fd = -1;
    makeTemporary<char>(
        "", base, static_cast<std::uint64_t>(::getpid()), name, [&](const std::string& candidate) {
            do {
                fd = ::openat(folder, candidate.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                              0600);
            } while (fd < 0 && errno == EINTR);
            return fd >= 0 ? Attempt::Made : errno == EEXIST ? Attempt::NameTaken : Attempt::Failed;
        });
    return fd;
}

// The process's umask, read without setting it (umask() would change it for
// a moment for every thread of the host); 077 where the system does not say,
// so that a new file is never more open than asked.
mode_t currentUmask() {
    const int fd = openRetrying("/proc/self/status", O_RDONLY);
    if (fd < 0) return 077;
    char text[4096];
    ssize_t length;
    do {
        length = ::read(fd, text, sizeof text - 1);
    } while (length < 0 && errno == EINTR);
    ::close(fd);
    text[std::max<ssize_t>(length, 0)] = '\0';
    const char* field = std::strstr(text, "\nUmask:");
    return field == nullptr ? 077 : static_cast<mode_t>(std::strtoul(field + 7, nullptr, 8) & 0777);
}

// POSIX ACLs as the kernel stores them in an extended attribute: a 4-byte
// version, then entries of a 16-bit tag, 16-bit permissions and 32-bit id,
// little-endian.
constexpr const char* AccessAcl = "system.posix_acl_access";
constexpr const char* DefaultAcl = "system.posix_acl_default";

// An extended attribute's value; false when the file has none (or the file
// system keeps none), and errno set when it could not be read.
bool readAttribute(int fd, const char* name, std::string& value) {
    for (;;) {
        const ssize_t size = ::fgetxattr(fd, name, nullptr, 0);
        if (size < 0) break;
        value.resize(static_cast<std::size_t>(size));
        const ssize_t got = ::fgetxattr(fd, name, value.data(), value.size());
        if (got >= 0) {
            value.resize(static_cast<std::size_t>(got));
            return true;
        }
        if (errno != ERANGE) break;  // it grew meanwhile: ask again
    }
    value.clear();
    if (errno == ENODATA || errno == ENOTSUP) errno = 0;
    return false;
}

// The access ACL that a file created with mode 0666 gets in a folder with
// this default ACL: the owner's, the mask's (or without a mask the group's)
// and others' entries lose their execute bit; umask plays no part.
std::string aclOfNewFile(std::string acl) {
    constexpr unsigned Owner = 0x01, Group = 0x04, Mask = 0x10, Others = 0x20;
    const auto tag = [&](std::size_t entry) {
        return static_cast<unsigned>(static_cast<unsigned char>(acl[entry])) |
               static_cast<unsigned>(static_cast<unsigned char>(acl[entry + 1])) << 8;
    };
    bool hasMask = false;
    for (std::size_t entry = 4; entry + 8 <= acl.size(); entry += 8) hasMask = hasMask || tag(entry) == Mask;
    for (std::size_t entry = 4; entry + 8 <= acl.size(); entry += 8) {
        const unsigned t = tag(entry);
        if (t == Owner || t == Others || t == (hasMask ? Mask : Group))
            acl[entry + 2] = static_cast<char>(acl[entry + 2] & ~1);
    }
    return acl;
}

// Gives `to` the user.* extended attributes of `from`; false (errno set) if
// one cannot be read or given.
bool copyUserAttributes(int from, int to) {
    std::string names(256, '\0');
    ssize_t length;
    while ((length = ::flistxattr(from, names.data(), names.size())) < 0 && errno == ERANGE) {
        names.resize(names.size() * 2);
    }
    if (length < 0) return errno == ENOTSUP;
    std::string value;
    for (std::size_t at = 0; at < static_cast<std::size_t>(length); at += std::strlen(&names[at]) + 1) {
        const char* name = &names[at];
        if (std::strncmp(name, "user.", 5) != 0) continue;
        if (!readAttribute(from, name, value)) {
            if (errno != 0) return false;
            continue;  // removed meanwhile
        }
        if (::fsetxattr(to, name, value.data(), value.size(), 0) != 0) return false;
    }
    return true;
}

}  // namespace

std::string displayPath(std::wstring_view path) { return nameText(path); }

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

bool InputFile::openStandardInput() {
    close();
    fd_ = ::fcntl(STDIN_FILENO, F_DUPFD_CLOEXEC, 0);
    if (fd_ < 0) {
        error_ = reasonOf(errno);
        return false;
    }
    // A regular file read from its start is read as a file by its name
    // would be; anything else as a stream.
    struct stat info {};
    stream_ = ::fstat(fd_, &info) != 0 || !S_ISREG(info.st_mode) || ::lseek(fd_, 0, SEEK_CUR) != 0;
#if defined(F_SETPIPE_SZ)
    // A larger pipe lets the writer run ahead: fewer switches between it and
    // this process while the whole stream is read. Only a hint.
    if (S_ISFIFO(info.st_mode)) static_cast<void>(::fcntl(fd_, F_SETPIPE_SZ, 1 << 20));
#endif
    error_.clear();
    return true;
}

std::int64_t InputFile::size() const {
    struct stat info {};
    if (fd_ < 0 || stream_ || ::fstat(fd_, &info) != 0 || !S_ISREG(info.st_mode)) return -1;
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
    stream_ = false;
}

void PendingOutput::cleanUp() noexcept {
    if (const char* name = temporary_.load()) ::unlinkat(folder_.load(), name, 0);
    if (const int fd = inPlace_.load(); fd >= 0) static_cast<void>(::ftruncate(fd, 0));
}

OutputFile::~OutputFile() { discard(); }

bool OutputFile::fail(const std::string& reason) {
    if (error_.empty()) error_ = reason;
    return false;
}

bool OutputFile::open(std::wstring_view path, Mode mode, PendingOutput* pending) {
    discard();
    error_.clear();
    mode_ = mode;
    pending_ = pending;
    std::string name;
    if (!fileName(path, name)) return fail(reasonOf(ENOENT));
    // Opened as the caller would open it, so that the system judges the
    // name: permissions, links in shared folders, loops.
    int existing = openRetrying(name.c_str(), O_WRONLY | O_NOCTTY);
    if (existing < 0 && errno == ENOENT) {
        struct stat link {};
        if (::lstat(name.c_str(), &link) != 0) {
            if (errno != ENOENT) return fail(reasonOf(errno));
            // Nothing there: a new file, made under a temporary name too so
            // that a crash never leaves it half written.
            return createBeside(name);
        }
        // A link to a file that does not exist yet, followed as the system
        // allows: the file it names is created, empty, and then replaced.
        existing = openRetrying(name.c_str(), O_WRONLY | O_NOCTTY | O_CREAT, 0666);
    }
    if (existing < 0) return fail(reasonOf(errno));
    if (replaceBeside(existing, name)) return true;
    if (!error_.empty()) return false;
    return writeInPlace(existing);
}

bool OutputFile::openStandardOutput(Mode mode) {
    discard();
    error_.clear();
    mode_ = mode;
    pending_ = nullptr;
    fd_ = ::fcntl(STDOUT_FILENO, F_DUPFD_CLOEXEC, 0);
    if (fd_ < 0) return fail(reasonOf(errno));
    stream_ = true;
    return true;
}

// A new file beside a folder's other files; false with error_ set when the
// folder cannot be opened or takes no new file.
bool OutputFile::createBeside(const std::string& name) {
    std::string folder;
    splitName(name, folder, target_);
    if (target_.empty()) return fail(reasonOf(EISDIR));
    folder_ = openFolder(folder);
    if (folder_ < 0) return fail(reasonOf(errno));
    fd_ = createTemporary(folder_, target_, temporary_);
    if (fd_ < 0) {
        const int error = errno;
        discard();
        return fail(reasonOf(error));
    }
    // What the file would have got, had it been created directly.
    std::string acl;
    const std::string self = "/proc/self/fd/" + std::to_string(folder_);
    const ssize_t size = ::getxattr(self.c_str(), DefaultAcl, nullptr, 0);
    if (size > 0) {
        acl.resize(static_cast<std::size_t>(size));
        const ssize_t got = ::getxattr(self.c_str(), DefaultAcl, acl.data(), acl.size());
        acl.resize(static_cast<std::size_t>(std::max<ssize_t>(got, 0)));
    }
    acl_ = acl.empty() ? std::string() : aclOfNewFile(acl);
    modeBits_ = 0666 & ~currentUmask();
    if (pending_ != nullptr) pending_->folder_ = folder_, pending_->temporary_ = temporary_.c_str();
    return true;
}

// A regular file with one name is replaced by a new file in its folder, when
// that folder holds the very file that was opened and the new file can take
// its owner and attributes. False otherwise: with error_ set on a failure
// that no writing in place can avoid, else to write it in place.
bool OutputFile::replaceBeside(int existing, const std::string& name) {
    struct stat info {};
    if (::fstat(existing, &info) != 0) {
        const int error = errno;
        ::close(existing);
        return fail(reasonOf(error));
    }
    if (!S_ISREG(info.st_mode) || info.st_nlink != 1) return false;
    std::string folder;
    splitName(finalTarget(name), folder, target_);
    struct stat there {};
    folder_ = target_.empty() ? -1 : openFolder(folder);
    const bool same = folder_ >= 0 && ::fstatat(folder_, target_.c_str(), &there, AT_SYMLINK_NOFOLLOW) == 0 &&
                      there.st_dev == info.st_dev && there.st_ino == info.st_ino;
    if (same) fd_ = createTemporary(folder_, target_, temporary_);
    if (fd_ < 0) {
        const int error = errno;
        discard();
        // Folders where no new file may be made are no failure: the file is
        // written in place there.
        if (same && error != EACCES && error != EPERM && error != EROFS) {
            ::close(existing);
            return fail(reasonOf(error));
        }
        return false;
    }
    // The owner, then the attributes, while the file is still empty and
    // private; the permission bits and the ACL only once it is complete
    // (commit). A file whose owner cannot be given to a new file, as another
    // user's (which a sticky folder would not let us replace anyway), is
    // written in place instead.
    const bool ownerKept = ::fchown(fd_, info.st_uid, info.st_gid) == 0 ||
                           ::fchown(fd_, info.st_uid, static_cast<gid_t>(-1)) == 0 ||
                           info.st_uid == ::geteuid();
    errno = 0;
    const bool aclRead = readAttribute(existing, AccessAcl, acl_) || errno == 0;
    if (!ownerKept || !aclRead || !copyUserAttributes(existing, fd_)) {
        discard();
        return false;
    }
    modeBits_ = info.st_mode & 07777;
    ::close(existing);
    if (pending_ != nullptr) pending_->folder_ = folder_, pending_->temporary_ = temporary_.c_str();
    return true;
}

// Devices, FIFOs, files with several names and files that cannot be
// replaced: written through the descriptor the caller's name opened. A
// regular file is locked for the whole call and emptied first.
bool OutputFile::writeInPlace(int existing) {
    struct stat info {};
    if (::fstat(existing, &info) == 0 && S_ISREG(info.st_mode)) {
        // Another call writing the same file in place finishes first. Where
        // the file system has no locks, the file is written all the same.
        while (::flock(existing, LOCK_EX) != 0 && errno == EINTR) {
        }
        if (::ftruncate(existing, 0) != 0) {
            const int error = errno;
            ::close(existing);
            return fail(reasonOf(error));
        }
        if (pending_ != nullptr) pending_->inPlace_ = existing;
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
    if (!temporary_.empty()) {
        // The complete file takes the permissions it is to have.
        const bool given = ::fchmod(fd_, modeBits_) == 0 &&
                           (acl_.empty() || ::fsetxattr(fd_, AccessAcl, acl_.data(), acl_.size(), 0) == 0);
        if (!given) {
            fail(reasonOf(errno));
            discard();
            return false;
        }
    }
    // A file system may report a deferred write error only at close; an
    // in-place file must still be reachable then, to be emptied.
    const int spare = temporary_.empty() && !stream_ ? ::fcntl(fd_, F_DUPFD_CLOEXEC, 0) : -1;
    const int fd = fd_;
    fd_ = spare;
    if (pending_ != nullptr && temporary_.empty()) pending_->inPlace_ = spare;
    if (::close(fd) != 0 && errno != EINTR) {
        fail(reasonOf(errno));
        discard();
        return false;
    }
    if (!temporary_.empty() && ::renameat(folder_, temporary_.c_str(), folder_, target_.c_str()) != 0) {
        fail(reasonOf(errno));
        discard();
        return false;
    }
    if (pending_ != nullptr) pending_->inPlace_ = -1, pending_->temporary_ = nullptr;
    temporary_.clear();
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
    discard();
    return true;
}

void OutputFile::discard() {
    if (pending_ != nullptr) pending_->inPlace_ = -1, pending_->temporary_ = nullptr, pending_->folder_ = -1;
    if (fd_ >= 0) {
        // In place, the old bytes are gone already: an empty file is better
        // than a partial mesh that looks complete.
        if (temporary_.empty() && !stream_) {
            while (::ftruncate(fd_, 0) != 0 && errno == EINTR) {
            }
        }
        ::close(fd_);
        fd_ = -1;
    }
    if (!temporary_.empty()) {
        ::unlinkat(folder_, temporary_.c_str(), 0);
        temporary_.clear();
    }
    if (folder_ >= 0) ::close(folder_);
    folder_ = -1;
    acl_.clear();
    stream_ = false;
}

}  // namespace stlrefine::platform
