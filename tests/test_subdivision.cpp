// Subdivision worked examples, and the stage against the literal partner scan bit for bit.
#include <gtest/gtest.h>

#include <algorithm>
#include <cfloat>
#include <cstring>
#include <functional>
#include <limits>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "subdivision/subdivision.h"
#include "support/literal_subdivision.h"
#include "support/meshes.h"

namespace {

using testing_support::Mesh;
using testing_support::stageSubdivide;
using testing_support::stageSubdivideHeightLimited;
using Random = std::mt19937;

bool sameBits(const std::vector<float>& a, const std::vector<float>& b) {
    return a.size() == b.size() && (a.empty() || std::memcmp(a.data(), b.data(), a.size() * sizeof(float)) == 0);
}

Mesh triangle(std::vector<float> vertices) { return Mesh{std::move(vertices), {0, 1, 2}}; }

// The heights the height-limited stage measured, one per test.
std::vector<float> heights(const Mesh& mesh, int iterations, float threshold, Mesh* result = nullptr) {
    std::vector<float> measured;
    const Mesh refined = stageSubdivideHeightLimited(mesh, iterations, threshold, measured);
    if (result) *result = refined;
    return measured;
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
    EXPECT_EQ(std::memcmp(twice.vertices.data(), tetrahedron.vertices.data(), 12 * sizeof(float)), 0);
    // The sum is rounded to float before halving, so it overflows.
    const Mesh overflow = stageSubdivide(triangle({FLT_MAX, 0, 0, FLT_MAX, 0, 0, 0, 1, 0}), 1);
    EXPECT_EQ(overflow.vertices[9], std::numeric_limits<float>::infinity());
}

TEST(Subdivision, IterationsBelowOneChangeNothing) {
    for (const int iterations : {0, -1, INT32_MIN}) {
        testing_support::StageMesh mesh(testing_support::tetrahedron());
        const float* vertices = mesh.vertices.get();
        const std::int32_t* faces = mesh.faces.get();
        stlrefine::subdivideMesh(iterations, mesh.vertexComponents, mesh.vertices, mesh.faceComponents, mesh.faces);
        EXPECT_EQ(mesh.vertexComponents, 12);
        EXPECT_EQ(mesh.faceComponents, 12);
        std::vector<float> measured;
        EXPECT_EQ(stlrefine::subdivideMeshHeightLimited(iterations, mesh.vertexComponents, mesh.vertices,
                                                        mesh.faceComponents, mesh.faces, 0.0f, measured),
                  0);
        EXPECT_TRUE(measured.empty());
        EXPECT_EQ(mesh.vertices.get(), vertices);
        EXPECT_EQ(mesh.faces.get(), faces);
    }
}

TEST(Subdivision, VertexLimitIsCheckedBeforeEveryIteration) {
    // 250 x 200 torus: exactly 50000 vertices, so one iteration starts.
    const Mesh atLimit = testing_support::torus(250, 200);
    const Mesh refined = stageSubdivide(atLimit, 3);
    EXPECT_EQ(refined.vertexCount(), 50000 + 150000);
    EXPECT_EQ(refined.faceCount(), 4 * 100000);

    Mesh overLimit = atLimit;
    overLimit.vertices.insert(overLimit.vertices.end(), {0, 0, 0});
    testing_support::StageMesh caller(overLimit);
    const float* vertices = caller.vertices.get();
    stlrefine::subdivideMesh(1, caller.vertexComponents, caller.vertices, caller.faceComponents, caller.faces);
    EXPECT_EQ(caller.vertexComponents, 3 * 50001);
    EXPECT_EQ(caller.vertices.get(), vertices);
    Mesh result;
    EXPECT_TRUE(heights(overLimit, 4, -1.0f, &result).empty());
    EXPECT_EQ(result.faces, overLimit.faces);

    // 10000 -> 40000 -> 160000 vertices: the third iteration and its test never start.
    EXPECT_EQ(heights(testing_support::torus(100, 100), 5, -1.0f, &result).size(), 2u);
    EXPECT_EQ(result.vertexCount(), 160000);
}

TEST(Subdivision, UnpairedSlotsReuseTheEarliestVertexOnTheirEdge) {
    const struct { const char* name; std::vector<std::int32_t> faces, expectedFaces; int newVertices; } cases[] = {
        // Slot 3 runs 0->1 like slot 0 and takes its vertex 4.
        {"same direction", {0, 1, 2, 0, 1, 3}, {0, 4, 6, 1, 5, 4, 2, 6, 5, 4, 5, 6,
                                                 0, 4, 8, 1, 7, 4, 3, 8, 7, 4, 7, 8}, 5},
        // Face 2's 1->0 finds no partner left and reuses vertex 4; its other edges pair with face 0.
        {"third face", {0, 1, 2, 1, 0, 3, 1, 0, 2}, {0, 4, 6, 1, 5, 4, 2, 6, 5, 4, 5, 6,
                                                      1, 4, 8, 0, 7, 4, 3, 8, 7, 4, 7, 8,
                                                      1, 4, 5, 0, 6, 4, 2, 5, 6, 4, 6, 5}, 5},
        {"degenerate", {2, 2, 2, 2, 2, 2}, {2, 4, 6, 2, 5, 4, 2, 6, 5, 4, 5, 6,
                                            2, 4, 6, 2, 5, 4, 2, 6, 5, 4, 5, 6}, 3},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const Mesh result = stageSubdivide(Mesh{{0, 0, 0, 2, 0, 0, 0, 2, 0, 0, 0, 2}, c.faces}, 1);
        EXPECT_EQ(result.vertexCount(), 4 + c.newVertices);
        EXPECT_EQ(result.faces, c.expectedFaces);
    }
}

TEST(Subdivision, ResultTooLargeForCountsThrows) {
    std::int32_t vertexComponents = 12, faceComponents = 3 * (INT32_MAX / 12 + 1);
    stlrefine::VertexArray vertices = stlrefine::allocateArray<float>(12);
    stlrefine::FaceIndexArray faces;
    EXPECT_THROW(stlrefine::subdivideMesh(1, vertexComponents, vertices, faceComponents, faces),
                 std::length_error);
    EXPECT_EQ(faceComponents, 3 * (INT32_MAX / 12 + 1));
    EXPECT_EQ(vertexComponents, 12);
}

TEST(HeightLimitedSubdivision, TetrahedronThresholds) {
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const struct { float threshold; std::vector<float> heights; int iterationsRun; } cases[] = {
        {0.5f, {2, 1, 0.5f}, 2},
        {1.0f, {2, 1}, 1},
        {2.0f, {2}, 0},
        {0.0f, {2, 1, 0.5f, 0.25f, 0.125f}, 5},
        // Face 0 lies flat in z = 0 and ends every test at once.
        {-1.0f, {0, 0, 0, 0, 0}, 5},
        {nan, {2}, 0},
        {-nan, {2}, 0},
    };
    const Mesh tetrahedron = testing_support::tetrahedron();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.threshold);
        Mesh result, plain;
        EXPECT_EQ(heights(tetrahedron, 5, c.threshold, &result), c.heights);
        EXPECT_EQ(result.faceCount(), 4 << (2 * c.iterationsRun));
        plain = stageSubdivide(tetrahedron, c.iterationsRun);
        EXPECT_TRUE(sameBits(result.vertices, plain.vertices));
        EXPECT_EQ(result.faces, plain.faces);
    }
}

