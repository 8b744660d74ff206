// Indexed meshes: the mesh the stages hand on, welding facet corners into
// shared vertices, and turning faces back into facets with unit normals.
#pragma once

#include <climits>
#include <cstdint>

#include "common/arrays.h"

namespace stlrefine {

// An indexed triangle mesh. The weld makes it, the subdivision refines it,
// the writer writes it.
struct Mesh {
    Array<float> vertices;      // x, y, z of vertex v at 3v, 3v + 1, 3v + 2
    Array<std::int32_t> faces;  // corners of face f at 3f, 3f + 1, 3f + 2; (a, b, c) is the orientation
    std::int32_t vertexCount = 0;
    std::int32_t faceCount = 0;
};

// Most vertices, and most faces, a mesh may have: its coordinates (three per
// vertex) and its corners (three per face) can then be counted in signed 32
// bits as well.
inline constexpr std::int32_t MaxMeshCount = INT32_MAX / 3;

// Largest per-axis distance at which a corner joins a stored vertex.
inline constexpr double WeldTolerance = 1e-6;

// The mesh of `cornerCount` corners (x, y, z each): each corner gets the
// lowest-index stored vertex whose per-axis difference, taken in single
// precision, is at most WeldTolerance; the first three corners always become
// vertices 0, 1, 2. Face f has corners 3f, 3f + 1, 3f + 2 (faceCount is
// cornerCount / 3); fewer than three corners give an empty mesh.
// `cornerCount` is at most MaxMeshCount.
Mesh weldVertices(const float* corners, std::int32_t cornerCount);

// The cross product of (P1 - P0) and (P2 - P0) into `out`, in single
// precision, each operation rounded as written.
inline void faceCross(const float* p0, const float* p1, const float* p2, float* out) {
    const float e1x = p1[0] - p0[0], e1y = p1[1] - p0[1], e1z = p1[2] - p0[2];
    const float e2x = p2[0] - p0[0], e2y = p2[1] - p0[1], e2z = p2[2] - p0[2];
    out[0] = e1y * e2z - e1z * e2y;
    out[1] = e1z * e2x - e1x * e2z;
    out[2] = e1x * e2y - e1y * e2x;
}

// The squared length of `v`, in single precision.
inline float squaredLength(const float* v) { return (v[0] * v[0] + v[1] * v[1]) + v[2] * v[2]; }

// Unit normal of each of `faceCount` faces into `normals` (three floats per
// face): faceCross divided by its length, all in single precision, with no
// guard against zero length (a degenerate face gets NaN).
void computeFaceNormals(const float* vertices, const std::int32_t* faces, std::int32_t faceCount,
                        float* normals);

// The three corners of each of `faceCount` faces into `facetCorners` (nine
// floats per face, in the order of the face's indices).
void expandFacets(const float* vertices, const std::int32_t* faces, std::int32_t faceCount,
                  float* facetCorners);

}  // namespace stlrefine
