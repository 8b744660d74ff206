// Files on Windows: opened by their UTF-16 path through the Win32 API, so no
// name ever passes through a narrow code page. Text output stores each line
// feed as CR LF, translated here rather than by the C runtime. The output
// replaces its target with MoveFileExW once complete. (A symbolic link as
// output is replaced by the new file here; reparse points are not followed.)
#ifndef WIN32_LEAN_AND_MEAN
#  define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#  define NOMINMAX
#endif
#include <windows.h>
#include <aclapi.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>

#include "common/utf8.h"
#include "platform/platform.h"
#include "platform/temporary_name.h"

namespace stlrefine::platform {

// Large pages on Windows need a privilege that programs rarely hold, and
// then must be allocated as such; ordinary arrays keep ordinary pages.
void adviseLargePages(const void*, std::size_t) noexcept {}
void prefaultPages(void*, std::size_t) noexcept {}

namespace {

// Others may read, write, rename or delete the file while we hold it open.
constexpr DWORD ShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// Largest single ReadFile/WriteFile request; their byte counts are 32-bit.
constexpr std::size_t MaxTransfer = std::size_t{1} << 30;

// The name handed to CreateFileW. Full paths of MAX_PATH characters or more
// only open in the "\\?\" form, which takes a full path with backslashes
// only; shorter paths go as they are, relative ones included. The limit is
// judged with room for the temporary file's longer name beside the output.
bool win32Name(std::wstring_view path, std::wstring& name) {
    if (path.empty() || path.find(L'\0') != std::wstring_view::npos) return false;
    if (path.substr(0, 4) == L"\\\\?\\") {
        name = path;
        return true;
    }
    const std::wstring whole(path);
    const DWORD needed = GetFullPathNameW(whole.c_str(), 0, nullptr, nullptr);
    if (needed == 0) return false;
    std::wstring full(needed, L'\0');
    const DWORD length = GetFullPathNameW(whole.c_str(), needed, full.data(), nullptr);
    if (length == 0 || length >= needed) return false;
    full.resize(length);
    if (full.size() + TemporaryExtra < MAX_PATH) {
        name = whole;
        return true;
    }
    if (full.compare(0, 2, L"\\\\") == 0) {
        name = L"\\\\?\\UNC\\" + full.substr(2);  // \\server\share\...
    } else {
        name = L"\\\\?\\" + full;
    }
    return true;
}

// The system's text for an error code, in English whatever the user's
// language, without the trailing period and line end.
std::string reasonOf(DWORD error) {
    char text[512];
    DWORD length = 0;
    for (const DWORD language : {DWORD(MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US)), DWORD(0)}) {
        length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error,
                                language, text, sizeof text, nullptr);
        if (length > 0) break;
    }
    while (length > 0 && (text[length - 1] == '\n' || text[length - 1] == '\r' || text[length - 1] == '.' ||
                          text[length - 1] == ' ')) {
        --length;
    }
    if (length == 0) return "error " + std::to_string(error);
    return std::string(text, length);
}

// Writes all n bytes; false when the system refuses.
bool writeAll(HANDLE handle, const char* data, std::size_t n) {
    while (n > 0) {
        const auto want = static_cast<DWORD>(std::min(n, MaxTransfer));
        DWORD put = 0;
        if (!WriteFile(handle, data, want, &put, nullptr)) return false;
        if (put == 0) {
            SetLastError(ERROR_WRITE_FAULT);
            return false;
        }
        data += put;
        n -= put;
    }
    return true;
}

// A temporary file beside `target` (temporary_name.h), created exclusively
// so that it never collides with another call. On failure `name` is empty
// and the last error says why. `security`, when given, is the access the
// file gets from its creation on.
HANDLE createTemporary(std::wstring_view target, std::wstring& name,
                       SECURITY_ATTRIBUTES* security = nullptr) {
    const std::size_t slash = target.find_last_of(PathSeparators);
    const std::size_t base = slash == std::wstring_view::npos ? 0 : slash + 1;
    HANDLE handle = INVALID_HANDLE_VALUE;
    makeTemporary(target.substr(0, base), target.substr(base), GetCurrentProcessId(), name,
                  [&](const std::wstring& candidate) {
                      handle = CreateFileW(candidate.c_str(), GENERIC_WRITE, ShareAll, security, CREATE_NEW,
                                           FILE_ATTRIBUTE_NORMAL, nullptr);
                      return handle != INVALID_HANDLE_VALUE        ? Attempt::Made
                             : GetLastError() == ERROR_FILE_EXISTS ? Attempt::NameTaken
                                                                   : Attempt::Failed;
                  });
    return handle;
}

}  // namespace

InputFile::~InputFile() { close(); }

// Names here are UTF-16, not bytes: no code point stands for a byte, and
// every unpaired surrogate reads U+FFFD.
std::string displayPath(std::wstring_view path) { return nameText(path, false); }

