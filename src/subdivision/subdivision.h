// Midpoint subdivision: every triangle is split into four through the
// midpoints of its edges, iteration after iteration. Old vertices keep their
// positions and indices; each new vertex is the plain midpoint of an edge.
#pragma once

#include <cstdint>
#include <vector>

#include "mesh/mesh.h"
#include "mesh/mesh_report.h"

namespace stlrefine {

// An iteration starts only on a mesh of at most this many vertices.
inline constexpr std::int32_t IterationVertexLimit = 50000;

// Runs up to `iterations` iterations on `mesh`, which each iteration
// replaces by the refined mesh. Returns the number of iterations run: fewer
// than asked when the mesh has passed IterationVertexLimit.
std::int32_t subdivideMesh(Mesh& mesh, std::int32_t iterations);

// As subdivideMesh, but before each iteration the z extent of the triangles
// is measured, and the iteration runs only if some triangle is taller than
// `heightThreshold`. Appends to `heights` the largest height each test met
// (one entry per test: one more than the iterations run when a test ended
// the refinement).
std::int32_t subdivideMeshHeightLimited(Mesh& mesh, std::int32_t iterations, float heightThreshold,
                                        std::vector<float>& heights);

// reportMesh(refined), where `refined` is the mesh that whole iterations of
// subdivideMesh or subdivideMeshHeightLimited made of a mesh whose report is
// `original`. Its edges and parts are worked out from `original` when every
// edge of that mesh has one facet or two running opposite ways, and counted
// otherwise.
MeshReport reportRefinedMesh(const Mesh& refined, const MeshReport& original);

}  // namespace stlrefine
