// Deterministic meshes for tests and benchmarks.
#pragma once

#include <cstdint>
#include <cstring>
#include <vector>

#include "common/arrays.h"

namespace testing_support {

struct Mesh {
    std::vector<float> vertices;      // x, y, z per vertex
    std::vector<std::int32_t> faces;  // three indices per face
    std::int32_t vertexCount() const { return static_cast<std::int32_t>(vertices.size() / 3); }
    std::int32_t faceCount() const { return static_cast<std::int32_t>(faces.size() / 3); }
};

// A mesh as the subdivision stage holds it: component counts (three per
// vertex, three per face) and heap arrays that the stage may replace.
struct StageMesh {
    std::int32_t vertexComponents = 0;
    std::int32_t faceComponents = 0;
    stlrefine::VertexArray vertices;
    stlrefine::FaceIndexArray faces;

    explicit StageMesh(const Mesh& mesh);
    Mesh toMesh() const;
};

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
inline std::vector<std::uint32_t> bitsOf(const Floats& v) { return bitsOf(v.data(), v.size()); }

}  // namespace testing_support
