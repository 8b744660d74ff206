// A program's arguments, path and standard error on POSIX systems.
#include <cstdio>
#include <system_error>

#include "common/utf8.h"
#include "platform/program.h"

namespace stlrefine::platform {

std::vector<std::wstring> programArguments(int argc, char** argv) {
    std::vector<std::wstring> args;
    for (int i = 1; i < argc; ++i) args.push_back(wideName(argv[i]));
    return args;
}

std::filesystem::path programPath() {
    std::error_code error;
    return std::filesystem::read_symlink("/proc/self/exe", error);
}

std::wstring widePath(const std::filesystem::path& path) { return wideName(path.native()); }

void writeError(std::string_view text) {
    std::fwrite(text.data(), 1, text.size(), stderr);
    std::fflush(stderr);
}

}  // namespace stlrefine::platform
