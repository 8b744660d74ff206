// Mesh report: one pass over the faces for extent, area, volume and
// degenerate facets, then the edges, grouped without hashing.
//
// Edges. Vertex indices are dense, so the edge slots (three per face) are
// bucketed by the lower vertex of their edge with a counting sort, and inside
// a bucket the higher vertex tells the edges apart through a table indexed by
// vertex that is stamped with the bucket's vertex (and so needs no clearing).
// That is linear whatever the mesh looks like, needs no hash seed, and gives
// the number of facets on every edge and the directions they run in.
//
// Collapsed facets: a facet two of whose corners are the same vertex, or lie
// at the same point, is a segment or a point. Its "edges" would be a vertex
// paired with itself and one segment walked there and back, which would turn
// a clean edge beside it into a non-manifold one; so it takes no part in the
// edge figures or the parts (it is counted as degenerate).
//
// Parts: facets are joined by union-find whenever they share an edge, which
// includes all facets around a non-manifold edge.
//
// Area and volume are accumulated in double over the non-degenerate facets:
// the differences of float coordinates are exact in double (unless their
// magnitudes are 2^29 apart), so the only rounding is that of the products
// and the sums, far below what a float mesh can resolve even over millions
// of facets. The volume is the sum of the signed tetrahedra from vertex 0
// (the first corner of the first facet of a welded file) over the faces,
// which does not depend on that point when the mesh is closed, and keeps
// the terms small when the mesh lies far from the origin.
#include "mesh/mesh_report.h"

#include <algorithm>
#include <cmath>

#include "common/arrays.h"
#include "mesh/mesh.h"

