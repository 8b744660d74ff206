// Fixed cases of the plain and the height-limited subdivision stage.
#include <gtest/gtest.h>

#include <algorithm>
#include <cfloat>
#include <cstring>
#include <limits>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include "subdivision/subdivision.h"
#include "support/files.h"
#include "support/literal_subdivision.h"
#include "support/meshes.h"

namespace {

using testing_support::Mesh;
using testing_support::StageMesh;
using testing_support::stageSubdivide;
using testing_support::stageSubdivideHeightLimited;

bool sameBits(const std::vector<float>& a, const std::vector<float>& b) {
    return a.size() == b.size() && std::memcmp(a.data(), b.data(), a.size() * sizeof(float)) == 0;
}

void expectValidIndices(const Mesh& mesh) {
    for (const std::int32_t index : mesh.faces) {
        ASSERT_GE(index, 0);
        ASSERT_LT(index, mesh.vertexCount());
    }
}

Mesh triangle(std::vector<float> vertices) { return Mesh{std::move(vertices), {0, 1, 2}}; }

std::string heightLines(const Mesh& mesh, int iterations, float threshold, Mesh* result = nullptr) {
    return testing_support::captureStdout([&] {
        const Mesh refined = stageSubdivideHeightLimited(mesh, iterations, threshold);
        if (result) *result = refined;
    });
}

std::string line(const char* height) {
    return std::string("-------max hight in triangles: ") + height + "------\n";
}

TEST(Subdivision, TetrahedronWorkedExample) {
    const Mesh tetrahedron = testing_support::tetrahedron();
    const Mesh result = stageSubdivide(tetrahedron, 1);
    const std::vector<float> vertices = {0, 0, 0, 2, 0, 0, 0, 2, 0, 0, 0, 2, 0, 1, 0,
                                         1, 1, 0, 1, 0, 0, 1, 0, 1, 0, 0, 1, 0, 1, 1};
    const std::vector<std::int32_t> faces = {
        0, 4, 6, 2, 5, 4, 1, 6, 5, 4, 5, 6, 0, 6, 8, 1, 7, 6, 3, 8, 7, 6, 7, 8,
        0, 8, 4, 3, 9, 8, 2, 4, 9, 8, 9, 4, 1, 5, 7, 2, 9, 5, 3, 7, 9, 5, 9, 7};
    EXPECT_TRUE(sameBits(result.vertices, vertices));
    EXPECT_EQ(result.faces, faces);

    const Mesh twice = stageSubdivide(tetrahedron, 2);
    EXPECT_EQ(twice.vertexCount(), 34);
    EXPECT_EQ(twice.faceCount(), 64);
    // Old vertices stay bit for bit where they were, through both iterations.
    EXPECT_EQ(std::memcmp(twice.vertices.data(), tetrahedron.vertices.data(), 12 * sizeof(float)), 0);
}

TEST(Subdivision, MidpointIsFloatSumThenHalf) {
    // Open triangle: vertex 3 sits on edge 0->1.
    const Mesh result = stageSubdivide(triangle({1, 2, 3, 2, 4, 8, FLT_MAX, -FLT_MAX, 0}), 1);
    ASSERT_EQ(result.vertexCount(), 6);
    EXPECT_EQ(std::vector<float>(result.vertices.begin() + 9, result.vertices.begin() + 12),
              (std::vector<float>{1.5f, 3.0f, 5.5f}));
    // The sum is rounded to float before halving, so it overflows.
    const Mesh overflow = stageSubdivide(triangle({FLT_MAX, 0, 0, FLT_MAX, 0, 0, 0, 1, 0}), 1);
    EXPECT_EQ(overflow.vertices[9], std::numeric_limits<float>::infinity());
}

TEST(Subdivision, IterationsBelowOneChangeNothing) {
    for (const int iterations : {0, -1, INT32_MIN}) {
        StageMesh mesh(testing_support::tetrahedron());
        const float* vertices = mesh.vertices.get();
        const std::int32_t* faces = mesh.faces.get();
        stlrefine::subdivideMesh(iterations, mesh.vertexComponents, mesh.vertices,
                                 mesh.faceComponents, mesh.faces);
        EXPECT_EQ(mesh.vertexComponents, 12);
        EXPECT_EQ(mesh.faceComponents, 12);
        EXPECT_EQ(testing_support::captureStdout([&] {
                      stlrefine::subdivideMeshHeightLimited(iterations, mesh.vertexComponents, mesh.vertices,
                                                            mesh.faceComponents, mesh.faces, 0.0f);
                  }),
                  "");
        EXPECT_EQ(mesh.vertices.get(), vertices);
        EXPECT_EQ(mesh.faces.get(), faces);
    }
    Mesh noFaces;
    noFaces.vertices = {1, 2, 3, 4, 5, 6};
    const Mesh result = stageSubdivide(noFaces, 3);
    EXPECT_TRUE(sameBits(result.vertices, noFaces.vertices));
    EXPECT_TRUE(result.faces.empty());
}

TEST(Subdivision, VertexLimitIsCheckedBeforeEveryIteration) {
    // 250 x 200 torus: exactly 50000 vertices, so one iteration starts.
    const Mesh atLimit = testing_support::torus(250, 200);
    const Mesh refined = stageSubdivide(atLimit, 3);
    EXPECT_EQ(refined.vertexCount(), 50000 + 150000);  // one vertex per edge
    EXPECT_EQ(refined.faceCount(), 4 * 100000);

    Mesh overLimit = atLimit;
    overLimit.vertices.insert(overLimit.vertices.end(), {0, 0, 0});
    StageMesh caller(overLimit);
    const float* vertices = caller.vertices.get();
    stlrefine::subdivideMesh(1, caller.vertexComponents, caller.vertices, caller.faceComponents,
                             caller.faces);
    EXPECT_EQ(caller.vertexComponents, 3 * 50001);
    EXPECT_EQ(caller.vertices.get(), vertices);

    // 10000 vertices -> 40000 -> 160000: the third iteration never starts.
    const Mesh twice = stageSubdivide(testing_support::torus(100, 100), 5);
    EXPECT_EQ(twice.vertexCount(), 160000);
    EXPECT_EQ(twice.faceCount(), 320000);
}

TEST(Subdivision, ClosedMeshSharesOneVertexPerEdge) {
    const Mesh torus = testing_support::shuffledFaces(testing_support::torus(12, 9), 7);
    const Mesh result = stageSubdivide(torus, 1);
    EXPECT_EQ(result.vertexCount(), torus.vertexCount() + 3 * torus.faceCount() / 2);
    expectValidIndices(result);
    // Still closed and consistently oriented: every directed edge once, and its reverse too.
    std::set<std::pair<std::int32_t, std::int32_t>> edges;
    for (int f = 0; f < result.faceCount(); ++f) {
        for (int e = 0; e < 3; ++e) {
            EXPECT_TRUE(edges.emplace(result.faces[3 * f + e], result.faces[3 * f + (e + 1) % 3]).second);
        }
    }
    for (const auto& [p, q] : edges) EXPECT_TRUE(edges.count({q, p}));
}

TEST(Subdivision, UnpairedSlotsReuseTheEarliestVertexOnTheirEdge) {
    struct Case {
        const char* name;
        std::vector<std::int32_t> faces, expectedFaces;
        int newVertices;
    };
    const std::vector<Case> cases = {
        // Slot 3 runs 0->1 like slot 0 and takes its vertex 4.
        {"same direction", {0, 1, 2, 0, 1, 3}, {0, 4, 6, 1, 5, 4, 2, 6, 5, 4, 5, 6,
                                                 0, 4, 8, 1, 7, 4, 3, 8, 7, 4, 7, 8}, 5},
        // Face 2's 1->0 finds no partner left and reuses vertex 4; its other
        // two edges pair with face 0.
        {"third face", {0, 1, 2, 1, 0, 3, 1, 0, 2}, {0, 4, 6, 1, 5, 4, 2, 6, 5, 4, 5, 6,
                                                      1, 4, 8, 0, 7, 4, 3, 8, 7, 4, 7, 8,
                                                      1, 4, 5, 0, 6, 4, 2, 5, 6, 4, 6, 5}, 5},
        {"degenerate", {2, 2, 2, 2, 2, 2}, {2, 4, 6, 2, 5, 4, 2, 6, 5, 4, 5, 6,
                                            2, 4, 6, 2, 5, 4, 2, 6, 5, 4, 5, 6}, 3},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const Mesh result = stageSubdivide(Mesh{{0, 0, 0, 2, 0, 0, 0, 2, 0, 0, 0, 2}, c.faces}, 1);
        EXPECT_EQ(result.vertexCount(), 4 + c.newVertices);
        EXPECT_EQ(result.faces, c.expectedFaces);
    }
}

TEST(Subdivision, ShapesThatWouldBeQuadraticStayCorrect) {
    // 100k faces on one triangle, the second half reversed: face i pairs all
    // three edges with face 50000 + i, the literal scan's longest searches.
    const int faces = 100000;
    Mesh fan{{0, 0, 0, 1, 0, 0, 0, 1, 0}, {}};
    for (int i = 0; i < faces; ++i) {
        if (i < faces / 2) fan.faces.insert(fan.faces.end(), {0, 1, 2});
        else fan.faces.insert(fan.faces.end(), {1, 0, 2});
    }
    const Mesh refined = stageSubdivide(fan, 1);
    EXPECT_EQ(refined.vertexCount(), 3 + 3 * faces / 2);
    expectValidIndices(refined);
    const int half = 12 * (faces / 2);
    EXPECT_EQ(std::vector<std::int32_t>(refined.faces.begin() + half, refined.faces.begin() + half + 3),
              (std::vector<std::int32_t>{1, 3, 4}));
    EXPECT_EQ(std::vector<std::int32_t>(refined.faces.begin() + 3, refined.faces.begin() + 6),
              (std::vector<std::int32_t>{1, 4, 3}));
}

TEST(Subdivision, ResultTooLargeForCountsThrows) {
    // The count is checked before the arrays are touched or replaced.
    std::int32_t vertexComponents = 12;
    stlrefine::VertexArray vertices = stlrefine::allocateArray<float>(12);
    std::int32_t faceComponents = 3 * (INT32_MAX / 12 + 1);
    stlrefine::FaceIndexArray faces;
    EXPECT_THROW(stlrefine::subdivideMesh(1, vertexComponents, vertices, faceComponents, faces),
                 std::length_error);
    EXPECT_EQ(faceComponents, 3 * (INT32_MAX / 12 + 1));
    EXPECT_EQ(vertexComponents, 12);
}

TEST(HeightLimitedSubdivision, TetrahedronThresholds) {
    const float nan = std::numeric_limits<float>::quiet_NaN();
    struct Case {
        float threshold;
        std::vector<const char*> heights;
        int iterationsRun;
    };
    const std::vector<Case> cases = {
        {0.5f, {"2", "1", "0.5"}, 2},
        {1.0f, {"2", "1"}, 1},
        {2.0f, {"2"}, 0},
        {0.0f, {"2", "1", "0.5", "0.25", "0.125"}, 5},
        // Face 0 lies flat in z = 0 and ends every test at once.
        {-1.0f, {"0", "0", "0", "0", "0"}, 5},
        {nan, {"2"}, 0},
        {-nan, {"2"}, 0},
    };
    const Mesh tetrahedron = testing_support::tetrahedron();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.threshold);
        Mesh result;
        std::string expected;
        for (const char* h : c.heights) expected += line(h);
        EXPECT_EQ(heightLines(tetrahedron, 5, c.threshold, &result), expected);
        EXPECT_EQ(result.faceCount(), 4 << (2 * c.iterationsRun));
        // The iterations that run are exactly those of the plain stage.
        const Mesh plain = stageSubdivide(tetrahedron, c.iterationsRun);
        EXPECT_TRUE(sameBits(result.vertices, plain.vertices));
        EXPECT_EQ(result.faces, plain.faces);
    }
}

