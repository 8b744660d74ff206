// Everything that differs between Windows and Linux: opening files by a wide
// path, replacing an output safely, how line ends are stored and how the
// system's error codes read. Nothing outside this folder knows which
// platform it is built for.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "common/page_hints.h"  // defined here, for each platform

namespace stlrefine::platform {

// The path as the user would read it in a message: UTF-8, with the bytes of
// a name that is not valid Unicode passed through as they are.
std::string displayPath(std::wstring_view path);

// A file opened once for reading, in binary mode, shared with other readers
// and writers. Directories and paths that cannot be named fail to open.
class InputFile {
public:
    InputFile() = default;
    ~InputFile();
    InputFile(const InputFile&) = delete;
    InputFile& operator=(const InputFile&) = delete;

    bool open(std::wstring_view path);
    // Size in bytes, or -1 when it is not a regular file (a pipe, a device).
    std::int64_t size() const;
    // Reads up to n bytes from where the last read stopped, retrying short
    // reads. Fewer than n bytes means the end of the file, or an error: then
    // failed() is true and error() says why.
    std::size_t read(void* destination, std::size_t n);
    bool failed() const { return !error_.empty(); }
    const std::string& error() const { return error_; }
    void close();

private:
#if defined(_WIN32)
    void* handle_ = nullptr;
#else
    int fd_ = -1;
#endif
    std::string error_;
};

// The file a call writes. The bytes go to a new temporary file in the
// output's own folder, which commit() renames over the output once the last
// byte is written: whatever happens to the process, the output path holds
// either its old bytes or the complete new file. Where no such file can take
// the output's place (a device, a FIFO, a file with several hard links, a
// folder where no file can be created), the output is written in place, and
// a failed file is cut to zero length rather than left half-written.
//
// Text mode stores every line feed as carriage return and line feed on
// Windows; binary mode stores the bytes as they are.
class OutputFile {
public:
    enum class Mode { Text, Binary };

    OutputFile() = default;
    // Discards the file unless commit() succeeded: the temporary file is
    // removed (the output keeps its old bytes), an in-place file is emptied.
    ~OutputFile();
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    // False when the output cannot be opened for writing: a missing folder,
    // a folder, a file the caller may not write, a folder where the caller
    // may not create it. Nothing is created or replaced then.
    bool open(std::wstring_view path, Mode mode);
    // Writes n bytes. False once a write has failed (error() says why);
    // later writes then do nothing.
    bool write(const char* data, std::size_t n);
    // Closes the file and puts it in place; false (and error()) on failure.
    bool commit();
    const std::string& error() const { return error_; }

private:
    bool fail(const std::string& reason);
    void discard();

#if defined(_WIN32)
    void* handle_ = nullptr;
    std::wstring target_;
    std::wstring temporary_;
#else
    int fd_ = -1;
    std::string target_;
    std::string temporary_;  // empty when written in place
#endif
    Mode mode_ = Mode::Text;
    std::string error_;
};

}  // namespace stlrefine::platform
