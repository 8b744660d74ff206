// stlrefine: command-line host of the library's two exported functions.
//
//   stlrefine [-n N|--iterations N] [--max-height H] [INPUT [OUTPUT]]
//
// Exit status: 0 when the library returns 1, 1 when it returns 0, 2 for a
// usage error (nothing is run then).
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "stlrefine.h"

#if defined(_WIN32)
#include <windows.h>
#include <shellapi.h>
#endif

namespace {

#ifndef STLREFINE_EXAMPLE_MESH
#define STLREFINE_EXAMPLE_MESH "examples/torus.stl"
#endif

constexpr const char* Usage =
    "usage: stlrefine [-n N|--iterations N] [--max-height H] [INPUT [OUTPUT]]\n"
    "\n"
    "Refines the triangle mesh of an STL file (ASCII or binary): every triangle\n"
    "is split into four through its edge midpoints, N times (default 1;\n"
    "iterations stop once the mesh has more than 50000 vertices). Writes an\n"
    "ASCII STL file.\n"
    "\n"
    "  INPUT            STL file to read (default: the bundled example mesh)\n"
    "  OUTPUT           STL file to write (default: <input stem>.refined.stl\n"
    "                   in the current directory)\n"
    "  -n, --iterations N   number of iterations (default 1)\n"
    "  --max-height H   stop as soon as no triangle is taller along z than H\n"
    "  -h, --help       show this help\n"
    "  --version        show the version\n";

int usageError(const std::string& message) {
    std::fprintf(stderr, "stlrefine: %s\n%s", message.c_str(), Usage);
    return 2;
}

std::optional<int> parseInt(std::string_view text) {
    int value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size() || text.empty()) return {};
    return value;
}

std::optional<float> parseFloat(std::string_view text) {
    float value = 0;
    // from_chars is locale-independent and accepts inf and nan.
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size() || text.empty()) return {};
    return value;
}

#if !defined(_WIN32)
// UTF-8 argument to a UTF-32 wide path; nullopt for malformed UTF-8.
std::optional<std::wstring> widen(std::string_view text) {
    std::wstring out;
    std::size_t i = 0;
    while (i < text.size()) {
        const auto lead = static_cast<unsigned char>(text[i]);
        std::size_t extra;
        char32_t c;
        if (lead < 0x80) {
            extra = 0, c = lead;
        } else if (lead >= 0xC2 && lead < 0xE0) {
            extra = 1, c = lead & 0x1F;
        } else if (lead >= 0xE0 && lead < 0xF0) {
            extra = 2, c = lead & 0x0F;
        } else if (lead >= 0xF0 && lead < 0xF5) {
            extra = 3, c = lead & 0x07;
        } else {
            return {};
        }
        if (text.size() - i <= extra) return {};
        for (std::size_t k = 1; k <= extra; ++k) {
            const auto next = static_cast<unsigned char>(text[i + k]);
            if ((next & 0xC0) != 0x80) return {};
            c = (c << 6) | (next & 0x3F);
        }
        const char32_t minimum[] = {0, 0x80, 0x800, 0x10000};
        if (c < minimum[extra] || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) return {};
        out.push_back(static_cast<wchar_t>(c));
        i += extra + 1;
    }
    return out;
}
#endif

std::optional<std::wstring> toWide(const std::filesystem::path& path) {
#if defined(_WIN32)
    return path.wstring();
#else
    return widen(path.string());
#endif
}

std::filesystem::path executablePath() {
#if defined(_WIN32)
    std::wstring buffer(32768, L'\0');
    buffer.resize(GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size())));
    return buffer;
#else
    std::error_code error;
    return std::filesystem::read_symlink("/proc/self/exe", error);
#endif
}

// The bundled example: in the source tree this program was built from, or
// where an install puts it (share/doc/stlrefine/examples beside bin/).
std::wstring exampleMesh() {
    std::error_code error;
    const std::filesystem::path built = STLREFINE_EXAMPLE_MESH;
    const std::filesystem::path installed = executablePath().parent_path().parent_path() /
                                            "share" / "doc" / "stlrefine" / "examples" / "torus.stl";
    const std::filesystem::path& chosen =
        std::filesystem::exists(built, error) || !std::filesystem::exists(installed, error) ? built
                                                                                          : installed;
    return toWide(chosen).value_or(L"torus.stl");
}

// "<stem>.refined.stl" for the last path component of `input`.
std::wstring defaultOutput(const std::wstring& input) {
    std::wstring name = input.substr(input.find_last_of(L"/\\") == std::wstring::npos
                                         ? 0
                                         : input.find_last_of(L"/\\") + 1);
    const std::size_t dot = name.find_last_of(L'.');
    if (dot != std::wstring::npos && dot > 0) name.resize(dot);
    if (name.empty()) name = L"output";
    return name + L".refined.stl";
}

int run(const std::vector<std::string>& args, const std::vector<std::wstring>& wideArgs) {
    int iterations = 1;
    std::optional<float> maxHeight;
    std::vector<std::wstring> paths;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg == "-h" || arg == "--help") {
            std::fputs(Usage, stdout);
            return 0;
        }
        if (arg == "--version") {
            std::printf("stlrefine %s\n", STLREFINE_VERSION);
            return 0;
        }
        if (arg == "-n" || arg == "--iterations" || arg == "--max-height") {
            if (i + 1 == args.size()) return usageError(arg + " needs a value");
            const std::string& value = args[++i];
            if (arg == "--max-height") {
                maxHeight = parseFloat(value);
                if (!maxHeight) return usageError("not a number: " + value);
            } else {
                const auto n = parseInt(value);
                if (!n) return usageError("not an integer: " + value);
                iterations = *n;
            }
            continue;
        }
        if (arg.size() > 1 && arg[0] == '-' && arg != "--") return usageError("unknown option " + arg);
        if (arg == "--") {
            for (++i; i < args.size(); ++i) paths.push_back(wideArgs[i]);
            break;
        }
        paths.push_back(wideArgs[i]);
    }
    if (paths.size() > 2) return usageError("too many arguments");
    if (paths.empty()) paths.push_back(exampleMesh());
    if (paths.size() == 1) paths.push_back(defaultOutput(paths[0]));

    const int result =
        maxHeight ? subdivision_noWeight_heightDetect(paths[0].c_str(), paths[1].c_str(),
                                                      iterations, *maxHeight)
                  : subdivision_noWeight(paths[0].c_str(), paths[1].c_str(), iterations);
    return result == 1 ? 0 : 1;
}

}  // namespace

#if defined(_WIN32)
int main() {
    int argc = 0;
    wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    std::vector<std::string> args;
    std::vector<std::wstring> wideArgs;
    for (int i = 1; i < argc; ++i) {
        wideArgs.emplace_back(argv[i]);
        // Options are ASCII; the narrow copy only needs to recognise them.
        std::string narrow;
        for (const wchar_t c : wideArgs.back()) narrow.push_back(c < 0x80 ? static_cast<char>(c) : '?');
        args.push_back(narrow);
    }
    LocalFree(argv);
    return run(args, wideArgs);
}
#else
int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    std::vector<std::wstring> wideArgs;
    for (const std::string& arg : args) {
        auto wide = widen(arg);
        if (!wide) return usageError("argument is not valid UTF-8: " + arg);
        wideArgs.push_back(*wide);
    }
    return run(args, wideArgs);
}
#endif
