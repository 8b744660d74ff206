// A C++ host of the stlrefine library: refines an STL file until no triangle
// is taller along z than a given height, then counts the facets written.
//
//   refine_to_height INPUT OUTPUT MAX_HEIGHT
//
// Build with CMake: find_package(stlrefine CONFIG REQUIRED) and
//   target_link_libraries(refine_to_height PRIVATE stlrefine::stlrefine)
#include <charconv>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>

#include <stlrefine.h>

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

    // std::filesystem::path converts the native narrow path to the wide
    // string the library takes.
    const std::filesystem::path input = argv[1], output = argv[2];
    // Each iteration halves the triangles' heights; the library stops as soon
    // as none is taller than maxHeight, or once the mesh has more than 50000
    // vertices, so a generous iteration count is safe.
    const int iterations = 16;
    if (subdivision_noWeight_heightDetect(input.wstring().c_str(), output.wstring().c_str(),
                                          iterations, maxHeight) != 1) {
        std::fprintf(stderr, "cannot open %s\n", argv[1]);
        return 1;
    }

    std::ifstream written(output);
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
