// One subdivision iteration on closed tori and on the shapes that make a
// naive partner search quadratic; the literal scan on small meshes for scale.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>
#include <utility>
#include <vector>

#include "subdivision/subdivision.h"
#include "subdivide_once.h"
#include "support/literal_subdivision.h"
#include "support/meshes.h"

namespace {

using testing_support::Mesh;

// 250 x 200 vertices: 50000 vertices, 100000 faces, the largest torus on
// which an iteration still starts.
Mesh benchTorus(bool shuffled) {
    Mesh torus = testing_support::torus(250, 200);
    return shuffled ? testing_support::shuffledFaces(torus, 1) : std::move(torus);
}

// 100000 faces on one triangle, half of them one way round, half the other.
Mesh sharedEdgeFan() {
    std::vector<std::int32_t> faces;
    for (int i = 0; i < 100000; ++i) {
        if (i < 50000)
            faces.insert(faces.end(), {0, 1, 2});
        else
            faces.insert(faces.end(), {1, 0, 2});
    }
    return testing_support::makeMesh({0, 0, 0, 1, 0, 0, 0, 1, 0}, faces);
}

// 100000 faces with all three corners on vertex 0.
Mesh collapsedFaces() { return testing_support::makeMesh({0, 0, 0}, std::vector<std::int32_t>(300000, 0)); }

void BM_SubdivideTorusCoherent(benchmark::State& state) { timeOneIteration(state, benchTorus(false)); }
BENCHMARK(BM_SubdivideTorusCoherent)->Unit(benchmark::kMillisecond);

void BM_SubdivideTorusShuffled(benchmark::State& state) { timeOneIteration(state, benchTorus(true)); }
BENCHMARK(BM_SubdivideTorusShuffled)->Unit(benchmark::kMillisecond);

void BM_SubdivideSharedEdgeFan(benchmark::State& state) { timeOneIteration(state, sharedEdgeFan()); }
BENCHMARK(BM_SubdivideSharedEdgeFan)->Unit(benchmark::kMillisecond);

void BM_SubdivideCollapsedFaces(benchmark::State& state) { timeOneIteration(state, collapsedFaces()); }
BENCHMARK(BM_SubdivideCollapsedFaces)->Unit(benchmark::kMillisecond);

// The literal scan, shuffled tori of 2 * n * n faces: time grows with the
// square of the face count.
void BM_LiteralScanShuffledTorus(benchmark::State& state) {
    const int n = static_cast<int>(state.range(0));
    const Mesh torus = testing_support::shuffledFaces(testing_support::torus(n, n), 1);
    for (auto _ : state) {
        const Mesh refined = testing_support::literalSubdivideOnce(torus);
        benchmark::DoNotOptimize(refined.faces.get());
    }
    state.counters["faces"] = static_cast<double>(torus.faceCount);
}
BENCHMARK(BM_LiteralScanShuffledTorus)->Arg(20)->Arg(40)->Arg(80)->Unit(benchmark::kMillisecond);

// The stage on the same small meshes, for comparison.
void BM_SubdivideShuffledTorus(benchmark::State& state) {
    const int n = static_cast<int>(state.range(0));
    timeOneIteration(state, testing_support::shuffledFaces(testing_support::torus(n, n), 1));
}
BENCHMARK(BM_SubdivideShuffledTorus)->Arg(20)->Arg(40)->Arg(80)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
