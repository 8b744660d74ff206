// Deterministic meshes for tests and benchmarks, in the stages' own type.
#pragma once

#include <cstdint>
#include <cstring>
#include <vector>

#include "mesh/mesh.h"

namespace testing_support {

using stlrefine::Mesh;

// A mesh holding `vertices` (x, y, z each) and `faces` (three indices each).
Mesh makeMesh(const std::vector<float>& vertices, const std::vector<std::int32_t>& faces);

// The coordinates and the face indices of a mesh.
std::vector<float> verticesOf(const Mesh& mesh);
std::vector<std::int32_t> facesOf(const Mesh& mesh);
inline Mesh copyOf(const Mesh& mesh) { return makeMesh(verticesOf(mesh), facesOf(mesh)); }

// Closed, consistently oriented torus: `rings` x `sides` vertices, twice as
// many faces, outward normals.
Mesh torus(int rings, int sides, float majorRadius = 2.0f, float minorRadius = 0.75f);

// The tetrahedron (0,0,0), (2,0,0), (0,2,0), (0,0,2) with faces (0,2,1),
// (0,1,3), (0,3,2), (1,2,3).
Mesh tetrahedron();

// Nine floats per face: the corners of every face, as an STL file holds them.
std::vector<float> facetCorners(const Mesh& mesh);

// The faces in a pseudo-random order fixed by `seed`.
Mesh shuffledFaces(const Mesh& mesh, std::uint32_t seed);

// Bit patterns of floats, for comparisons in which NaN payloads and the sign
// of zero count.
inline std::vector<std::uint32_t> bitsOf(const float* values, std::size_t count) {
    std::vector<std::uint32_t> bits(count);
    if (count > 0) std::memcpy(bits.data(), values, 4 * count);
    return bits;
}
template <class Floats>
inline std::vector<std::uint32_t> bitsOf(const Floats& v) {
    return bitsOf(v.data(), v.size());
}
inline std::vector<std::uint32_t> bitsOf(const Mesh& mesh) { return bitsOf(verticesOf(mesh)); }

}  // namespace testing_support
