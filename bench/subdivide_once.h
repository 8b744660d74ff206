// One subdivision iteration per benchmark iteration; building the stage's
// arrays from the mesh is not timed.
#pragma once

#include <benchmark/benchmark.h>

#include "subdivision/subdivision.h"
#include "support/meshes.h"

inline void timeOneIteration(benchmark::State& state, const testing_support::Mesh& mesh) {
    for (auto _ : state) {
        state.PauseTiming();
        testing_support::StageMesh stage(mesh);
        state.ResumeTiming();
        stlrefine::subdivideMesh(1, stage.vertexComponents, stage.vertices, stage.faceComponents,
                                 stage.faces);
        benchmark::DoNotOptimize(stage.faces.get());
        benchmark::ClobberMemory();
    }
    state.counters["faces"] = static_cast<double>(mesh.faceCount());
}
