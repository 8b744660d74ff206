// The mesh stages against plain references, bit for bit: welding against the
// literal first-match scan, edge pairing against the literal partner scan,
// normals against an evaluation that rounds each operation as written.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <numeric>
#include <random>
#include <stdexcept>

#include "mesh/mesh.h"
#include "subdivision/subdivision.h"
#include "support/literal_subdivision.h"
#include "support/literal_weld.h"

using namespace testing_support;
using Random = std::mt19937;

static int uniform(Random& random, int low, int high) { return std::uniform_int_distribution<int>(low, high)(random); }

// Each axis draws from three anchors per run (both zeros, cell edges of 2^-14
// and 2^-18, 16 and 32 and their neighbours, subnormals), moved by ulps or by
// about the tolerance, so that hundreds of vertices crowd a cell; some corners
// repeat an earlier one, a few are NaN or infinite.
TEST(Weld, MatchesLiteralScan) {
    const float anchors[] = {0.0f,
                             -0.0f,
                             1.0f,
                             -1.0f,
                             0.3f,
                             16.0f,
                             std::nextafter(16.0f, 0.0f),
                             std::nextafter(32.0f, 0.0f),
                             32.0f,
                             -32.0f,
                             1e-40f,
                             1e-6f,
                             0x1p-18f,
                             3 * 0x1p-19f,
                             -7 * 0x1p-14f,
                             81923 * 0x1p-16f};
    const double offsets[] = {1e-6, -1e-6, 0.9e-6, -0.9e-6, 0.5e-6, 1.8e-6, -2e-6, 1.5e-5};
    for (std::uint32_t seed = 1; seed <= 400; ++seed) {
        Random random(seed);
        float anchor[3][3];
        for (auto& axis : anchor) std::generate(axis, axis + 3, [&] { return anchors[uniform(random, 0, 15)]; });
        const auto count = std::int32_t(3 + seed * 37 % 700);  // not always whole facets
        std::vector<float> corners;
        for (int k = 0; k < count; ++k) {
            const int earlier = k > 0 && uniform(random, 0, 4) == 0 ? uniform(random, 0, k - 1) : k;
            for (int a = 0; a < 3; ++a) {
                float value = earlier < k ? corners[3 * earlier + a] : anchor[a][uniform(random, 0, 2)];
                const int kind = uniform(random, 0, 31);
                if (kind == 0) value = uniform(random, 0, 3) == 0 ? NAN : uniform(random, 0, 1) ? INFINITY : -INFINITY;
                if (kind > 16) value = static_cast<float>(value + offsets[uniform(random, 0, 7)]);
                for (int steps = kind > 10 ? uniform(random, -2, 2) : 0; steps != 0; steps -= steps > 0 ? 1 : -1)
                    value = std::nextafter(value, steps > 0 ? INFINITY : -INFINITY);
                corners.push_back(value);
            }
        }
        const Mesh welded = stlrefine::weldVertices(corners.data(), count);
        const Mesh expected = literalWeld(corners.data(), count);
        ASSERT_EQ(bitsOf(welded), bitsOf(expected)) << seed;
        ASSERT_EQ(facesOf(welded), facesOf(expected)) << seed;
    }
}

// A random mesh of a kind: 0 closed (a shuffled torus, its faces' corners
// rotated), 1 open (faces left out), 2 flipped (faces reversed), 3 fans (up to
// 40 faces over a few vertices: many faces on each edge both ways, repeated
// faces), 4 degenerate (equal corners as well), 5 one whose slots all pair up
// although two faces have an edge from a vertex to itself. Coordinates whose
// sums round in float: mixed magnitudes, near-equal values, small integers.
static Mesh randomMesh(Random& random, int kind) {
    std::vector<float> vertices;
    std::vector<std::int32_t> faces;
    if (kind < 3) {
        const Mesh torus =
            shuffledFaces(testing_support::torus(uniform(random, 3, 9), uniform(random, 3, 9)), random());
        for (const std::int32_t* face = torus.faces.get(); face != torus.faces.get() + 3 * torus.faceCount; face += 3) {
            std::int32_t c[3] = {face[0], face[1], face[2]};
            std::rotate(c, c + uniform(random, 0, 2), c + 3);
            if (kind == 2 && uniform(random, 0, 4) == 0) std::swap(c[1], c[2]);
            if (kind != 1 || uniform(random, 0, 3) > 0) faces.insert(faces.end(), c, c + 3);
        }
        vertices.resize(3 * std::size_t(torus.vertexCount));
    } else if (kind == 5) {
        faces = {1, 0, 1, 0, 2, 1, 1, 2, 1, 2, 0, 1};
        vertices.resize(9);
    } else {
        const int n = uniform(random, 1, 8);
        for (int count = uniform(random, 0, 40); count > 0; --count) {
            const int a = uniform(random, 0, n - 1), b = uniform(random, 0, n - 1), c = uniform(random, 0, n - 1);
            const int same = kind == 4 ? uniform(random, 0, 3) : 0;
            faces.insert(faces.end(), {a, same == 1 || same == 2 ? a : b, same == 1 ? a : same == 3 ? b : c});
        }
        vertices.resize(3 * std::size_t(n));
    }
    const float scales[] = {1.0f, 1e6f, 3e-3f}, shifts[] = {0.0f, 0.0f, 1.0f};
    for (float& v : vertices) {
        const int scale = uniform(random, 0, 3);
        v = scale == 3 ? float(uniform(random, -3, 3))
                       : std::uniform_real_distribution<float>(-1, 1)(random) * scales[scale] + shifts[scale];
    }
    return makeMesh(vertices, faces);
}

