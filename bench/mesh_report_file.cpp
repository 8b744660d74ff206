// The mesh report of STL files, read and welded by the library's own stages,
// as `name=value` words on one line per mesh (for bench/admesh_compare.sh),
// and the time the report takes:
//
//   mesh_report_file [-n ITERATIONS] [--time ROUNDS] FILE...
//
// With -n, the mesh refined that many times is reported on a second line,
// as the CLI's --stats does (reportRefinedMesh).
// With --time, each report is computed ROUNDS times more and the fastest
// round is given in milliseconds.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "mesh/mesh.h"
#include "mesh/mesh_report.h"
#include "stl/stl.h"
#include "subdivision/subdivision.h"
#include "support/files.h"

namespace {

using namespace stlrefine;

// The report of `mesh`, refined from a mesh of report `*original` if given.
MeshReport report(const Mesh& mesh, const MeshReport* original) {
    return original ? reportRefinedMesh(mesh, *original) : reportMesh(mesh);
}

MeshReport printReport(const char* path, const char* name, const Mesh& mesh, const MeshReport* original,
                       int rounds) {
    const MeshReport r = report(mesh, original);
    std::printf(
        "file=%s mesh=%s vertices=%d facets=%d edges=%d boundary_edges=%d non_manifold_edges=%d "
        "flipped_edges=%d degenerate=%d parts=%d open_facets=%d "
        "min=%.6f,%.6f,%.6f max=%.6f,%.6f,%.6f area=%.9g volume=%.9g closed=%d",
        path, name, r.vertices, r.facets, r.edges, r.boundaryEdges, r.nonManifoldEdges, r.flippedEdges,
        r.degenerateFacets, r.parts, r.facetsWithOpenEdges, r.boxMin[0], r.boxMin[1], r.boxMin[2],
        r.boxMax[0], r.boxMax[1], r.boxMax[2], r.area, r.volume, r.closed ? 1 : 0);
    if (rounds > 0) {
        double best = 1e300;
        for (int k = 0; k < rounds; ++k) {
            const auto start = std::chrono::steady_clock::now();
            const MeshReport again = report(mesh, original);
            const std::chrono::duration<double, std::milli> took = std::chrono::steady_clock::now() - start;
            if (again.edges != r.edges) std::abort();  // the work is used
            best = std::min(best, took.count());
        }
        std::printf(" report_ms=%.3f", best);
    }
    std::printf("\n");
    return r;
}

}  // namespace

int main(int argc, char** argv) {
    int iterations = 0, rounds = 0, status = 0;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "-n") == 0 && i + 1 < argc) {
            iterations = std::atoi(argv[++i]);
            continue;
        }
        if (std::strcmp(argv[i], "--time") == 0 && i + 1 < argc) {
            rounds = std::atoi(argv[++i]);
            continue;
        }
        platform::InputFile input;
        StlHead head;
        StlPointList corners;
        if (!input.open(testing_support::widePath(argv[i])) || !detectStlFile(input, head) ||
            head.format == StlFormat::NotStl || (parseStlFile(input, head, corners), input.failed())) {
            std::fprintf(stderr, "%s: not read\n", argv[i]);
            status = 1;
            continue;
        }
        Mesh mesh = weldVertices(corners.data(), static_cast<std::int32_t>(corners.size() / 3));
        const MeshReport before = printReport(argv[i], "input", mesh, nullptr, rounds);
        if (iterations > 0) {
            subdivideMesh(mesh, iterations);
            printReport(argv[i], "refined", mesh, &before, rounds);
        }
    }
    return status;
}