TEST(HeightLimitedSubdivision, HeightOfATriangle) {
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const struct { const char* name; float z0, z1, z2, height; } cases[] = {
        {"above 1000 measures from 1000", 1200, 1500, 1300, 500},
        {"below -1000 measures from -1000", -1200, -1500, -1300, 500},
        {"NaN corner is ignored", nan, 0, 3, 3},
        {"all NaN keeps both starting bounds", nan, nan, nan, 0},
        {"infinite", 0, std::numeric_limits<float>::infinity(), 0, std::numeric_limits<float>::infinity()},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        // A NaN threshold is never exceeded: one test, no iteration.
        EXPECT_EQ(heights(triangle({0, 0, c.z0, 1, 0, c.z1, 0, 1, c.z2}), 3, nan), std::vector<float>{c.height});
    }
}

int uniform(Random& random, int low, int high) { return std::uniform_int_distribution<int>(low, high)(random); }

// Coordinates whose sums round in float; vertices 0 .. count-1 used by `faces`.
Mesh withVertices(Random& random, int count, std::vector<std::int32_t> faces) {
    Mesh mesh{std::vector<float>(3 * static_cast<std::size_t>(count)), std::move(faces)};
    std::uniform_real_distribution<float> unit(-1.0f, 1.0f);
    for (float& v : mesh.vertices) {
        const int kind = uniform(random, 0, 3);
        v = kind == 0 ? unit(random) : kind == 1 ? unit(random) * 1e6f
            : kind == 2 ? static_cast<float>(uniform(random, -3, 3)) : unit(random) * 3e-3f + 1.0f;
    }
    return mesh;
}

