// Files on Windows: opened by their UTF-16 path through the Win32 API, so no
// name ever passes through a narrow code page. Output is stored in text mode
// (each line feed as CR LF), translated here rather than by the C runtime.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <algorithm>
#include <cstring>

#include "platform/platform.h"

namespace stlrefine::platform {

namespace {

// Others may read, write, rename or delete the file while we hold it open.
constexpr DWORD ShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// Largest single ReadFile/WriteFile request; their byte counts are 32-bit.
constexpr std::size_t MaxTransfer = std::size_t{1} << 30;

// The name handed to CreateFileW. Paths of MAX_PATH characters or more only
// open in the "\\?\" form, which takes a full path with backslashes only;
// shorter paths go as they are, relative ones included.
bool win32Name(const std::wstring& path, std::wstring& name) {
    if (path.empty() || path.find(L'\0') != std::wstring::npos) return false;
    if (path.size() < MAX_PATH || path.compare(0, 4, L"\\\\?\\") == 0) {
        name = path;
        return true;
    }
    const DWORD needed = GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
    if (needed == 0) return false;
    std::wstring full(needed, L'\0');
    const DWORD length = GetFullPathNameW(path.c_str(), needed, full.data(), nullptr);
    if (length == 0 || length >= needed) return false;
    full.resize(length);
    if (full.compare(0, 2, L"\\\\") == 0) {
        name = L"\\\\?\\UNC\\" + full.substr(2);  // \\server\share\...
    } else {
        name = L"\\\\?\\" + full;
    }
    return true;
}

// Writes all n bytes unless the system refuses; errors are not reported.
void writeAll(HANDLE handle, const char* data, std::size_t n) {
    while (n > 0) {
        const auto want = static_cast<DWORD>(std::min(n, MaxTransfer));
        DWORD put = 0;
        if (!WriteFile(handle, data, want, &put, nullptr) || put == 0) return;
        data += put;
        n -= put;
    }
}

}  // namespace

InputFile::~InputFile() { close(); }

bool InputFile::open(const std::wstring& path) {
    close();
    std::wstring name;
    if (!win32Name(path, name)) return false;
    // Without FILE_FLAG_BACKUP_SEMANTICS a directory does not open at all;
    // the attribute check below makes that independent of the file system.
    const HANDLE handle = CreateFileW(name.c_str(), GENERIC_READ, ShareAll, nullptr, OPEN_EXISTING,
                                      FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return false;
    BY_HANDLE_FILE_INFORMATION info{};
    if (GetFileType(handle) == FILE_TYPE_DISK &&
        (!GetFileInformationByHandle(handle, &info) ||
         (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0)) {
        CloseHandle(handle);
        return false;
    }
    handle_ = handle;
    return true;
}

bool InputFile::isOpen() const { return handle_ != nullptr; }

std::int64_t InputFile::size() const {
    const HANDLE handle = static_cast<HANDLE>(handle_);
    LARGE_INTEGER size{};
    if (handle_ == nullptr || GetFileType(handle) != FILE_TYPE_DISK || !GetFileSizeEx(handle, &size)) {
        return -1;
    }
    return static_cast<std::int64_t>(size.QuadPart);
}

bool InputFile::seek(std::uint64_t offset) {
    if (handle_ == nullptr || offset > static_cast<std::uint64_t>(INT64_MAX)) return false;
    LARGE_INTEGER distance{};
    distance.QuadPart = static_cast<LONGLONG>(offset);
    return SetFilePointerEx(static_cast<HANDLE>(handle_), distance, nullptr, FILE_BEGIN) != 0;
}

std::size_t InputFile::read(void* destination, std::size_t n) {
    auto* out = static_cast<unsigned char*>(destination);
    std::size_t done = 0;
    while (handle_ != nullptr && done < n) {
        const auto want = static_cast<DWORD>(std::min(n - done, MaxTransfer));
        DWORD got = 0;
        // A pipe whose writer has gone reports an error instead of end of file.
        if (!ReadFile(static_cast<HANDLE>(handle_), out + done, want, &got, nullptr) || got == 0) break;
        done += got;
    }
    return done;
}

void InputFile::close() {
    if (handle_ != nullptr) CloseHandle(static_cast<HANDLE>(handle_));
    handle_ = nullptr;
}

OutputFile::~OutputFile() { close(); }

bool OutputFile::open(const std::wstring& path) {
    close();
    std::wstring name;
    if (!win32Name(path, name)) return false;
    // CREATE_ALWAYS creates the file or truncates an existing one.
    const HANDLE handle = CreateFileW(name.c_str(), GENERIC_WRITE, ShareAll, nullptr, CREATE_ALWAYS,
                                      FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return false;
    handle_ = handle;
    return true;
}

void OutputFile::write(const char* data, std::size_t n) {
    if (handle_ == nullptr) return;
    const HANDLE handle = static_cast<HANDLE>(handle_);
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
            const auto* lineFeed = static_cast<const char*>(
                std::memchr(in, '\n', static_cast<std::size_t>(end - in)));
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
        writeAll(handle, buffer, static_cast<std::size_t>(out - buffer));
        data += take;
        n -= take;
    }
}

void OutputFile::close() {
    if (handle_ != nullptr) CloseHandle(static_cast<HANDLE>(handle_));
    handle_ = nullptr;
}

}  // namespace stlrefine::platform
