// The inputs shaped to be slowest for welding and edge pairing, at a size
// where quadratic cost would run for hours: these tests only finish within
// ctest's timeout when both stay linear. What they assert is the result,
// which must also be right on such inputs; their speed is measured in
// bench_worst_case.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include "common/arrays.h"
#include "mesh/mesh.h"
#include "subdivision/subdivision.h"
#include "support/literal_weld.h"
#include "support/worst_case.h"

namespace {

// Unoptimised and sanitizer builds run a quarter of the size: still far
// beyond what a quadratic stage could finish.
#if defined(NDEBUG) && !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
constexpr std::int32_t Scale = 4;
#else
constexpr std::int32_t Scale = 1;
#endif
constexpr std::int32_t WeldCorners = 375'000 * Scale;
constexpr std::int32_t SubdivisionFaces = 500'000 * Scale;
// Welding is decided corner by corner from the earlier corners only, so a
// prefix of the input must weld as the literal scan welds that prefix.
constexpr std::int32_t LiteralPrefix = 6'000;

bool sameBits(const float* a, const float* b, std::size_t n) {
    return std::memcmp(a, b, n * sizeof(float)) == 0;
}

}  // namespace

TEST(WorstCase, WeldingFinishesAndMatchesTheLiteralScan) {
    for (const testing_support::WeldInput& input : testing_support::weldWorstCases(WeldCorners)) {
        SCOPED_TRACE(input.name);
        stlrefine::VertexArray vertices;
        stlrefine::FaceIndexArray faces;
        std::int32_t vertexCount = 0, faceCount = 0;
        stlrefine::weldVertices(input.corners.data(), input.cornerCount(), vertices, vertexCount,
                                faces, faceCount);
        ASSERT_EQ(faceCount, input.cornerCount() / 3);
        ASSERT_GT(vertexCount, 0);
        // Every corner is the vertex it was given, or within the tolerance of it.
        for (std::int32_t k = 0; k < 3 * faceCount; ++k) {
            const std::int32_t v = faces[k];
            ASSERT_TRUE(v >= 0 && v < vertexCount) << "corner " << k;
            for (int axis = 0; axis < 3; ++axis) {
                const float difference = vertices[3 * v + axis] - input.corners[3 * k + axis];
                ASSERT_LE(std::fabs(difference), 1e-6) << "corner " << k;
            }
        }
        const testing_support::WeldedMesh literal =
            testing_support::literalWeld(input.corners.data(), LiteralPrefix);
        ASSERT_TRUE(std::equal(literal.faces.begin(), literal.faces.end(), faces.get()));
        ASSERT_LE(literal.vertices.size(), 3 * static_cast<std::size_t>(vertexCount));
        EXPECT_TRUE(sameBits(literal.vertices.data(), vertices.get(), literal.vertices.size()));
    }
}

TEST(WorstCase, WeldingKeepsDistinctCollidingPointsApart) {
    // Every point of this input has a cell of its own, so nothing welds.
    const auto input = testing_support::cornersCollidingInFixedHash(WeldCorners);
    stlrefine::VertexArray vertices;
    stlrefine::FaceIndexArray faces;
    std::int32_t vertexCount = 0, faceCount = 0;
    stlrefine::weldVertices(input.corners.data(), input.cornerCount(), vertices, vertexCount, faces,
                            faceCount);
    EXPECT_EQ(vertexCount, input.cornerCount());
    for (std::int32_t k = 0; k < 3 * faceCount; ++k) ASSERT_EQ(faces[k], k);
}

TEST(WorstCase, OneIterationFinishesWithEveryMidpointOnItsEdge) {
    for (const testing_support::SubdivisionInput& input :
         testing_support::subdivisionWorstCases(SubdivisionFaces)) {
        SCOPED_TRACE(input.name);
        const testing_support::Mesh& mesh = input.mesh;
        testing_support::StageMesh stage(mesh);
        stlrefine::subdivideMesh(1, stage.vertexComponents, stage.vertices, stage.faceComponents,
                                 stage.faces);
        const std::int32_t vertexComponents = stage.vertexComponents;
        const std::int32_t faceComponents = stage.faceComponents;
        const float* vertices = stage.vertices.get();
        const std::int32_t* faces = stage.faces.get();

        ASSERT_EQ(faceComponents, 4 * static_cast<std::int32_t>(mesh.faces.size()));
        const std::int32_t vertexCount = vertexComponents / 3;
        ASSERT_GT(vertexCount, mesh.vertexCount());
        EXPECT_TRUE(sameBits(vertices, mesh.vertices.data(), mesh.vertices.size()));
        for (std::int32_t f = 0; f < mesh.faceCount(); ++f) {
            // Children of face f: (a, m0, m2), (b, m1, m0), (c, m2, m1), (m0, m1, m2).
            const std::int32_t* child = faces + 12 * f;
            const std::int32_t corner[3] = {mesh.faces[3 * f], mesh.faces[3 * f + 1], mesh.faces[3 * f + 2]};
            ASSERT_EQ(child[0], corner[0]);
            ASSERT_EQ(child[3], corner[1]);
            ASSERT_EQ(child[6], corner[2]);
            const std::int32_t midpoint[3] = {child[9], child[10], child[11]};
            for (int e = 0; e < 3; ++e) {
                const std::int32_t m = midpoint[e];
                ASSERT_TRUE(m >= mesh.vertexCount() && m < vertexCount) << "face " << f;
                const float* p = vertices + 3 * corner[e];
                const float* q = vertices + 3 * corner[(e + 1) % 3];
                for (int axis = 0; axis < 3; ++axis) {
                    const float sum = p[axis] + q[axis];
                    ASSERT_EQ(vertices[3 * m + axis], sum * 0.5f) << "face " << f << " edge " << e;
                }
            }
        }
    }
}