TEST(Subdivision, MatchesLiteralScan) {
    for (int kind = 0; kind < 6; ++kind) {
        for (std::uint32_t seed = 0; seed < 400; ++seed) {
            Random random(seed);
            Mesh mesh = randomMesh(random, kind);
            const int iterations = mesh.faceCount <= 80 ? uniform(random, 1, 3) : 1;
            const Mesh literal = literalSubdivide(mesh, iterations);
            stlrefine::subdivideMesh(mesh, iterations);
            ASSERT_EQ(bitsOf(mesh), bitsOf(literal)) << "kind " << kind << ", seed " << seed;
            ASSERT_EQ(facesOf(mesh), facesOf(literal)) << "kind " << kind << ", seed " << seed;
        }
    }
}

TEST(Subdivision, VertexLimitIsCheckedBeforeEveryIteration) {
    Mesh mesh = torus(250, 200);  // 50000 vertices: one iteration starts, the next not
    EXPECT_EQ(stlrefine::subdivideMesh(mesh, 3), 1);
    EXPECT_EQ(mesh.vertexCount, 200000);
    mesh = torus(7, 7143);  // 50001: none
    std::vector<float> heights;
    EXPECT_EQ(stlrefine::subdivideMesh(mesh, 1) + stlrefine::subdivideMeshHeightLimited(mesh, 4, -1.0f, heights), 0);
    EXPECT_TRUE(mesh.faceCount == 2 * 50001 && heights.empty());
    // 10000 -> 40000 -> 160000 vertices: the third iteration and its height test never start.
    mesh = torus(100, 100);
    EXPECT_EQ(stlrefine::subdivideMeshHeightLimited(mesh, 5, -1.0f, heights), 2);
    EXPECT_TRUE(mesh.vertexCount == 160000 && heights.size() == 2);
    // A result of more than MaxMeshCount faces is refused before anything is read or allocated.
    mesh = tetrahedron();
    mesh.faceCount = stlrefine::MaxMeshCount / 4 + 1;
    EXPECT_THROW(stlrefine::subdivideMesh(mesh, 1), std::length_error);
}

// The height of one triangle, from bounds that start at -1000 and 1000; a NaN
// threshold is never exceeded, so each call makes one test.
TEST(Subdivision, HeightOfATriangle) {
    const float cases[][4] = {{1200, 1500, 1300, 500},
                              {-1200, -1500, -1300, 500},
                              {NAN, 0, 3, 3},
                              {NAN, NAN, NAN, 0},
                              {0, INFINITY, 0, INFINITY}};
    for (const auto& c : cases) {
        std::vector<float> heights;
        Mesh triangle = makeMesh({0, 0, c[0], 1, 0, c[1], 0, 1, c[2]}, {0, 1, 2});
        stlrefine::subdivideMeshHeightLimited(triangle, 3, NAN, heights);
        EXPECT_EQ(heights, std::vector<float>{c[3]}) << c[0] << ' ' << c[1] << ' ' << c[2];
    }
}

// Single precision, each operation rounded once in the written order: a fused
// multiply-add, double evaluation, a reciprocal or another order of the
// squares would change some of these bits.
TEST(Normals, RoundedAsWrittenInSinglePrecision) {
    Random random(5);
    const int count = 20000;
    std::vector<float> vertices, normals(3 * count), expected;
    std::vector<std::int32_t> faces(3 * count);
    std::iota(faces.begin(), faces.end(), 0);
    for (int k = 0, scale = 0; k < 9 * count; ++k) {
        scale = k % 9 ? scale : uniform(random, -8, 8);  // one scale per face
        vertices.push_back(std::ldexp(std::uniform_real_distribution<float>(-1, 1)(random), scale));
    }
    stlrefine::computeFaceNormals(vertices.data(), faces.data(), count, normals.data());
    auto r = [](double value) { return static_cast<float>(value); };  // a float operation done in double, rounded once
    int fusedDiffers = 0;
    for (const float* p = vertices.data(); p < vertices.data() + vertices.size(); p += 9) {
        float e1[3], e2[3], n[3], s[3];
        for (int a = 0; a < 3; ++a) e1[a] = r(double(p[3 + a]) - p[a]), e2[a] = r(double(p[6 + a]) - p[a]);
        for (int a = 0, b = 1, c = 2; a < 3; ++a, b = (a + 1) % 3, c = (a + 2) % 3) {
            n[a] = r(double(r(double(e1[b]) * e2[c])) - r(double(e1[c]) * e2[b]));
            s[a] = r(double(n[a]) * n[a]);
        }
        const float length = r(std::sqrt(r(double(r(double(s[0]) + s[1])) + s[2])));
        for (const float component : n) expected.push_back(r(double(component) / length));
        fusedDiffers += std::fma(e1[1], e2[2], -(e1[2] * e2[1])) != e1[1] * e2[2] - e1[2] * e2[1];
    }
    EXPECT_EQ(bitsOf(normals), bitsOf(expected));
    EXPECT_GT(fusedDiffers, 100);  // the data tells a fused evaluation apart
}