// A shuffled torus, corners rotated; `drop`/`flip`: chance of leaving out/reversing a face.
Mesh torusMesh(Random& random, double drop, double flip) {
    const Mesh torus = testing_support::shuffledFaces(
        testing_support::torus(uniform(random, 3, 9), uniform(random, 3, 9)), random());
    std::vector<std::int32_t> faces;
    for (int f = 0; f < torus.faceCount(); ++f) {
        std::int32_t face[3] = {torus.faces[3 * f], torus.faces[3 * f + 1], torus.faces[3 * f + 2]};
        std::rotate(face, face + uniform(random, 0, 2), face + 3);
        if (std::bernoulli_distribution(flip)(random)) std::swap(face[1], face[2]);
        if (!std::bernoulli_distribution(drop)(random)) faces.insert(faces.end(), face, face + 3);
    }
    return withVertices(random, torus.vertexCount(), faces);
}

// Several faces around each of a few edges, in both directions, some repeated.
Mesh fanMesh(Random& random) {
    const int n = uniform(random, 4, 10);
    std::vector<std::int32_t> faces;
    for (int fans = uniform(random, 1, 4); fans > 0; --fans) {
        const int p = uniform(random, 0, n - 1), q = (p + uniform(random, 1, n - 1)) % n;
        for (int blades = uniform(random, 1, 12); blades > 0; --blades) {
            int apex = uniform(random, 0, n - 1);
            if (apex == p || apex == q) apex = (std::max(p, q) + 1) % n;
            std::int32_t face[3] = {p, q, apex};
            if (uniform(random, 0, 1)) std::swap(face[0], face[1]);
            std::rotate(face, face + uniform(random, 0, 2), face + 3);
            faces.insert(faces.end(), face, face + 3);
        }
    }
    return testing_support::shuffledFaces(withVertices(random, n, faces), random());
}

// Faces with two or three equal corners among arbitrary ones (`degenerate` = 0: any corners).
Mesh soupMesh(Random& random, int degenerate) {
    const int n = uniform(random, 1, 8);
    std::vector<std::int32_t> faces;
    for (int count = uniform(random, 0, 40); count > 0; --count) {
        const int a = uniform(random, 0, n - 1), b = uniform(random, 0, n - 1), c = uniform(random, 0, n - 1);
        const int kind = uniform(random, 0, 3 * degenerate);
        faces.insert(faces.end(), {a, kind == 1 || kind == 2 ? a : b, kind == 1 ? a : kind == 3 ? b : c});
    }
    return withVertices(random, n, faces);
}

TEST(SubdivisionDifferential, MatchesLiteralScan) {
    const std::vector<std::pair<const char*, std::function<Mesh(Random&)>>> kinds = {
        {"closed", [](Random& r) { return torusMesh(r, 0, 0); }}, {"fan", fanMesh},
        {"open", [](Random& r) { return torusMesh(r, 0.25, 0); }}, {"soup", [](Random& r) { return soupMesh(r, 0); }},
        {"flipped", [](Random& r) { return torusMesh(r, 0, 0.2); }},
        {"degenerate", [](Random& r) { return soupMesh(r, 1); }},
    };
    for (const auto& [name, make] : kinds) {
        for (int seed = 0; seed < 400; ++seed) {
            Random random(static_cast<std::uint32_t>(seed));
            const Mesh mesh = make(random);
            const int iterations = mesh.faceCount() <= 80 ? uniform(random, 1, 2) : 1;
            SCOPED_TRACE(testing::Message() << name << " mesh, seed " << seed << ", " << iterations);
            const Mesh fast = stageSubdivide(mesh, iterations);
            const Mesh literal = testing_support::literalSubdivide(mesh, iterations);
            ASSERT_TRUE(sameBits(fast.vertices, literal.vertices));
            ASSERT_EQ(fast.faces, literal.faces);
        }
    }
}

}  // namespace
