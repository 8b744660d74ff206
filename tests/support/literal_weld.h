// The plain first-match welding: every corner is compared with every stored
// vertex in index order. Quadratic, kept as the reference the fast welding
// is checked against.
#pragma once

#include <cstdint>

#include "support/meshes.h"

namespace testing_support {

// Corners 0, 1, 2 become vertices 0, 1, 2; every later corner takes the first
// stored vertex whose per-axis float difference is within 1e-6, or becomes a
// new vertex. Fewer than three corners give an empty mesh.
Mesh literalWeld(const float* corners, std::int32_t cornerCount);

}  // namespace testing_support
