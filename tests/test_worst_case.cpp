// Inputs shaped to be slowest for welding and edge pairing, at a size where quadratic cost would run for
// hours: they finish within ctest's timeout only when both stay linear (speed: bench_worst_case).
#include <gtest/gtest.h>
#include <algorithm>
#include <cmath>
#include <cstring>

#include "mesh/mesh.h"
#include "support/literal_subdivision.h"
#include "support/literal_weld.h"
#include "support/worst_case.h"

using namespace testing_support;
#if defined(NDEBUG) && !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
constexpr std::int32_t Scale = 4;  // unoptimised and sanitizer builds run a quarter of the size
#else
constexpr std::int32_t Scale = 1;
#endif

TEST(WorstCase, WeldingFinishesAndMatchesTheLiteralScanOnAPrefix) {
    for (const WeldInput& input : weldWorstCases(375'000 * Scale)) {
        SCOPED_TRACE(input.name);
        stlrefine::VertexArray vertices;
        stlrefine::FaceIndexArray faces;
        std::int32_t vertexCount = 0, faceCount = 0;
        stlrefine::weldVertices(input.corners.data(), input.cornerCount(), vertices, vertexCount, faces, faceCount);
        ASSERT_EQ(faceCount, input.cornerCount() / 3);
        // Each corner is welded from the earlier corners only, so a prefix welds as the literal scan welds it.
        const WeldedMesh literal = literalWeld(input.corners.data(), 6'000);
        ASSERT_TRUE(std::equal(literal.faces.begin(), literal.faces.end(), faces.get()));
        ASSERT_LE(literal.vertices.size(), 3 * static_cast<std::size_t>(vertexCount));
        EXPECT_EQ(std::memcmp(literal.vertices.data(), vertices.get(), literal.vertices.size() * sizeof(float)), 0);
        for (std::int32_t k = 0; k < 3 * faceCount; ++k) {
            ASSERT_TRUE(faces[k] >= 0 && faces[k] < vertexCount) << "corner " << k;
            for (int axis = 0; axis < 3; ++axis)
                ASSERT_LE(std::fabs(vertices[3 * faces[k] + axis] - input.corners[3 * k + axis]), 1e-6) << k;
        }
    }
}

TEST(WorstCase, OneIterationFinishesWithEveryMidpointOnItsEdge) {
    for (const auto& [name, mesh] : subdivisionWorstCases(500'000 * Scale)) {
        SCOPED_TRACE(name);
        const Mesh result = stageSubdivide(mesh, 1);
        const std::vector<float>& v = result.vertices;
        ASSERT_EQ(result.faces.size(), 4 * mesh.faces.size());
        EXPECT_EQ(std::memcmp(v.data(), mesh.vertices.data(), mesh.vertices.size() * sizeof(float)), 0);
        for (std::int32_t f = 0; f < mesh.faceCount(); ++f) {
            // Children of face f: (a, m0, m2), (b, m1, m0), (c, m2, m1), (m0, m1, m2).
            const std::int32_t *child = result.faces.data() + 12 * f, *corner = mesh.faces.data() + 3 * f;
            ASSERT_TRUE(child[0] == corner[0] && child[3] == corner[1] && child[6] == corner[2]) << "face " << f;
            for (int e = 0; e < 3; ++e) {
                const std::int32_t m = child[9 + e];
                ASSERT_TRUE(m >= mesh.vertexCount() && m < result.vertexCount()) << "face " << f;
                for (int axis = 0; axis < 3; ++axis)
                    ASSERT_EQ(v[3 * m + axis], (v[3 * corner[e] + axis] + v[3 * corner[(e + 1) % 3] + axis]) * 0.5f);
            }
        }
    }
}
