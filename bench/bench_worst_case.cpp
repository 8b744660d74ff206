// Welding and one subdivision iteration on the inputs shaped to be slowest:
// corners crowded into one spot or onto cell boundaries, faces fanned around
// one edge, keys chosen to collide in a fixed hash function. Each runs at
// two sizes a factor 4 apart: linear cost shows as an unchanged per_corner
// or per_face figure.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>
#include <string>

#include "mesh/mesh.h"
#include "subdivision/subdivision.h"
#include "subdivide_once.h"
#include "support/worst_case.h"

namespace {

using testing_support::SubdivisionInput;
using testing_support::WeldInput;

void weld(benchmark::State& state, const WeldInput& input) {
    std::int32_t vertexCount = 0;
    for (auto _ : state) {
        const stlrefine::Mesh mesh = stlrefine::weldVertices(input.corners.data(), input.cornerCount());
        vertexCount = mesh.vertexCount;
        benchmark::DoNotOptimize(mesh.faces.get());
    }
    state.counters["corners"] = input.cornerCount();
    state.counters["vertices"] = vertexCount;
    state.counters["per_corner"] = benchmark::Counter(
        input.cornerCount(), benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

void subdivide(benchmark::State& state, const SubdivisionInput& input) {
    const testing_support::Mesh& mesh = input.mesh;
    timeOneIteration(state, mesh);
    state.counters["per_face"] = benchmark::Counter(
        mesh.faceCount, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    // The inputs live until the benchmarks have run.
    std::vector<WeldInput> weldInputs;
    std::vector<SubdivisionInput> subdivisionInputs;
    for (const std::int32_t corners : {750'000, 3'000'000}) {
        for (WeldInput& input : testing_support::weldWorstCases(corners))
            weldInputs.push_back(std::move(input));
    }
    for (const std::int32_t faces : {500'000, 2'000'000}) {
        for (SubdivisionInput& input : testing_support::subdivisionWorstCases(faces)) {
            subdivisionInputs.push_back(std::move(input));
        }
    }
    for (const WeldInput& input : weldInputs) {
        benchmark::RegisterBenchmark(
            ("BM_Weld/" + input.name + "/" + std::to_string(input.cornerCount())).c_str(),
            [&input](benchmark::State& state) { weld(state, input); })
            ->Unit(benchmark::kMillisecond);
    }
    for (const SubdivisionInput& input : subdivisionInputs) {
        benchmark::RegisterBenchmark(
            ("BM_Subdivide/" + input.name + "/" + std::to_string(input.mesh.faceCount)).c_str(),
            [&input](benchmark::State& state) { subdivide(state, input); })
            ->Unit(benchmark::kMillisecond);
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
