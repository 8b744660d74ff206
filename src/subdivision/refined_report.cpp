// The report of a refined mesh, from the report of the mesh it was refined
// from where the edges follow from that one.
//
// Take a closed mesh none of whose facets is collapsed: every edge has two
// facets, running opposite ways, and each slot p->q is paired with the q->p
// slot of the other facet. An iteration splits each such edge into two, each
// held by one child of either facet, opposite ways again, and adds three
// inner edges in each facet, held by its middle child and one corner child.
// An inner edge gets more facets only when two facets share two edges; in a
// closed mesh those two share all three and make a part of two facets on
// their own. Without such a part the refined mesh is closed again, of the
// same parts, each four times as large, and has no such part either. So
// after any number of iterations its edges are three halves of its facets,
// with no boundary, non-manifold or flipped edge, as long as none of its own
// facets is collapsed (rounded midpoints can make one).
//
// That leaves one pass over the refined faces for the figures that need no
// edges; every other mesh gets a full report.
#include "mesh/mesh_report.h"
#include "subdivision/subdivision.h"

namespace stlrefine {

MeshReport reportRefinedMesh(const Mesh& refined, const MeshReport& original) {
    if (!original.closed || original.collapsedFacets != 0 || original.smallestPart <= 2)
        return reportMesh(refined);
    MeshReport report = reportFaces(refined);
    if (report.collapsedFacets != 0) return reportMesh(refined);
    report.edges = 3 * (report.facets / 2);  // every edge has two slots
    report.parts = original.parts;
    report.smallestPart = original.smallestPart * (report.facets / original.facets);
    report.closed = true;
    return report;
}

}  // namespace stlrefine