namespace stlrefine {

namespace {

bool samePoint(const float* a, const float* b) { return a[0] == b[0] && a[1] == b[1] && a[2] == b[2]; }

bool isCollapsed(const float* vertices, const std::int32_t* face) {
    const float* p[3];
    for (int k = 0; k < 3; ++k) p[k] = vertices + 3 * static_cast<std::size_t>(face[k]);
    return face[0] == face[1] || face[1] == face[2] || face[2] == face[0] || samePoint(p[0], p[1]) ||
           samePoint(p[1], p[2]) || samePoint(p[2], p[0]);
}

// Disjoint sets of faces: a root holds minus the size of its set, any other
// face its parent. Union by size with path halving.
class FaceSets {
public:
    explicit FaceSets(std::int32_t count) : parent_(allocateArray<std::int32_t>(static_cast<std::size_t>(count))) {
        std::fill_n(parent_.get(), count, -1);
    }
    std::int32_t find(std::int32_t x) {
        while (parent_[x] >= 0) {
            const std::int32_t up = parent_[x];
            if (parent_[up] >= 0) parent_[x] = parent_[up];
            x = up;
        }
        return x;
    }
    void unite(std::int32_t a, std::int32_t b) {
        a = find(a);
        b = find(b);
        if (a == b) return;
        if (parent_[a] > parent_[b]) std::swap(a, b);  // a is the larger set
        parent_[a] += parent_[b];
        parent_[b] = a;
    }

private:
    Array<std::int32_t> parent_;
};

// What the current bucket knows about the edge to one higher vertex.
struct EdgeTally {
    std::int32_t bucket;     // lower vertex of the edge last seen, -1: none
    std::int32_t facets;     // facets on the edge
    std::int32_t fromLower;  // of them, those that run from the lower vertex
    std::int32_t face;       // the first of them
};

// Extent, area, volume and degenerate facets.
void measureFaces(const float* vertices, std::int32_t vertexCount, const std::int32_t* faces,
                  std::int32_t faceCount, MeshReport& report) {
    if (vertexCount > 0) {
        std::fill_n(report.boxMin, 3, INFINITY);
        std::fill_n(report.boxMax, 3, -INFINITY);
        for (std::size_t i = 0; i < 3 * static_cast<std::size_t>(vertexCount); ++i) {
            const float value = vertices[i];
            const std::size_t axis = i % 3;
            if (value < report.boxMin[axis]) report.boxMin[axis] = value;
            if (value > report.boxMax[axis]) report.boxMax[axis] = value;
        }
        for (int axis = 0; axis < 3; ++axis) {
            if (report.boxMin[axis] > report.boxMax[axis]) report.boxMin[axis] = report.boxMax[axis] = 0;  // all NaN
        }
    }
    double twiceArea = 0;
    double sixVolume = 0;
    for (std::int32_t f = 0; f < faceCount; ++f) {
        const std::int32_t* face = faces + 3 * static_cast<std::size_t>(f);
        float normal[3];
        computeFaceNormals(vertices, face, 1, normal);
        double p[3][3];
        for (int k = 0; k < 3; ++k) {
            for (int axis = 0; axis < 3; ++axis) {
                p[k][axis] = vertices[3 * static_cast<std::size_t>(face[k]) + axis];
            }
        }
        const double u[3] = {p[1][0] - p[0][0], p[1][1] - p[0][1], p[1][2] - p[0][2]};
        const double w[3] = {p[2][0] - p[0][0], p[2][1] - p[0][1], p[2][2] - p[0][2]};
        const double n[3] = {u[1] * w[2] - u[2] * w[1], u[2] * w[0] - u[0] * w[2], u[0] * w[1] - u[1] * w[0]};
        const double length = std::sqrt(n[0] * n[0] + n[1] * n[1] + n[2] * n[2]);
        if (length == 0 || !(std::isfinite(normal[0]) && std::isfinite(normal[1]) && std::isfinite(normal[2]))) {
            ++report.degenerateFacets;
            continue;
        }
        twiceArea += length;
        // Relative to vertex 0.
        sixVolume += (p[0][0] - vertices[0]) * n[0] + (p[0][1] - vertices[1]) * n[1] + (p[0][2] - vertices[2]) * n[2];
    }
    report.area = twiceArea / 2;
    report.volume = sixVolume / 6;
}

}  // namespace

MeshReport reportMesh(const float* vertices, std::int32_t vertexCount, const std::int32_t* faces,
                      std::int32_t faceCount) {
    MeshReport report;
    report.vertices = vertexCount;
    report.facets = faceCount;
    measureFaces(vertices, vertexCount, faces, faceCount, report);
    if (faceCount <= 0) return report;

    // Slots of the facets that have edges, bucketed by their lower vertex:
    // bucket v is [bucketEnd[v - 1], bucketEnd[v]), with bucketEnd[-1] = 0.
    const auto faceTotal = static_cast<std::size_t>(faceCount);
    Array<unsigned char> hasEdges = allocateArray<unsigned char>(faceTotal);
    Array<std::int32_t> bucketEnd = allocateArray<std::int32_t>(static_cast<std::size_t>(vertexCount));
    std::fill_n(bucketEnd.get(), vertexCount, 0);
    std::int32_t slotCount = 0;
    for (std::size_t f = 0; f < faceTotal; ++f) {
        const std::int32_t* face = faces + 3 * f;
        hasEdges[f] = !isCollapsed(vertices, face);
        if (!hasEdges[f]) continue;
        for (int e = 0; e < 3; ++e) ++bucketEnd[std::min(face[e], face[e == 2 ? 0 : e + 1])];
        slotCount += 3;
    }
    for (std::int32_t v = 1; v < vertexCount; ++v) bucketEnd[v] += bucketEnd[v - 1];
    // Filled back to front, each bucket in slot order.
    Array<std::int32_t> slots = allocateArray<std::int32_t>(static_cast<std::size_t>(slotCount));
    for (std::int32_t s = 3 * faceCount - 1; s >= 0; --s) {
        if (!hasEdges[s / 3]) continue;
        const std::int32_t next = s % 3 == 2 ? s - 2 : s + 1;
        slots[--bucketEnd[std::min(faces[s], faces[next])]] = s;
    }
    // Now bucketEnd[v] is where bucket v starts.

    Array<EdgeTally> tally = allocateArray<EdgeTally>(static_cast<std::size_t>(vertexCount));
    for (std::int32_t v = 0; v < vertexCount; ++v) tally[v].bucket = -1;
    Array<unsigned char> open = allocateArray<unsigned char>(faceTotal);
    std::fill_n(open.get(), faceTotal, 0);
    FaceSets sets(faceCount);
    auto upperOf = [faces](std::int32_t s, std::int32_t lower) {
        const std::int32_t p = faces[s], q = faces[s % 3 == 2 ? s - 2 : s + 1];
        return p == lower ? q : p;
    };
    for (std::int32_t lower = 0; lower < vertexCount; ++lower) {
        const std::int32_t begin = bucketEnd[lower];
        const std::int32_t end = lower + 1 < vertexCount ? bucketEnd[lower + 1] : slotCount;
        for (std::int32_t k = begin; k < end; ++k) {
            const std::int32_t s = slots[k];
            EdgeTally& edge = tally[upperOf(s, lower)];
            if (edge.bucket != lower) {
                edge = EdgeTally{lower, 0, 0, s / 3};
            } else {
                sets.unite(edge.face, s / 3);
            }
            ++edge.facets;
            edge.fromLower += faces[s] == lower ? 1 : 0;
        }
        // Each edge once: its tally is released at its first slot.
        for (std::int32_t k = begin; k < end; ++k) {
            EdgeTally& edge = tally[upperOf(slots[k], lower)];
            if (edge.bucket != lower) continue;
            edge.bucket = -1;
            ++report.edges;
            if (edge.facets == 1) {
                ++report.boundaryEdges;
                open[edge.face] = 1;
            } else if (edge.facets == 2) {
                report.flippedEdges += edge.fromLower == 1 ? 0 : 1;
            } else {
                ++report.nonManifoldEdges;
            }
        }
    }
    for (std::int32_t f = 0; f < faceCount; ++f) {
        report.facetsWithOpenEdges += open[f];
        if (hasEdges[f] && sets.find(f) == f) ++report.parts;
    }
    report.closed = report.edges > 0 && report.boundaryEdges == 0 && report.nonManifoldEdges == 0 &&
                    report.flippedEdges == 0;
    return report;
}

}  // namespace stlrefine
