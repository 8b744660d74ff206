// The mesh report on meshes whose figures can be checked by hand, and on
// shuffled tori, whose edges and parts follow from their grid.
#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <vector>

#include "mesh/mesh_report.h"
#include "subdivision/subdivision.h"
#include "support/meshes.h"

using namespace testing_support;

namespace {

// Vertices, facets, edges, boundary, non-manifold, flipped, degenerate, collapsed, parts, smallest part,
// open facets, closed.
std::vector<std::int32_t> countsOf(const stlrefine::MeshReport& r) {
    return {r.vertices,         r.facets,          r.edges, r.boundaryEdges, r.nonManifoldEdges,    r.flippedEdges,
            r.degenerateFacets, r.collapsedFacets, r.parts, r.smallestPart,  r.facetsWithOpenEdges, r.closed};
}

// The tetrahedron with more vertices and faces.
Mesh tetrahedronWith(std::vector<float> vertices, std::vector<std::int32_t> faces) {
    const Mesh base = tetrahedron();
    std::vector<float> allVertices = verticesOf(base);
    std::vector<std::int32_t> allFaces = facesOf(base);
    allVertices.insert(allVertices.end(), vertices.begin(), vertices.end());
    allFaces.insert(allFaces.end(), faces.begin(), faces.end());
    return makeMesh(allVertices, allFaces);
}

}  // namespace

TEST(MeshReport, HandCheckedMeshes) {
    const double tetrahedronArea = 6 + 2 * std::sqrt(3.0);
    // clang-format off
    struct Case { const char* name; Mesh mesh; std::vector<std::int32_t> counts; double area, volume; } cases[] = {
        {"tetrahedron", tetrahedron(), {4, 4, 6, 0, 0, 0, 0, 0, 1, 4, 0, 1}, tetrahedronArea, 4.0 / 3},
        // Inside out, and away from the origin, so that no corner's coordinates vanish.
        {"inside out", makeMesh({1, 2, 3, 3, 2, 3, 1, 4, 3, 1, 2, 5}, {0, 1, 2, 0, 3, 1, 0, 2, 3, 1, 3, 2}), {4, 4, 6, 0, 0, 0, 0, 0, 1, 4, 0, 1}, tetrahedronArea, -4.0 / 3},
        {"open strip", makeMesh({0, 0, 0, 1, 0, 0, 1, 1, 0, 0, 1, 0, 2, 0, 0}, {0, 1, 2, 0, 2, 3, 1, 4, 2}), {5, 3, 7, 5, 0, 0, 0, 0, 1, 3, 3, 0}, 1.5, 0},
        // A second tetrahedron on vertex 0 only: touching at a point is not connected.
        {"two parts", tetrahedronWith({0, 0, -2, 0, -2, 0, -2, 0, 0}, {0, 5, 4, 0, 4, 6, 0, 6, 5, 4, 5, 6}), {7, 8, 12, 0, 0, 0, 0, 0, 2, 4, 0, 1}, 2 * tetrahedronArea, 8.0 / 3},
        // A fin on edge 0-1 (three facets there) joins the tetrahedron's part.
        {"non-manifold", tetrahedronWith({1, -1, 1}, {0, 1, 4}), {5, 5, 8, 2, 1, 0, 0, 0, 1, 5, 1, 0}, tetrahedronArea + std::sqrt(2.0), 4.0 / 3},
        // A collapsed facet has no edges and no part; a sliver along edge 0-1 has both.
        {"degenerate", tetrahedronWith({1, 0, 0}, {1, 1, 2, 0, 4, 1}), {5, 6, 8, 2, 1, 0, 2, 1, 1, 5, 1, 0}, tetrahedronArea, 4.0 / 3},
        // Collapsed by its last two corners: at one point, and one vertex (a NaN one, so no point).
        {"collapsed at the end", makeMesh({0, 0, 0, 1, 0, 0, 1, 0, 0, NAN, 0, 0}, {0, 1, 2, 0, 3, 3}), {4, 2, 0, 0, 0, 0, 2, 2, 0, 0, 0, 0}, 0, 0},
        // A NaN corner: no area, volume or extent, but edges and a part.
        {"not finite", makeMesh({0, 0, 0, 1, 0, 0, 0, 1, 0, 5, 5, 5, 6, 5, 5, NAN, 0, 0}, {0, 1, 2, 3, 4, 5}), {6, 2, 6, 6, 0, 0, 1, 0, 2, 1, 2, 0}, 0.5, 0},
        // Single precision at the ends of its range: a squared length that overflows still
        // gives a finite (zero) normal; a cross product that overflows or underflows does not.
        {"huge", makeMesh({0, 0, 0, 0x1p63f, 0, 0, 0, 0x1p63f, 0}, {0, 1, 2}), {3, 1, 3, 3, 0, 0, 0, 0, 1, 1, 1, 0}, 0x1p125, 0},
        {"too huge", makeMesh({0, 0, 0, 0x1p64f, 0, 0, 0, 0x1p64f, 0}, {0, 1, 2}), {3, 1, 3, 3, 0, 0, 1, 0, 1, 1, 1, 0}, 0, 0},
        {"too tiny", makeMesh({0, 0, 0, 0x1p-70f, 0, 0, 0, 0x1p-70f, 0}, {0, 1, 2}), {3, 1, 3, 3, 0, 0, 1, 0, 1, 1, 1, 0}, 0, 0},
        {"same face twice", makeMesh({0, 0, 0, 1, 0, 0, 0, 1, 0}, {0, 1, 2, 0, 1, 2}), {3, 2, 3, 0, 0, 3, 0, 0, 1, 2, 0, 0}, 1, 0},
        {"empty", makeMesh({}, {}), {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}, 0, 0},
    };
    // clang-format on
    for (const Case& c : cases) {
        const stlrefine::MeshReport r = stlrefine::reportMesh(c.mesh);
        EXPECT_EQ(countsOf(r), c.counts) << c.name;
        EXPECT_NEAR(r.area, c.area, 1e-12) << c.name;
        EXPECT_NEAR(r.volume, c.volume, 1e-12) << c.name;
    }
    const stlrefine::MeshReport box = stlrefine::reportMesh(cases[2].mesh);
    EXPECT_EQ(std::vector<float>(box.boxMin, box.boxMin + 3), std::vector<float>({0, 0, 0}));
    EXPECT_EQ(std::vector<float>(box.boxMax, box.boxMax + 3), std::vector<float>({2, 1, 0}));
}

