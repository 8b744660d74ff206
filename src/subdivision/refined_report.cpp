// The report of a refined mesh, from the report of the mesh it was refined
// from where the edges follow from that one.
//
// Take a mesh none of whose facets is collapsed and whose every edge has one
// facet (a boundary edge) or two running opposite ways, so that the
// subdivision pairs the two slots of every inner edge and no others. An
// iteration splits each edge into two halves, held as the edge was: by one
// child of either facet, opposite ways, or by one child alone on the
// boundary. It adds three inner edges to each facet, held by the middle child
// and a corner child. An inner edge gets more facets only when two facets
// share two edges; those two share all three and, with no edge of three
// facets, make a part of two facets on their own. Without such a part the
// refined mesh is such a mesh again, of the same parts, each four times as
// large. After k iterations the boundary edges are 2^k times as many, and
// every other edge has two slots. A facet with one boundary edge has 2^k
// descendants on the boundary, each with one boundary edge; one with two has
// 2^(k+1) - 1, of which one (at their common corner) has two. (A facet with
// three is a part of its own, so there is none.)
//
// All that holds as long as no refined facet is collapsed (rounded midpoints
// can make one), which the pass over the refined faces for the figures that
// need no edges tells; every other mesh gets a full report.
#include <cstdint>

#include "mesh/mesh_report.h"
#include "subdivision/subdivision.h"

namespace stlrefine {

MeshReport reportRefinedMesh(const Mesh& refined, const MeshReport& original) {
    if (original.nonManifoldEdges != 0 || original.flippedEdges != 0 || original.collapsedFacets != 0 ||
        original.smallestPart <= 2)
        return reportMesh(refined);
    MeshReport report = reportFaces(refined);
    if (report.collapsedFacets != 0) return reportMesh(refined);
    const std::int32_t growth = report.facets / original.facets;  // 4^k
    std::int32_t split = 1;                                       // 2^k
    while (split * split < growth) split *= 2;
    report.boundaryEdges = original.boundaryEdges * split;
    report.edges = static_cast<std::int32_t>((3 * std::int64_t{report.facets} + report.boundaryEdges) / 2);
    const std::int32_t two = original.facetsWithTwoOpenEdges;
    report.facetsWithOpenEdges = (original.facetsWithOpenEdges - two) * split + two * (2 * split - 1);
    report.facetsWithTwoOpenEdges = two;
    report.parts = original.parts;
    report.smallestPart = original.smallestPart * growth;
    report.closed = original.closed;
    return report;
}

}  // namespace stlrefine
