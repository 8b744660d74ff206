// Everything that differs between Windows and Linux: opening files by a wide
// path and how line ends are stored. Nothing outside this folder knows which
// platform it is built for.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace stlrefine::platform {

// A file opened for reading, in binary mode, shared with other readers and
// writers. Directories and paths that cannot be named fail to open.
class InputFile {
public:
    InputFile() = default;
    ~InputFile();
    InputFile(const InputFile&) = delete;
    InputFile& operator=(const InputFile&) = delete;

    bool open(const std::wstring& path);
    bool isOpen() const;
    // Size in bytes, or -1 when the file is not a regular file (a pipe).
    std::int64_t size() const;
    bool seek(std::uint64_t offset);
    // Reads up to n bytes, retrying short reads; returns the bytes read (fewer
    // only at the end of the file or on an error).
    std::size_t read(void* destination, std::size_t n);
    void close();

private:
#if defined(_WIN32)
    void* handle_ = nullptr;
#else
    int fd_ = -1;
#endif
};

// A whole file in memory.
struct FileBytes {
    std::unique_ptr<unsigned char[]> data;
    std::size_t size = 0;
};

// Reads `file` from its start into memory (a pipe: from where it is).
// Throws std::bad_alloc when memory runs out.
FileBytes readWhole(InputFile& file);

// A file opened for writing (created, or an existing one replaced: once
// closed it holds exactly the bytes written) in text mode: on Windows every
// line feed written is stored as carriage return and line feed.
class OutputFile {
public:
    OutputFile() = default;
    ~OutputFile();
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    bool open(const std::wstring& path);
    // Writes n bytes; write errors are not reported (the format has no way to
    // report them to the caller).
    void write(const char* data, std::size_t n);
    void close();

private:
#if defined(_WIN32)
    void* handle_ = nullptr;
#else
    int fd_ = -1;
#endif
};

#if !defined(_WIN32)
// UTF-8 name of a wide (UTF-32) path. Returns false for a value that is not a
// Unicode scalar value, or an embedded NUL, so that such a path opens nothing
// rather than some other file.
bool toUtf8Path(const std::wstring& path, std::string& out);
#endif

}  // namespace stlrefine::platform
