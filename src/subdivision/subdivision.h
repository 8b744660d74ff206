// Midpoint subdivision: every triangle is split into four through the
// midpoints of its edges, iteration after iteration. Old vertices keep their
// positions and indices; each new vertex is the plain midpoint of an edge.
#pragma once

#include <cstdint>

#include "common/arrays.h"

namespace stlrefine {

// An iteration starts only on a mesh of at most this many vertices.
inline constexpr std::int32_t IterationVertexLimit = 50000;
// Starting values of a triangle's highest and lowest z in the height test.
inline constexpr float HeightTopStart = -1000.0f;
inline constexpr float HeightBottomStart = 1000.0f;

// Runs up to `iterations` iterations on the caller's mesh. Counts are
// component counts (three per vertex, three per face). After each iteration
// the caller's arrays and counts are replaced by the refined ones.
void subdivideMesh(std::int32_t iterations, std::int32_t& vertexComponentCount,
                   VertexArray& vertexArray, std::int32_t& faceComponentCount,
                   FaceIndexArray& faceIndexArray);

// As subdivideMesh, but every iteration first measures the z extent of the
// triangles, prints "-------max hight in triangles: <h>------" and runs only
// if some triangle is taller than `heightThreshold`.
void subdivideMeshHeightLimited(std::int32_t iterations, std::int32_t& vertexComponentCount,
                                VertexArray& vertexArray, std::int32_t& faceComponentCount,
                                FaceIndexArray& faceIndexArray, float heightThreshold);

}  // namespace stlrefine
