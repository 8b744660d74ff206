// What the command-line tool needs from the system beyond files: its
// arguments, its own path, standard error. For programs, never for the
// library: defined in program_*.cpp, apart from the files code, so that the
// library links none of it.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace stlrefine::platform {

// The program's arguments after its own name, as the wide paths that the
// files code takes: on Linux the bytes of argv (common/utf8.h escapes those
// of names that are not UTF-8), on Windows the command line's own UTF-16
// words, whatever the code page.
std::vector<std::wstring> programArguments(int argc, char** argv);

// The running program's file; empty where the system does not say.
std::filesystem::path programPath();

// A path of std::filesystem as a wide path for the files code.
std::wstring widePath(const std::filesystem::path& path);

// Writes UTF-8 text to standard error: the bytes as they are (those of a
// name that is not UTF-8 included), or as UTF-16 to a Windows console,
// whatever its code page.
void writeError(std::string_view text);

}  // namespace stlrefine::platform
