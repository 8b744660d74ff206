// A C++ host of the stlrefine library: refines an STL file until no triangle
// is taller along z than a given height, then counts the facets written.
//
//   refine_to_height INPUT OUTPUT MAX_HEIGHT
//
// Build with CMake: find_package(stlrefine CONFIG REQUIRED) and
//   target_link_libraries(refine_to_height PRIVATE stlrefine::stlrefine)
#include <charconv>
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <string_view>

#include <stlrefine.h>

// The library takes wide-character paths; command-line arguments arrive in
// the locale's multibyte encoding (UTF-8 on most systems). Empty when the text
// is not valid in that encoding. (std::filesystem::path of libstdc++ widens
// through the "C" locale, which has no character beyond ASCII.)
static std::wstring widen(const char* text) {
    const std::size_t length = std::mbstowcs(nullptr, text, 0);
    if (length == static_cast<std::size_t>(-1)) return {};
    std::wstring wide(length, L'\0');
    std::mbstowcs(wide.data(), text, length + 1);
    return wide;
}

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: %s INPUT OUTPUT MAX_HEIGHT\n", argv[0]);
        return 2;
    }
    const std::string_view heightText = argv[3];
    float maxHeight = 0;
    const auto [end, error] =
        std::from_chars(heightText.data(), heightText.data() + heightText.size(), maxHeight);
    if (error != std::errc() || end != heightText.data() + heightText.size() || !(maxHeight > 0)) {
        std::fprintf(stderr, "MAX_HEIGHT must be a positive number\n");
        return 2;
    }

    std::setlocale(LC_CTYPE, "");
    const std::wstring input = widen(argv[1]), output = widen(argv[2]);
    if (input.empty() || output.empty()) {
        std::fprintf(stderr, "a path is not valid in this locale's encoding\n");
        return 2;
    }
    // Each iteration halves the triangles' heights; the library stops as soon
    // as none is taller than maxHeight, or once the mesh has more than 50000
    // vertices, so a generous iteration count is safe.
    const int iterations = 16;
    if (subdivision_noWeight_heightDetect(input.c_str(), output.c_str(), iterations, maxHeight) != 1) {
        std::fprintf(stderr, "cannot open %s\n", argv[1]);
        return 1;
    }

    std::ifstream written(argv[2]);
    long facets = 0;
    for (std::string line; std::getline(written, line);) {
        if (line.rfind("facet normal", 0) == 0) ++facets;
    }
    if (facets == 0) {
        std::fprintf(stderr, "no facets in %s\n", argv[2]);
        return 1;
    }
    std::printf("%ld facets written to %s\n", facets, argv[2]);
    return 0;
}