// Three tori side by side, faces shuffled together: each is a part of
// rings x sides vertices, twice as many faces and three times as many edges.
TEST(MeshReport, ShuffledTori) {
    std::vector<float> vertices;
    std::vector<std::int32_t> faces;
    for (int k = 0; k < 3; ++k) {
        const Mesh ring = torus(9 + k, 7);
        const auto offset = static_cast<std::int32_t>(vertices.size() / 3);
        const std::vector<float> ringVertices = verticesOf(ring);
        for (std::size_t i = 0; i < ringVertices.size(); ++i)
            vertices.push_back(ringVertices[i] + (i % 3 == 0 ? 10.0f * k : 0));
        for (const std::int32_t v : facesOf(ring)) faces.push_back(v + offset);
    }
    const stlrefine::MeshReport r = stlrefine::reportMesh(shuffledFaces(makeMesh(vertices, faces), 11));
    const std::int32_t grid = (9 + 10 + 11) * 7;
    EXPECT_EQ(countsOf(r), std::vector<std::int32_t>({grid, 2 * grid, 3 * grid, 0, 0, 0, 0, 0, 3, 9 * 7 * 2, 0, 1}));
    const double solidTori = 3 * 2 * std::numbers::pi * std::numbers::pi * 2.0 * 0.75 * 0.75;  // 2 pi^2 R r^2 each
    EXPECT_GT(r.volume, 0.75 * solidTori);  // the polygons lose a little of it
    EXPECT_LT(r.volume, solidTori);
}

// The report of a refined mesh, worked out from the original's where its edges allow, equals the one counted
// on it: each mesh refined 0 to 3 times.
TEST(MeshReport, RefinedMeshes) {
    const float one = 1, next = std::nextafter(1.0f, 2.0f);
    std::vector<std::int32_t> holed = facesOf(torus(6, 5));
    holed.erase(holed.begin() + 6, holed.begin() + 15);  // three facets side by side
    // clang-format off
    struct Case { const char* name; Mesh mesh; } cases[] = {
        {"tetrahedron", tetrahedron()},
        {"shuffled torus", shuffledFaces(torus(6, 5), 3)},
        {"torus with a hole", shuffledFaces(makeMesh(verticesOf(torus(6, 5)), holed), 5)},
        {"one facet turned over", makeMesh(verticesOf(tetrahedron()), {0, 1, 2, 0, 1, 3, 0, 3, 2, 1, 2, 3})},
        {"a fin on an edge", tetrahedronWith({1, -1, 1}, {0, 1, 4})},
        // A closed part of two facets, back to back: their inner edges get four facets each.
        {"and two facets back to back", tetrahedronWith({9, 0, 0, 9, 1, 0, 9, 0, 1}, {4, 5, 6, 4, 6, 5})},
        // Corners one unit in the last place apart: the midpoints fall on the corners.
        {"tiny tetrahedron", makeMesh({one, one, one, next, one, one, one, next, one, one, one, next}, facesOf(tetrahedron()))},
        // A facet on two corners at one point: collapsed; that point so far out that their midpoint
        // overflows, and a NaN third corner, leave none of its children collapsed.
        {"collapsed facet", tetrahedronWith({3e38f, 0, 0, 3e38f, 0, 0, NAN, 1, 0}, {4, 5, 6})},
        {"NaN first corner", makeMesh({NAN, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0, 1}, {0, 1, 2, 1, 2, 3})},
        {"open strip", makeMesh({0, 0, 0, 1, 0, 0, 1, 1, 0, 0, 1, 0, 2, 0, 0}, {0, 1, 2, 0, 2, 3, 1, 4, 2})},
    };
    // clang-format on
    for (const Case& c : cases) {
        for (std::int32_t iterations = 0; iterations <= 3; ++iterations) {
            Mesh mesh = copyOf(c.mesh);
            const stlrefine::MeshReport original = stlrefine::reportMesh(mesh);
            stlrefine::subdivideMesh(mesh, iterations);
            const stlrefine::MeshReport worked = stlrefine::reportRefinedMesh(mesh, original);
            const stlrefine::MeshReport counted = stlrefine::reportMesh(mesh);
            EXPECT_EQ(countsOf(worked), countsOf(counted)) << c.name << ", " << iterations << " iterations";
            EXPECT_TRUE(worked == counted) << c.name << ", " << iterations << " iterations";  // every figure
        }
    }
}