TEST(HeightLimitedSubdivision, HeightOfATriangle) {
    const float nan = std::numeric_limits<float>::quiet_NaN();
    struct Case {
        const char* name;
        float z0, z1, z2;
        const char* height;
    };
    const Case cases[] = {
        {"above 1000 measures from 1000", 1200, 1500, 1300, "500"},
        {"below -1000 measures from -1000", -1200, -1500, -1300, "500"},
        {"straddling", -2000, 0, 3000, "5000"},
        {"NaN corner is ignored", nan, 0, 3, "3"},
        {"all NaN keeps both starting bounds", nan, nan, nan, "0"},
        {"six significant digits", 0, 1.0f / 3, 0, "0.333333"},
        {"exponent form", -1000, 1234567, 0, "1.23557e+06"},
        {"small exponent", 0, 0.00001f, 0, "1e-05"},
        {"infinite", 0, std::numeric_limits<float>::infinity(), 0, "inf"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        // A NaN threshold is never exceeded: one test, one line, no iteration.
        EXPECT_EQ(heightLines(triangle({0, 0, c.z0, 1, 0, c.z1, 0, 1, c.z2}), 3, nan), line(c.height));
    }
}

TEST(HeightLimitedSubdivision, TestStopsAtTheFirstFaceOverTheThreshold) {
    const Mesh mesh{{0, 0, 0, 1, 0, 1, 0, 1, 3, 1, 1, 5}, {0, 1, 0, 0, 2, 0, 0, 3, 0}};  // heights 1, 3, 5
    EXPECT_EQ(heightLines(mesh, 1, 2.0f), line("3"));  // face 2 is never measured
    Mesh result;
    EXPECT_EQ(heightLines(mesh, 1, 6.0f, &result), line("5"));
    EXPECT_EQ(result.faces, mesh.faces);
}

TEST(HeightLimitedSubdivision, EmptyFlatAndLargeMeshes) {
    Mesh result;
    const Mesh noFaces{{0, 0, 5}, {}};
    EXPECT_EQ(heightLines(noFaces, 4, -1.0f, &result), line("0"));
    EXPECT_TRUE(sameBits(result.vertices, noFaces.vertices));

    Mesh flat = testing_support::torus(8, 6);
    for (std::size_t i = 2; i < flat.vertices.size(); i += 3) flat.vertices[i] = 7.0f;
    EXPECT_EQ(heightLines(flat, 4, 0.0f, &result), line("0"));
    EXPECT_EQ(result.faces, flat.faces);

    // Over the vertex limit on entry: no test, no line.
    const Mesh big = testing_support::torus(250, 201);
    EXPECT_EQ(heightLines(big, 4, -1.0f, &result), "");
    EXPECT_EQ(result.faces, big.faces);

    // 10000 -> 40000 -> 160000 vertices: two tests, and none once past the limit.
    const std::string out = heightLines(testing_support::torus(100, 100), 5, -1.0f, &result);
    EXPECT_EQ(std::count(out.begin(), out.end(), '\n'), 2);
    EXPECT_EQ(result.vertexCount(), 160000);
}

}  // namespace
