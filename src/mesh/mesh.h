// Indexed meshes: welding facet corners into shared vertices, and turning
// faces back into facets with unit normals.
#pragma once

#include <cstdint>

#include "common/arrays.h"

namespace stlrefine {

// Largest per-axis distance at which a corner joins a stored vertex.
inline constexpr double WeldTolerance = 1e-6;

// Turns `cornerCount` corners (x, y, z each) into a vertex array and a face
// index array. Each corner gets the lowest-index stored vertex whose per-axis
// difference, taken in single precision, is at most WeldTolerance; the first
// three corners always become vertices 0, 1, 2. Fewer than three corners give
// an empty mesh. faceCount is cornerCount / 3.
void weldVertices(const float* corners, std::int32_t cornerCount, VertexArray& vertexArray,
                  std::int32_t& vertexCount, FaceIndexArray& faceIndexArray,
                  std::int32_t& faceCount);

// Unit normal of each of `faceCount` faces into `normals` (three floats per
// face): the cross product of (P1 - P0) and (P2 - P0) divided by its length,
// all in single precision, with no guard against zero length (a degenerate
// face gets NaN).
void computeFaceNormals(const float* vertices, const std::int32_t* faces, std::int32_t faceCount,
                        float* normals);

// The three corners of each of `faceCount` faces into `facetCorners` (nine
// floats per face, in the order of the face's indices).
void expandFacets(const float* vertices, const std::int32_t* faces, std::int32_t faceCount,
                  float* facetCorners);

}  // namespace stlrefine
