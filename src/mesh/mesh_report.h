// Figures of an indexed mesh for a report: counts, topology, extent, area and
// volume, in one pass over the faces and one over their edges.
#pragma once

#include <cstdint>

#include "mesh/mesh.h"

namespace stlrefine {

struct MeshReport {
    std::int32_t vertices = 0;  // as given (after welding or subdivision)
    std::int32_t facets = 0;
    // Edges are the distinct vertex pairs {p, q} of the facets that are not
    // collapsed (see collapsedFacets).
    std::int32_t edges = 0;
    std::int32_t boundaryEdges = 0;     // edges of one facet
    std::int32_t nonManifoldEdges = 0;  // edges of three or more facets
    std::int32_t flippedEdges = 0;      // edges of two facets that run the same way
    // Facets of zero area or without a finite unit normal (by the rule of
    // computeFaceNormals); they are counted in every other figure as well.
    std::int32_t degenerateFacets = 0;
    // Facets two of whose corners are one vertex or lie at one point: a
    // segment or a point. Degenerate as well, and left out of the edges and
    // the parts.
    std::int32_t collapsedFacets = 0;
    std::int32_t parts = 0;                   // facets connected through shared edges
    std::int32_t smallestPart = 0;            // facets in the smallest part (0: no part)
    std::int32_t facetsWithOpenEdges = 0;     // facets with at least one boundary edge
    std::int32_t facetsWithTwoOpenEdges = 0;  // of them, those with exactly two
    // Smallest and largest coordinate on each axis, over every vertex (a NaN
    // coordinate is skipped); zeros for a mesh without vertices.
    float boxMin[3] = {0, 0, 0};
    float boxMax[3] = {0, 0, 0};
    double area = 0;
    // Signed: positive for a closed mesh whose faces run counter-clockwise
    // seen from outside. Only a closed mesh encloses a volume; for another
    // one this is the signed volume of the cone from vertex 0 (the origin
    // if vertex 0 is not finite) over the faces.
    double volume = 0;
    // Every edge has exactly two facets, running opposite ways.
    bool closed = false;

    friend bool operator==(const MeshReport&, const MeshReport&) = default;
};

// The figures of a mesh whose face indices are all in range. Time and
// memory linear in its vertices and faces; throws std::bad_alloc only.
MeshReport reportMesh(const Mesh& mesh);

// The figures of reportMesh that need no edges: the counts of vertices,
// facets, degenerate and collapsed facets, the box, area and volume; the
// edge figures and parts are left at zero. One pass over the faces, no
// memory.
MeshReport reportFaces(const Mesh& mesh);

}  // namespace stlrefine
