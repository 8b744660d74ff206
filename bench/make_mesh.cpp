// Writes deterministic test meshes as STL files:
//   make_mesh RINGS SIDES OUTPUT [--ascii] [--shuffle SEED]
// A torus of RINGS x SIDES vertices (closed, consistently oriented).
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "support/files.h"
#include "support/meshes.h"

int main(int argc, char** argv) {
    if (argc < 4) {
        std::fprintf(stderr, "usage: make_mesh RINGS SIDES OUTPUT [--ascii] [--shuffle SEED]\n");
        return 2;
    }
    testing_support::Mesh mesh = testing_support::torus(std::atoi(argv[1]), std::atoi(argv[2]));
    bool ascii = false;
    for (int i = 4; i < argc; ++i) {
        if (std::strcmp(argv[i], "--ascii") == 0) ascii = true;
        if (std::strcmp(argv[i], "--shuffle") == 0 && i + 1 < argc) {
            mesh = testing_support::shuffledFaces(mesh, static_cast<std::uint32_t>(std::atoi(argv[++i])));
        }
    }
    const std::vector<float> corners = testing_support::facetCorners(mesh);
    if (!ascii) {
        testing_support::writeFile(argv[3], testing_support::binaryStl(corners));
        return 0;
    }
    std::FILE* out = std::fopen(argv[3], "wb");
    if (!out) return 1;
    std::fprintf(out, "solid torus\n");
    for (std::size_t f = 0; f < corners.size() / 9; ++f) {
        std::fprintf(out, " facet normal 0 0 0\n  outer loop\n");
        for (int k = 0; k < 3; ++k) {
            const float* p = &corners[9 * f + 3 * k];
            std::fprintf(out, "   vertex %.9g %.9g %.9g\n", p[0], p[1], p[2]);
        }
        std::fprintf(out, "  endloop\n endfacet\n");
    }
    std::fprintf(out, "endsolid torus\n");
    return std::fclose(out) == 0 ? 0 : 1;
}
