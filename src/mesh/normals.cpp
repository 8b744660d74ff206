// Face normals and facet expansion.
//
// Single precision throughout, each operation rounded as written (the build
// forbids contracting a*b - c*d into fused multiply-adds), so the normals are
// bit-for-bit reproducible on every platform.
#include <cmath>

#include "mesh/mesh.h"

namespace stlrefine {

namespace {

// Scales (v[0], v[1], v[2]) to unit length in place.
void normalizeVector(float* v) {
    const float length = std::sqrt(squaredLength(v));
    // No guard: a zero vector becomes NaN, which marks a degenerate face.
    v[0] = v[0] / length;
    v[1] = v[1] / length;
    v[2] = v[2] / length;
}

}  // namespace

void computeFaceNormals(const float* vertices, const std::int32_t* faces, std::int32_t faceCount,
                        float* normals) {
    float* out = normals;
    for (std::int32_t f = 0; f < faceCount; ++f, faces += 3, out += 3) {
        const float* p0 = vertices + 3 * static_cast<std::size_t>(faces[0]);
        const float* p1 = vertices + 3 * static_cast<std::size_t>(faces[1]);
        const float* p2 = vertices + 3 * static_cast<std::size_t>(faces[2]);
        faceCross(p0, p1, p2, out);
        normalizeVector(out);
    }
}

void expandFacets(const float* vertices, const std::int32_t* faces, std::int32_t faceCount,
                  float* facetCorners) {
    const std::size_t cornerCount = 3 * static_cast<std::size_t>(faceCount);
    float* out = facetCorners;
    for (std::size_t k = 0; k < cornerCount; ++k, out += 3) {
        const float* p = vertices + 3 * static_cast<std::size_t>(faces[k]);
        out[0] = p[0];
        out[1] = p[1];
        out[2] = p[2];
    }
}

}  // namespace stlrefine
