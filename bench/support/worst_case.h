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

// Corners near one point, around a point where cells of every size meet, on a
// cell boundary plane, and one per cell colliding in a fixed (unseeded) hash.
std::vector<WeldInput> weldWorstCases(std::int32_t cornerCount);

// A mesh for one subdivision iteration.
struct SubdivisionInput {
    std::string name;
    Mesh mesh;
};

// Faces on one edge in both directions, one triangle repeated the same way
// round, and edges colliding in a fixed (unseeded) multiplicative hash.
std::vector<SubdivisionInput> subdivisionWorstCases(std::int32_t faceCount);

}  // namespace testing_support
