// Welding speed: a closed mesh of 1M facets in file order and shuffled, and
// the inputs that crowd the spatial hash.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

#include "mesh/mesh.h"
#include "support/meshes.h"

namespace {

void runWeld(benchmark::State& state, const std::vector<float>& corners) {
    const std::int32_t cornerCount = static_cast<std::int32_t>(corners.size() / 3);
    std::int32_t vertexCount = 0;
    for (auto _ : state) {
        const stlrefine::Mesh mesh = stlrefine::weldVertices(corners.data(), cornerCount);
        vertexCount = mesh.vertexCount;
        benchmark::DoNotOptimize(mesh.faces.get());
    }
    state.counters["corners"] = cornerCount;
    state.counters["vertices"] = vertexCount;
    state.counters["per_corner"] = benchmark::Counter(
        cornerCount, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

// 1000 x 500 torus: 500k vertices, 1M facets, 3M corners.
const testing_support::Mesh& bigTorus() {
    static const testing_support::Mesh mesh = testing_support::torus(1000, 500);
    return mesh;
}

void BM_WeldTorus(benchmark::State& state) {
    static const std::vector<float> corners = testing_support::facetCorners(bigTorus());
    runWeld(state, corners);
}

void BM_WeldTorusShuffled(benchmark::State& state) {
    static const std::vector<float> corners =
        testing_support::facetCorners(testing_support::shuffledFaces(bigTorus(), 7));
    runWeld(state, corners);
}

// 3M corners, all within the tolerance of one point: the few stored vertices
// match one another's neighbours.
void BM_WeldAllNearOnePoint(benchmark::State& state) {
    static const std::vector<float> corners = [] {
        std::mt19937 random(11);
        std::uniform_real_distribution<double> jitter(-1e-6, 1e-6);
        std::vector<float> result(9'000'000);
        for (float& value : result) value = static_cast<float>(1.0 + jitter(random));
        return result;
    }();
    runWeld(state, corners);
}

// A 100^3 lattice at a spacing just over the tolerance, every point used by
// three corners, in random order: 1M vertices, thousands to a cell.
void BM_WeldDenseLattice(benchmark::State& state) {
    static const std::vector<float> corners = [] {
        constexpr int Side = 100;
        std::vector<int> points(Side * Side * Side * 3);
        for (std::size_t i = 0; i < points.size(); ++i) points[i] = static_cast<int>(i / 3);
        std::shuffle(points.begin(), points.end(), std::mt19937(13));
        std::vector<float> result;
        result.reserve(points.size() * 3);
        for (const int p : points) {
            const int steps[3] = {p % Side, p / Side % Side, p / (Side * Side)};
            for (const int s : steps) result.push_back(static_cast<float>(0.25 + 1.05e-6 * s));
        }
        return result;
    }();
    runWeld(state, corners);
}

}  // namespace

BENCHMARK(BM_WeldTorus)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_WeldTorusShuffled)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_WeldAllNearOnePoint)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_WeldDenseLattice)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