bool InputFile::open(std::wstring_view path) {
    close();
    std::wstring name;
    if (!win32Name(path, name)) {
        error_ = reasonOf(ERROR_INVALID_NAME);
        return false;
    }
    // Without FILE_FLAG_BACKUP_SEMANTICS a directory does not open at all;
    // the attribute check below makes that independent of the file system.
    const HANDLE handle = CreateFileW(name.c_str(), GENERIC_READ, ShareAll, nullptr, OPEN_EXISTING,
                                      FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        error_ = reasonOf(GetLastError());
        return false;
    }
    BY_HANDLE_FILE_INFORMATION info{};
    if (GetFileType(handle) == FILE_TYPE_DISK && (!GetFileInformationByHandle(handle, &info) ||
                                                  (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0)) {
        error_ = reasonOf(ERROR_DIRECTORY);
        CloseHandle(handle);
        return false;
    }
    handle_ = handle;
    error_.clear();
    return true;
}

namespace {

// A handle of our own to one of the process's standard handles, or null.
void* duplicateStandard(DWORD which) {
    const HANDLE standard = GetStdHandle(which);
    HANDLE own = nullptr;
    if (standard == nullptr || standard == INVALID_HANDLE_VALUE ||
        !DuplicateHandle(GetCurrentProcess(), standard, GetCurrentProcess(), &own, 0, FALSE,
                         DUPLICATE_SAME_ACCESS)) {
        return nullptr;
    }
    return own;
}

}  // namespace

bool InputFile::openStandardInput() {
    close();
    handle_ = duplicateStandard(STD_INPUT_HANDLE);
    if (handle_ == nullptr) {
        error_ = reasonOf(ERROR_INVALID_HANDLE);
        return false;
    }
    stream_ = true;
    error_.clear();
    return true;
}

std::int64_t InputFile::size() const {
    const HANDLE handle = static_cast<HANDLE>(handle_);
    LARGE_INTEGER size{};
    if (handle_ == nullptr || stream_ || GetFileType(handle) != FILE_TYPE_DISK ||
        !GetFileSizeEx(handle, &size)) {
        return -1;
    }
    return static_cast<std::int64_t>(size.QuadPart);
}

std::size_t InputFile::read(void* destination, std::size_t n) {
    auto* out = static_cast<unsigned char*>(destination);
    std::size_t done = 0;
    while (handle_ != nullptr && !failed() && done < n) {
        const auto want = static_cast<DWORD>(std::min(n - done, MaxTransfer));
        DWORD got = 0;
        if (!ReadFile(static_cast<HANDLE>(handle_), out + done, want, &got, nullptr)) {
            // A pipe whose writer has gone reports this instead of end of file.
            if (GetLastError() != ERROR_BROKEN_PIPE) error_ = reasonOf(GetLastError());
            break;
        }
        if (got == 0) break;
        done += got;
    }
    return done;
}

void InputFile::close() {
    if (handle_ != nullptr) CloseHandle(static_cast<HANDLE>(handle_));
    handle_ = nullptr;
    stream_ = false;
}

// The temporary file was opened with FILE_SHARE_DELETE: it goes once the
// process, and with it the handle, is gone.
void PendingOutput::cleanUp() noexcept {
    if (const wchar_t* name = temporary_.load()) DeleteFileW(name);
}

OutputFile::~OutputFile() { discard(); }

bool OutputFile::fail(const std::string& reason) {
    if (error_.empty()) error_ = reason;
    return false;
}

bool OutputFile::open(std::wstring_view path, Mode mode, PendingOutput* pending) {
    discard();
    error_.clear();
    temporary_.clear();
    mode_ = mode;
    pending_ = pending;
    if (!win32Name(path, target_)) return fail(reasonOf(ERROR_INVALID_NAME));
    const DWORD attributes = GetFileAttributesW(target_.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        // A new file is made under a temporary name too, so that a crash
        // never leaves it half written.
        const HANDLE handle = createTemporary(target_, temporary_);
        if (handle == INVALID_HANDLE_VALUE) return fail(reasonOf(GetLastError()));
        handle_ = handle;
        if (pending_ != nullptr) pending_->temporary_ = temporary_.c_str();
        return true;
    }
    if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) return fail(reasonOf(ERROR_DIRECTORY));
    // The caller must be allowed to write the file itself (a read-only file
    // stays as it is), and devices such as NUL are written in place.
    const HANDLE existing = CreateFileW(target_.c_str(), GENERIC_WRITE | READ_CONTROL, ShareAll, nullptr,
                                        OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (existing == INVALID_HANDLE_VALUE) return fail(reasonOf(GetLastError()));
    BY_HANDLE_FILE_INFORMATION info{};
    // The new file is created with the old one's access list, so that it is
    // never open to more users than the file it replaces, not even while it
    // is written, and keeps that list once in place.
    PSECURITY_DESCRIPTOR access = nullptr;
    const bool single = GetFileType(existing) == FILE_TYPE_DISK &&
                        GetFileInformationByHandle(existing, &info) && info.nNumberOfLinks == 1 &&
                        GetSecurityInfo(existing, SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr,
                                        nullptr, nullptr, &access) == ERROR_SUCCESS;
    if (single) {
        SECURITY_ATTRIBUTES security{sizeof(SECURITY_ATTRIBUTES), access, FALSE};
        const HANDLE handle = createTemporary(target_, temporary_, &security);
        const DWORD created = GetLastError();
        LocalFree(access);
        SetLastError(created);
        if (handle != INVALID_HANDLE_VALUE) {
            CloseHandle(existing);
            handle_ = handle;
            if (pending_ != nullptr) pending_->temporary_ = temporary_.c_str();
            return true;
        }
        if (GetLastError() != ERROR_ACCESS_DENIED) {
            const DWORD error = GetLastError();
            CloseHandle(existing);
            return fail(reasonOf(error));
        }
    }
    // Devices, files with several names and files in folders where no new
    // file can be made: written in place, from an empty file.
    if (GetFileType(existing) == FILE_TYPE_DISK && !SetEndOfFile(existing)) {
        const DWORD error = GetLastError();
        CloseHandle(existing);
        return fail(reasonOf(error));
    }
    handle_ = existing;
    return true;
}

bool OutputFile::openStandardOutput(Mode mode) {
    discard();
    error_.clear();
    temporary_.clear();
    mode_ = mode;
    pending_ = nullptr;
    handle_ = duplicateStandard(STD_OUTPUT_HANDLE);
    if (handle_ == nullptr) return fail(reasonOf(ERROR_INVALID_HANDLE));
    stream_ = true;
    return true;
}

bool OutputFile::write(const char* data, std::size_t n) {
    if (handle_ == nullptr || !error_.empty()) return false;
    const HANDLE handle = static_cast<HANDLE>(handle_);
    if (mode_ == Mode::Binary) return writeAll(handle, data, n) || fail(reasonOf(GetLastError()));
    // Text mode: every line feed goes out as CR LF. The text is copied in
    // slices into a fixed buffer that holds a slice even if it is all line
    // feeds, so nothing is allocated once the file is open.
    constexpr std::size_t Slice = std::size_t{1} << 15;
    char buffer[2 * Slice];
    while (n > 0) {
        const std::size_t take = std::min(n, Slice);
        char* out = buffer;
        const char* in = data;
        const char* const end = data + take;
        while (in < end) {
            const auto* lineFeed =
                static_cast<const char*>(std::memchr(in, '\n', static_cast<std::size_t>(end - in)));
            const char* const stop = lineFeed ? lineFeed : end;
            std::memcpy(out, in, static_cast<std::size_t>(stop - in));
            out += stop - in;
            in = stop;
            if (lineFeed) {
                *out++ = '\r';
                *out++ = '\n';
                ++in;
            }
        }
        if (!writeAll(handle, buffer, static_cast<std::size_t>(out - buffer))) {
            return fail(reasonOf(GetLastError()));
        }
        data += take;
        n -= take;
    }
    return true;
}

bool OutputFile::commit() {
    if (handle_ == nullptr || !error_.empty()) {
        discard();
        return fail(reasonOf(ERROR_INVALID_HANDLE));
    }
    // An in-place file must still be reachable when its close fails, to be
    // emptied: a second handle to it is kept until the close succeeded.
    const HANDLE handle = static_cast<HANDLE>(handle_);
    HANDLE spare = nullptr;
    if (temporary_.empty() && !stream_ &&
        !DuplicateHandle(GetCurrentProcess(), handle, GetCurrentProcess(), &spare, 0, FALSE,
                         DUPLICATE_SAME_ACCESS)) {
        spare = nullptr;
    }
    handle_ = spare;
    if (!CloseHandle(handle)) {
        fail(reasonOf(GetLastError()));
        discard();
        return false;
    }
    if (!temporary_.empty()) {
        if (!MoveFileExW(temporary_.c_str(), target_.c_str(), MOVEFILE_REPLACE_EXISTING)) {
            fail(reasonOf(GetLastError()));
            discard();
            return false;
        }
        if (pending_ != nullptr) pending_->temporary_ = nullptr;
        temporary_.clear();
    }
    if (spare != nullptr) CloseHandle(spare);
    handle_ = nullptr;
    return true;
}

void OutputFile::discard() {
    if (pending_ != nullptr) pending_->temporary_ = nullptr;
    if (handle_ != nullptr) {
        const HANDLE handle = static_cast<HANDLE>(handle_);
        // In place, the old bytes are gone already: an empty file is better
        // than a partial mesh that looks complete.
        if (temporary_.empty() && !stream_ && GetFileType(handle) == FILE_TYPE_DISK) {
            LARGE_INTEGER start{};
            SetFilePointerEx(handle, start, nullptr, FILE_BEGIN);
            SetEndOfFile(handle);
        }
        CloseHandle(handle);
        handle_ = nullptr;
    }
    if (!temporary_.empty()) {
        DeleteFileW(temporary_.c_str());
        temporary_.clear();
    }
    stream_ = false;
}

}  // namespace stlrefine::platform
