// Inputs shaped to make welding or edge pairing slow: everything crowded
// into one spot of the spatial hash, corners on cell boundaries, a fan of
// faces on one edge, and keys chosen to collide in a fixed hash function.
// Shared by the worst-case test (which only needs them to finish) and the
// worst-case benchmark (which measures them).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "support/meshes.h"

namespace testing_support {

// `cornerCount` corners (x, y, z each) for welding.
struct WeldInput {
    std::string name;
    std::vector<float> corners;
    std::int32_t cornerCount() const { return static_cast<std::int32_t>(corners.size() / 3); }
};

// Every corner within the tolerance (1e-6 per axis) of one point.
WeldInput cornersNearOnePoint(std::int32_t cornerCount);
// Every corner within 2e-6 of a point where cells of every size meet, so
// every vertex's box reaches into eight cells.
WeldInput cornersAroundCellCorner(std::int32_t cornerCount);
// Corners on the plane x = 0.5 (a cell boundary) on a lattice 2^-18 apart,
// itself on cell boundaries: distinct vertices, each entered in several
// cells, hundreds to a cell.
WeldInput cornersOnCellBoundaryPlane(std::int32_t cornerCount);
// Distinct points of a lattice, one per cell, whose cells all land in the
// first 1/16 of the table under the welding's hash without a per-call seed
// (2^-14 cells).
WeldInput cornersCollidingInFixedHash(std::int32_t cornerCount);

std::vector<WeldInput> weldWorstCases(std::int32_t cornerCount);

// A mesh for one subdivision iteration.
struct SubdivisionInput {
    std::string name;
    Mesh mesh;
};

// `faceCount` faces on the edge 0-1, alternating in direction, their third
// corners cycling through a few thousand vertices.
SubdivisionInput facesOnOneEdge(std::int32_t faceCount);
// One triangle repeated `faceCount` times, all the same way round: no slot
// ever finds a partner.
SubdivisionInput repeatedTriangle(std::int32_t faceCount);
// `faceCount` faces (lo, hi, hi) over 50000 vertices whose edges {lo, hi}
// all land in the first 1/512 of the edge table under the multiplicative
// hash without a per-call multiplier.
SubdivisionInput edgesCollidingInFixedHash(std::int32_t faceCount);

std::vector<SubdivisionInput> subdivisionWorstCases(std::int32_t faceCount);

}  // namespace testing_support
