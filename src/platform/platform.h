// Everything that differs between Windows and Linux: opening files by a wide
// path, replacing an output safely, how line ends are stored, how the
// system's error codes read, and a program's arguments and console. Nothing
// outside this folder knows which platform it is built for.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "common/page_hints.h"  // defined here, for each platform

namespace stlrefine::platform {

// The characters that end a folder's name in a path.
#if defined(_WIN32)
inline constexpr std::wstring_view PathSeparators = L"\\/";
#else
inline constexpr std::wstring_view PathSeparators = L"/";
#endif

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
    // The process's standard input, read through a handle of its own (close()
    // leaves the standard input open). Its size reads -1 (a stream, read
    // from where it stands), except on POSIX systems for a regular file at
    // its start, which is then read as a file.
    bool openStandardInput();
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
    bool stream_ = false;  // standard input
    std::string error_;
};

// Where a program's signal handler finds the output that a call is writing,
// so that the file is cleaned up before the process dies of the signal: a
// temporary file is removed, an output written in place is emptied. The
// library installs no handlers of its own; a program that wants this passes
// one of these with its calls and calls cleanUpOnSignals() once.
class PendingOutput {
public:
    PendingOutput() = default;
    PendingOutput(const PendingOutput&) = delete;
    PendingOutput& operator=(const PendingOutput&) = delete;

    // Called from a signal handler: only async-signal-safe calls.
    void cleanUp() noexcept;

private:
    friend class OutputFile;  // keeps it up to date as the file appears and goes
#if defined(_WIN32)
    std::atomic<const wchar_t*> temporary_{nullptr};  // the full name
#else
    std::atomic<int> folder_{-1};                  // the temporary file's folder
    std::atomic<const char*> temporary_{nullptr};  // its name in that folder
    std::atomic<int> inPlace_{-1};                 // an output written in place
#endif
};

// --- For programs (the command-line tool), never for the library; defined
// in program_*.cpp, which the library does not link.

// Lets SIGINT, SIGTERM, SIGHUP and SIGPIPE (each unless the process ignores
// it) clean up the `count` outputs at `pending` (one per thread that writes
// files) and then end the process by the same signal, so that its parent
// sees how it ended. The array must outlive the process's last signal.
void cleanUpOnSignals(PendingOutput* pending, std::size_t count);

// A write to a pipe whose reader has gone then fails with an error (EPIPE)
// instead of ending the process by SIGPIPE; nothing on Windows, where it
// always does.
void reportBrokenPipes();

// The number of processors this process may run on (its affinity mask), at
// least 1.
unsigned usableProcessors();

// Whether standard error is a terminal (a console on Windows).
bool standardErrorIsTerminal();

// The program's arguments after its own name, as wide paths: on Linux the
// bytes of argv (common/utf8.h escapes those of names that are not UTF-8),
// on Windows the command line's own UTF-16 words, whatever the code page.
std::vector<std::wstring> programArguments(int argc, char** argv);

// Writes UTF-8 text to standard error: the bytes as they are (those of a
// name that is not UTF-8 included), or as UTF-16 to a Windows console,
// whatever its code page.
void writeError(std::string_view text);

// The file a call writes. The caller's name is opened as the caller's own
// open() would open it, so that every check of the system applies (file
// permissions, the kernel's protection against links planted in shared
// folders, link loops); a name that cannot be opened that way is refused
// and nothing is created or replaced.
//
// A regular file with one name is not written through that descriptor: the
// bytes go to a new temporary file in the file's own folder (mode 0600 until
// it is complete, so that nobody else reads them while they are written),
// which commit() renames over the file once the last byte is written. The
// folder is the one that holds the file the kernel opened (same device and
// inode); links stay links. Whatever happens to the process, the output then
// holds either its old bytes or the complete new file. The new file keeps
// the old one's owner, group, permission bits, POSIX ACL and user.* extended
// attributes; a new output gets the permission bits of any new file
// (0666 less the umask, or the folder's default ACL).
//
// Everything else is written in place, from an empty file: devices, FIFOs,
// files with several names, files whose folder takes no new file, files
// whose owner or attributes cannot be given to a new file. A regular file
// written in place is locked (flock) for the whole call, so that two calls
// never interleave their bytes, and cut to zero length if the call fails
// rather than left half-written.
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
    // may not create it, a link the system will not follow. Nothing is
    // created or replaced then. `pending`, when given, is kept up to date
    // with the file being written until commit() or the destructor.
    bool open(std::wstring_view path, Mode mode, PendingOutput* pending = nullptr);
    // The process's standard output, written in place from where it stands
    // through a handle of its own: never emptied, renamed or locked, and
    // left open by commit(). Text mode translates line ends as for a file.
    bool openStandardOutput(Mode mode);
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
    bool replaceBeside(int existing, const std::string& name);
    bool createBeside(const std::string& name);
    bool writeInPlace(int existing);

    int fd_ = -1;
    int folder_ = -1;           // the folder of the temporary file and the target
    std::string target_;        // the target's name in that folder
    std::string temporary_;     // the temporary file's name there; empty when in place
    std::string acl_;           // the POSIX ACL the new file gets at commit, if any
    unsigned modeBits_ = 0600;  // the permission bits the new file gets at commit
#endif
    Mode mode_ = Mode::Text;
    bool stream_ = false;  // standard output
    PendingOutput* pending_ = nullptr;
    std::string error_;
};

}  // namespace stlrefine::platform
