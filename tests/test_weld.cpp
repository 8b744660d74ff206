// Vertex welding: the worked cases, and the hashed welding checked against
// the literal first-match scan on corners jittered around the bound.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>
#include <vector>

#include "mesh/mesh.h"
#include "support/literal_weld.h"

using namespace stlrefine;
using namespace testing_support;

static WeldedMesh weld(const std::vector<float>& corners) {
    VertexArray vertices; FaceIndexArray faces;
    std::int32_t vertexCount = -1, faceCount = -1;
    weldVertices(corners.data(), std::int32_t(corners.size() / 3), vertices, vertexCount, faces, faceCount);
    EXPECT_TRUE(vertices && faces);
    return {{vertices.get(), vertices.get() + 3 * std::size_t(vertexCount)},
            {faces.get(), faces.get() + 3 * std::size_t(faceCount)}};
}

// The corners (0,0,0), (1,0,0), (0,1,0) followed by `more`.
static std::vector<float> unit(std::initializer_list<float> more) {
    std::vector<float> corners = {0, 0, 0, 1, 0, 0, 0, 1, 0};
    corners.insert(corners.end(), more);
    return corners;
}

static bool sameBits(const std::vector<float>& a, const std::vector<float>& b) {
    return a.size() == b.size() && (a.empty() || std::memcmp(a.data(), b.data(), a.size() * sizeof(float)) == 0);
}

TEST(Weld, WorkedCases) {
    const float e = 0.5e-6f, h = 0x1p-19f;
    const struct { const char* name; std::vector<float> corners, vertices; std::vector<int> faces; } cases[] = {
        {"shared edge", unit({0, 1, 0, 1, 0, 0, 1, 1, 0}), unit({1, 1, 0}), {0, 1, 2, 2, 1, 3}},
        {"first facet P P Q: later P takes 0", {0, 0, 0, 0, 0, 0, 1, 0, 0, 1, 0, 0, 0, 0, 0, 0, 1, 0},
         {0, 0, 0, 0, 0, 0, 1, 0, 0, 0, 1, 0}, {0, 1, 2, 2, 0, 3}},
        {"within the bound on each axis", unit({e, 0, 0, 1, e, 0, 0, 1, e}), unit({}), {0, 1, 2, 0, 1, 2}},
        {"outside the bound on each axis", unit({2e-6f, 0, 0, 1, 2e-6f, 0, e, e, 2e-6f}),
         unit({2e-6f, 0, 0, 1, 2e-6f, 0, e, e, 2e-6f}), {0, 1, 2, 3, 4, 5}},
        {"0 matches -0", {-0.0f, 0, -0.0f, 1, 0, 0, 0, 1, 0, 0, -0.0f, 0, 1, 0, 0, 0, 1, 0},
         {-0.0f, 0, -0.0f, 1, 0, 0, 0, 1, 0}, {0, 1, 2, 0, 1, 2}},
        {"chain", unit({0.9e-6f, 0, 0, 1.8e-6f, 0, 0, 1, 0, 0}), unit({1.8e-6f, 0, 0}), {0, 1, 2, 0, 3, 1}},
        {"NaN: never matched", unit({NAN, 0, 0, NAN, 0, 0, 0, 0, 0}), unit({NAN, 0, 0, NAN, 0, 0}), {0, 1, 2, 3, 4, 0}},
        {"32 and more: equal only", {32, 0, 0, 16, 0, 0, 0, 1, 0, 32, 0, 0, 32 + 2 * h, 0, 0, 32 - h, 0, 0},
         {32, 0, 0, 16, 0, 0, 0, 1, 0, 32 + 2 * h, 0, 0, 32 - h, 0, 0}, {0, 1, 2, 0, 3, 4}},
        {"just below 16 still matches 16", {16, 0, 0, 1, 0, 0, 0, 1, 0, 16 - h / 2, 0, 0, 1, 0, 0, 16 - h, 0, 0},
         {16, 0, 0, 1, 0, 0, 0, 1, 0, 16 - h, 0, 0}, {0, 1, 2, 0, 1, 3}},
        {"seven corners, no 3rd face", unit({0, 0, 0, 1, 0, 0, 0, 1, 0, 5, 5, 5}), unit({5, 5, 5}), {0, 1, 2, 0, 1, 2}},
        {"two corners", {0, 0, 0, 1, 0, 0}, {}, {}},
        {"no corners", {}, {}, {}},
    };
    for (const auto& c : cases) {
        const WeldedMesh mesh = weld(c.corners);
        EXPECT_TRUE(sameBits(mesh.vertices, c.vertices)) << c.name;
        EXPECT_EQ(mesh.faces, c.faces) << c.name;
        const WeldedMesh literal = literalWeld(c.corners.data(), std::int32_t(c.corners.size() / 3));
        EXPECT_TRUE(sameBits(literal.vertices, c.vertices)) << c.name << " (literal)";
        EXPECT_EQ(literal.faces, c.faces) << c.name << " (literal)";
    }
}

// Each axis takes one of three anchors per run (both zeros, the 16 and 32
// thresholds, powers-of-two cell edges, subnormals), moved by a few ulps or
// by about the tolerance; some corners jitter earlier ones.
TEST(Weld, MatchesLiteralScanOnCornersJitteredAroundTheBound) {
    const float anchors[] = {0.0f, -0.0f, 1.0f, -1.0f, 0.3f, 16.0f, std::nextafter(16.0f, 0.0f),
                             std::nextafter(32.0f, 0.0f), 32.0f, -32.0f, 1e-40f, 1e-6f, 0x1p-18f,
                             3 * 0x1p-19f, -7 * 0x1p-14f, 81923 * 0x1p-16f};
    const double offsets[] = {1e-6, -1e-6, 0.9e-6, -0.9e-6, 0.5e-6, 1.8e-6, -2e-6, 1.5e-5};
    for (std::uint32_t seed = 1; seed <= 400; ++seed) {
        std::mt19937 random(seed);
        auto pick = [&](std::size_t n) { return std::uniform_int_distribution<std::size_t>(0, n - 1)(random); };
        auto jitter = [&](float value) {
            const std::size_t kind = pick(32);
            if (kind < 10) return value;
            if (kind == 14) return pick(4) == 0 ? NAN : (pick(2) ? INFINITY : -INFINITY);
            value = static_cast<float>(double(value) + (kind < 14 ? 0.0 : offsets[pick(std::size(offsets))]));
            for (int steps = int(pick(5)) - 2; steps != 0; steps += steps > 0 ? -1 : 1)
                value = std::nextafter(value, steps > 0 ? INFINITY : -INFINITY);
            return value;
        };
        float axisAnchors[3][3];
        for (auto& axis : axisAnchors)
            for (float& anchor : axis) anchor = anchors[pick(std::size(anchors))];
        std::vector<float> corners;
        const std::size_t count = 3 + (seed * 37) % 700;  // not always a multiple of three
        for (std::size_t k = 0; k < count; ++k) {
            const std::size_t earlier = k > 0 && pick(5) == 0 ? pick(k) : k;
            for (int a = 0; a < 3; ++a)
                corners.push_back(jitter(earlier < k ? corners[3 * earlier + a] : axisAnchors[a][pick(3)]));
        }
        const WeldedMesh expected = literalWeld(corners.data(), std::int32_t(count));
        const WeldedMesh actual = weld(corners);
        ASSERT_TRUE(sameBits(actual.vertices, expected.vertices)) << "seed " << seed;
        ASSERT_EQ(actual.faces, expected.faces) << "seed " << seed;
    }
}
