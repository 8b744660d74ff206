// Mesh report: one pass over the faces for extent, area, volume and
// degenerate facets, then the edges, grouped without hashing.
//
// Edges. Vertex indices are dense, so the edge slots (three per face) are
// bucketed by the lower vertex of their edge with a counting sort, and inside
// a bucket the higher vertex tells the edges apart through a table indexed by
// vertex, which each bucket resets behind itself. That is linear whatever the
// mesh looks like, needs no hash seed, and gives the number of facets on every
// edge and the directions they run in. The arrays are few and small (4 bytes
// a slot, 4 a vertex, 5 a face): on a fresh process their pages cost as much
// as the work.
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
// (the first corner of the first facet of a welded file; the origin if that
// corner is not finite) over the faces,
// which does not depend on that point when the mesh is closed, and keeps
// the terms small when the mesh lies far from the origin.
#include "mesh/mesh_report.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "common/arrays.h"
#include "mesh/mesh.h"

namespace stlrefine {

namespace {

// Without branches (| and & rather than || and &&): the answer is rarely yes.
bool samePoint(const float* a, const float* b) { return (a[0] == b[0]) & (a[1] == b[1]) & (a[2] == b[2]); }

// Disjoint sets of faces: a root holds minus the size of its set, any other
// face its parent. Union by size with path halving.
class FaceSets {
public:
    explicit FaceSets(std::int32_t count)
        : parent_(allocateArray<std::int32_t>(static_cast<std::size_t>(count))) {
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
    bool isRoot(std::int32_t x) const { return parent_[x] < 0; }
    std::int32_t sizeOf(std::int32_t root) const { return -parent_[root]; }
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

// The slots of one edge among those of the current bucket.
struct EdgeGroup {
    std::int32_t upper;      // the edge's higher vertex
    std::int32_t facets;     // facets on the edge
    std::int32_t fromLower;  // of them, those that run from the lower vertex
    std::int32_t face;       // the first of them
};

void measureBox(const float* vertices, std::int32_t vertexCount, MeshReport& report) {
    if (vertexCount <= 0) return;
    float low[3] = {INFINITY, INFINITY, INFINITY}, high[3] = {-INFINITY, -INFINITY, -INFINITY};
    for (const float* p = vertices; p != vertices + 3 * static_cast<std::size_t>(vertexCount); p += 3) {
        for (int axis = 0; axis < 3; ++axis) {
            low[axis] = p[axis] < low[axis] ? p[axis] : low[axis];
            high[axis] = p[axis] > high[axis] ? p[axis] : high[axis];
        }
    }
    for (int axis = 0; axis < 3; ++axis) {
        if (low[axis] > high[axis]) low[axis] = high[axis] = 0;  // all NaN
        report.boxMin[axis] = low[axis];
        report.boxMax[axis] = high[axis];
    }
}

// Whether computeFaceNormals gives a finite normal to a face whose
// faceCross is `c`, without its square root and divisions: dividing finite
// components by the length keeps them finite whenever the squared length is
// above zero (one that overflows makes them zero), while a zero squared
// length (0/0, or x/0 after underflow), an infinite component (inf/inf) or a
// NaN gives a component that is not finite.
bool hasFiniteNormal(const float* c) {
    return std::isfinite(c[0]) && std::isfinite(c[1]) && std::isfinite(c[2]) && squaredLength(c) > 0;
}

// Whether face `face` (corners at `q`) is a segment or a point: two of its
// corners are one vertex or lie at one point.
bool isCollapsed(const std::int32_t* face, const float* const* q) {
    return face[0] == face[1] || face[1] == face[2] || face[2] == face[0] || samePoint(q[0], q[1]) ||
           samePoint(q[1], q[2]) || samePoint(q[2], q[0]);
}

// Area, volume, degenerate and collapsed facets. With `openMark`, also marks
// the collapsed facets (0 there) and counts the slots of the others into the
// bucket of their lower vertex (`bucketSize`, zeroed by the caller). Returns
// the number of slots of facets that are not collapsed.
//
// A collapsed facet has a zero edge vector, or two equal ones, so its cross
// product in single precision is zero or NaN: it has no finite normal. Only
// the degenerate facets are therefore looked at for collapse.
std::int32_t measureFaces(const float* vertices, const std::int32_t* faces, std::int32_t faceCount,
                          MeshReport& report, unsigned char* openMark, std::int32_t* bucketSize) {
    double twiceArea = 0;
    double sixVolume = 0;
    std::int32_t degenerate = 0, collapsedFacets = 0;
    // Vertex 0, or the origin when vertex 0 is not finite (it would make
    // every term NaN).
    const bool finiteFirst =
        std::isfinite(vertices[0]) && std::isfinite(vertices[1]) && std::isfinite(vertices[2]);
    double origin[3] = {0, 0, 0};
    for (int axis = 0; axis < 3 && finiteFirst; ++axis) origin[axis] = vertices[axis];
    for (std::int32_t f = 0; f < faceCount; ++f) {
        const std::int32_t* face = faces + 3 * static_cast<std::size_t>(f);
        const float* q[3];
        double p[3][3];
        for (int c = 0; c < 3; ++c) {
            q[c] = vertices + 3 * static_cast<std::size_t>(face[c]);
            for (int axis = 0; axis < 3; ++axis) p[c][axis] = q[c][axis];
        }
        const double u[3] = {p[1][0] - p[0][0], p[1][1] - p[0][1], p[1][2] - p[0][2]};
        const double w[3] = {p[2][0] - p[0][0], p[2][1] - p[0][1], p[2][2] - p[0][2]};
        const double n[3] = {u[1] * w[2] - u[2] * w[1], u[2] * w[0] - u[0] * w[2], u[0] * w[1] - u[1] * w[0]};
        const double squares = n[0] * n[0] + n[1] * n[1] + n[2] * n[2];
        float normal[3];
        faceCross(q[0], q[1], q[2], normal);
        const bool finite = hasFiniteNormal(normal);
        const bool collapsed = !finite && isCollapsed(face, q);
        collapsedFacets += collapsed ? 1 : 0;
        if (openMark) {
            openMark[f] = !collapsed;
            if (!collapsed) {
                ++bucketSize[std::min(face[0], face[1])];
                ++bucketSize[std::min(face[1], face[2])];
                ++bucketSize[std::min(face[2], face[0])];
            }
        }
        if (squares == 0 || !finite) {
            ++degenerate;
            continue;
        }
        twiceArea += std::sqrt(squares);
        // Relative to vertex 0.
        sixVolume +=
            (p[0][0] - origin[0]) * n[0] + (p[0][1] - origin[1]) * n[1] + (p[0][2] - origin[2]) * n[2];
    }
    report.degenerateFacets = degenerate;
    report.collapsedFacets = collapsedFacets;
    report.area = twiceArea / 2;
    report.volume = sixVolume / 6;
    return 3 * (faceCount - collapsedFacets);
}

}  // namespace

MeshReport reportFaces(const Mesh& mesh) {
    MeshReport report;
    report.vertices = mesh.vertexCount;
    report.facets = mesh.faceCount;
    measureBox(mesh.vertices.get(), mesh.vertexCount, report);
    if (mesh.faceCount > 0)
        measureFaces(mesh.vertices.get(), mesh.faces.get(), mesh.faceCount, report, nullptr, nullptr);
    return report;
}

MeshReport reportMesh(const Mesh& mesh) {
    const float* const vertices = mesh.vertices.get();
    const std::int32_t* const faces = mesh.faces.get();
    const std::int32_t vertexCount = mesh.vertexCount;
    const std::int32_t faceCount = mesh.faceCount;
    MeshReport report;
    report.vertices = vertexCount;
    report.facets = faceCount;
    measureBox(vertices, vertexCount, report);
    if (faceCount <= 0) return report;

    // Bucket v is [bucketEnd[v - 1], bucketEnd[v]) once counted and summed,
    // with bucketEnd[-1] = 0; filling moves each end to its bucket's start.
    // A bucket holds 4f + e for edge e of face f (below 2^32 as f is below
    // MaxMeshCount), 4 bytes each: fresh memory costs more than looking the
    // slot's corners up again.
    // openMark[f]: 0 for a collapsed facet, otherwise 1 + the number of its
    // boundary edges.
    const auto faceTotal = static_cast<std::size_t>(faceCount);
    Array<unsigned char> openMark = allocateArray<unsigned char>(faceTotal);
    Array<std::int32_t> bucketEnd = allocateArray<std::int32_t>(static_cast<std::size_t>(vertexCount));
    std::fill_n(bucketEnd.get(), vertexCount, 0);
    const std::int32_t slotCount =
        measureFaces(vertices, faces, faceCount, report, openMark.get(), bucketEnd.get());
    for (std::int32_t v = 1; v < vertexCount; ++v) bucketEnd[v] += bucketEnd[v - 1];
    Array<std::uint32_t> slots = allocateArray<std::uint32_t>(static_cast<std::size_t>(slotCount));
    for (std::int32_t f = 0; f < faceCount; ++f) {
        if (!openMark[f]) continue;
        const std::int32_t* face = faces + 3 * static_cast<std::size_t>(f);
        for (int e = 0; e < 3; ++e) {
            slots[--bucketEnd[std::min(face[e], face[e == 2 ? 0 : e + 1])]] =
                4 * static_cast<std::uint32_t>(f) + static_cast<std::uint32_t>(e);
        }
    }

    // Inside a bucket, groupOf[upper] is the group of the edge to `upper`
    // (-1: none yet); each bucket sets its entries back to -1 when done.
    Array<std::int32_t> groupOf = allocateArray<std::int32_t>(static_cast<std::size_t>(vertexCount));
    std::fill_n(groupOf.get(), vertexCount, -1);
    std::vector<EdgeGroup> groups;
    FaceSets sets(faceCount);
    for (std::int32_t lower = 0; lower < vertexCount; ++lower) {
        const std::uint32_t* slot = slots.get() + bucketEnd[lower];
        const std::uint32_t* const end =
            slots.get() + (lower + 1 < vertexCount ? bucketEnd[lower + 1] : slotCount);
        if (slot == end) continue;
        groups.clear();
        for (; slot != end; ++slot) {
            const auto face = static_cast<std::int32_t>(*slot >> 2), e = static_cast<std::int32_t>(*slot & 3);
            const std::int32_t* corners = faces + 3 * static_cast<std::size_t>(face);
            const std::int32_t p = corners[e], q = corners[e == 2 ? 0 : e + 1];
            const std::int32_t upper = p ^ q ^ lower;  // the end that is not `lower`
            std::int32_t& group = groupOf[upper];
            if (group < 0) {
                group = static_cast<std::int32_t>(groups.size());
                groups.push_back(EdgeGroup{upper, 1, p < q ? 1 : 0, face});
            } else {
                EdgeGroup& edge = groups[static_cast<std::size_t>(group)];
                ++edge.facets;
                edge.fromLower += p < q ? 1 : 0;
                sets.unite(edge.face, face);
            }
        }
        for (const EdgeGroup& edge : groups) {
            groupOf[edge.upper] = -1;
            if (edge.facets == 1) {
                ++report.boundaryEdges;
                ++openMark[edge.face];
            } else if (edge.facets == 2) {
                report.flippedEdges += edge.fromLower == 1 ? 0 : 1;
            } else {
                ++report.nonManifoldEdges;
            }
        }
        report.edges += static_cast<std::int32_t>(groups.size());
    }
    for (std::int32_t f = 0; f < faceCount; ++f) {
        report.facetsWithOpenEdges += openMark[f] >= 2 ? 1 : 0;
        report.facetsWithTwoOpenEdges += openMark[f] == 3 ? 1 : 0;
        if (openMark[f] != 0 && sets.isRoot(f)) {
            ++report.parts;
            const std::int32_t size = sets.sizeOf(f);
            if (report.smallestPart == 0 || size < report.smallestPart) report.smallestPart = size;
        }
    }
    report.closed = report.edges > 0 && report.boundaryEdges == 0 && report.nonManifoldEdges == 0 &&
                    report.flippedEdges == 0;
    return report;
}

}  // namespace stlrefine
