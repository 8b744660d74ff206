// One subdivision iteration per benchmark iteration; copying the mesh is not
// timed.
#pragma once

#include <benchmark/benchmark.h>

#include "subdivision/subdivision.h"
#include "support/meshes.h"

inline void timeOneIteration(benchmark::State& state, const testing_support::Mesh& mesh) {
    for (auto _ : state) {
        state.PauseTiming();
        testing_support::Mesh copy = testing_support::copyOf(mesh);
        state.ResumeTiming();
        stlrefine::subdivideMesh(copy, 1);
        benchmark::DoNotOptimize(copy.faces.get());
        benchmark::ClobberMemory();
    }
    state.counters["faces"] = static_cast<double>(mesh.faceCount);
}
