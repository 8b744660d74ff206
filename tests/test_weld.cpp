// Vertex welding: the worked cases, and the hashed welding checked against
// the literal first-match scan on inputs built to break spatial hashes.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "mesh/mesh.h"
#include "support/literal_weld.h"
#include "support/meshes.h"

using namespace stlrefine;
using testing_support::literalWeld;
using testing_support::WeldedMesh;

namespace {

constexpr float NaN = std::numeric_limits<float>::quiet_NaN();
constexpr float Inf = std::numeric_limits<float>::infinity();

WeldedMesh weld(const float* corners, std::int32_t cornerCount) {
    VertexArray vertices;
    FaceIndexArray faces;
    std::int32_t vertexCount = -1;
    std::int32_t faceCount = -1;
    weldVertices(corners, cornerCount, vertices, vertexCount, faces, faceCount);
    EXPECT_TRUE(vertices && faces);
    WeldedMesh mesh;
    mesh.vertices.assign(vertices.get(), vertices.get() + 3 * std::size_t(vertexCount));
    mesh.faces.assign(faces.get(), faces.get() + 3 * std::size_t(faceCount));
    return mesh;
}

WeldedMesh weld(const std::vector<float>& corners) {
    return weld(corners.data(), static_cast<std::int32_t>(corners.size() / 3));
}

bool sameBits(const std::vector<float>& a, const std::vector<float>& b) {
    return a.size() == b.size() && std::memcmp(a.data(), b.data(), a.size() * sizeof(float)) == 0;
}

// Runs both weldings and reports the first difference.
void expectSameAsLiteral(const std::vector<float>& corners, const std::string& what) {
    const std::int32_t count = static_cast<std::int32_t>(corners.size() / 3);
    const WeldedMesh expected = literalWeld(corners.data(), count);
    const WeldedMesh actual = weld(corners.data(), count);
    ASSERT_EQ(actual.vertices.size(), expected.vertices.size()) << what;
    ASSERT_TRUE(sameBits(actual.vertices, expected.vertices)) << what;
    ASSERT_EQ(actual.faces.size(), expected.faces.size()) << what;
    for (std::size_t i = 0; i < expected.faces.size(); ++i) {
        ASSERT_EQ(actual.faces[i], expected.faces[i]) << what << ", index " << i;
    }
}

}  // namespace

TEST(Weld, WorkedCases) {
    const float A[] = {0, 0, 0}, B[] = {1, 0, 0}, C[] = {0, 1, 0}, D[] = {1, 1, 0};
    auto corners = [](std::initializer_list<const float*> points) {
        std::vector<float> result;
        for (const float* p : points) result.insert(result.end(), p, p + 3);
        return result;
    };
    struct Case {
        const char* name;
        std::vector<float> corners, vertices;
        std::vector<std::int32_t> faces;
    };
    const Case cases[] = {
        {"single facet", corners({A, B, C}), corners({A, B, C}), {0, 1, 2}},
        {"single facet, all corners equal", corners({A, A, A}), corners({A, A, A}), {0, 1, 2}},
        {"shared edge", corners({A, B, C, C, B, D}), corners({A, B, C, D}), {0, 1, 2, 2, 1, 3}},
        {"first facet P P Q: later P takes 0", corners({A, A, B, B, A, C, A, C, A}), corners({A, A, B, C}),
         {0, 1, 2, 2, 0, 3, 0, 3, 0}},
        {"degenerate later facet stays", corners({A, B, C, D, D, A}), corners({A, B, C, D}),
         {0, 1, 2, 3, 3, 0}},
        {"two identical facets", corners({A, B, C, D, C, B, D, C, B}), corners({A, B, C, D}),
         {0, 1, 2, 3, 2, 1, 3, 2, 1}},
        {"x within 0.5e-6 matches", {0, 0, 0, 1, 0, 0, 0, 1, 0, 0.5e-6f, 0, 0, 1, 0, 0, 0, 1, 0},
         corners({A, B, C}), {0, 1, 2, 0, 1, 2}},
        {"x 2e-6 away, or z out of bound: new vertices",
         {0, 0, 0, 1, 0, 0, 0, 1, 0, 2e-6f, 0, 0, 0.5e-6f, 0.5e-6f, 2e-6f, 1, 0, 0},
         {0, 0, 0, 1, 0, 0, 0, 1, 0, 2e-6f, 0, 0, 0.5e-6f, 0.5e-6f, 2e-6f}, {0, 1, 2, 3, 4, 1}},
        {"0 matches -0", {-0.0f, 0, -0.0f, 1, 0, 0, 0, 1, 0, 0, -0.0f, 0, 1, 0, 0, 0, 1, 0},
         {-0.0f, 0, -0.0f, 1, 0, 0, 0, 1, 0}, {0, 1, 2, 0, 1, 2}},
        {"chain 0, 0.9e-6, 1.8e-6", {0, 0, 0, 1, 0, 0, 0, 1, 0, 0.9e-6f, 0, 0, 1.8e-6f, 0, 0, 1, 0, 0},
         {0, 0, 0, 1, 0, 0, 0, 1, 0, 1.8e-6f, 0, 0}, {0, 1, 2, 0, 3, 1}},
        {"NaN corner: new vertex, never matched", {0, 0, 0, 1, 0, 0, 0, 1, 0, NaN, 0, 0, NaN, 0, 0, 0, 0, 0},
         {0, 0, 0, 1, 0, 0, 0, 1, 0, NaN, 0, 0, NaN, 0, 0}, {0, 1, 2, 3, 4, 0}},
        {"infinite corners never match", {Inf, 0, 0, Inf, 0, 0, 0, 1, 0, Inf, 0, 0, 0, -Inf, 0, 0, -Inf, 0},
         {Inf, 0, 0, Inf, 0, 0, 0, 1, 0, Inf, 0, 0, 0, -Inf, 0, 0, -Inf, 0}, {0, 1, 2, 3, 4, 5}},
        {"coordinates of 32 and more: equal only",
         {32, 0, 0, 16, 0, 0, 0, 1, 0, 32, 0, 0, 32 + 0x1p-18f, 0, 0, 32 - 0x1p-19f, 0, 0},
         {32, 0, 0, 16, 0, 0, 0, 1, 0, 32 + 0x1p-18f, 0, 0, 32 - 0x1p-19f, 0, 0}, {0, 1, 2, 0, 3, 4}},
        {"lowest index wins over a nearer or an equal vertex",
         {0, 0, 0, 0.9e-6f, 0, 0, 0, 1, 0, 2.1e-6f, 0, 0, 0.9e-6f, 0, 0, 1.5e-6f, 0, 0},
         {0, 0, 0, 0.9e-6f, 0, 0, 0, 1, 0, 2.1e-6f, 0, 0}, {0, 1, 2, 3, 0, 1}},
        {"just below 16 still matches 16",
         {16, 0, 0, 1, 0, 0, 0, 1, 0, 16 - 0x1p-20f, 0, 0, 1, 0, 0, 16 - 0x1p-19f, 0, 0},
         {16, 0, 0, 1, 0, 0, 0, 1, 0, 16 - 0x1p-19f, 0, 0}, {0, 1, 2, 0, 1, 3}},
        {"seven corners: last one welded, no face", corners({A, B, C, D, C, B, D, A}), corners({A, B, C, D}),
         {0, 1, 2, 3, 2, 1}},
        {"seven corners: last one a new vertex",
         {0, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 1, 0, 5, 5, 5},
         {0, 0, 0, 1, 0, 0, 0, 1, 0, 5, 5, 5}, {0, 1, 2, 0, 1, 2}},
        // Repeats of a corner must get the answer a search would give now,
        // which is not always what the corner itself became.
        {"repeats of the first corners take the lowest vertex", corners({A, A, A, A, A, A, A, B, A}),
         corners({A, A, A, B}), {0, 1, 2, 0, 0, 0, 0, 3, 0}},
        {"repeats after a vertex that also matches is stored",
         {0, 0, 0, 1, 0, 0, 0, 1, 0, 5, 5, 5, 5 + 0.5e-6f, 5, 5, 5 + 1.5e-6f, 5, 5,
          5, 5, 5, 5 + 1.5e-6f, 5, 5, 5 + 0.5e-6f, 5, 5},
         {0, 0, 0, 1, 0, 0, 0, 1, 0, 5, 5, 5, 5 + 1.5e-6f, 5, 5}, {0, 1, 2, 3, 3, 4, 3, 4, 3}},
        {"repeats of -0 and 0",
         {0, 0, 0, 1, 0, 0, 0, 1, 0, -0.0f, 5, 5, 0, 5, 5, -0.0f, 5, 5, 0, 5, 5, 0, 5, 5, -0.0f, 5, 5},
         {0, 0, 0, 1, 0, 0, 0, 1, 0, -0.0f, 5, 5}, {0, 1, 2, 3, 3, 3, 3, 3, 3}},
    };
    for (const Case& c : cases) {
        const WeldedMesh mesh = weld(c.corners);
        EXPECT_TRUE(sameBits(mesh.vertices, c.vertices)) << c.name;
        EXPECT_EQ(mesh.faces, c.faces) << c.name;
        const WeldedMesh literal = literalWeld(c.corners.data(), std::int32_t(c.corners.size() / 3));
        EXPECT_TRUE(sameBits(literal.vertices, c.vertices)) << c.name << " (literal)";
        EXPECT_EQ(literal.faces, c.faces) << c.name << " (literal)";
    }
}

TEST(Weld, FewerThanThreeCornersGiveAnEmptyMesh) {
    for (std::int32_t count = -1; count < 3; ++count) {
        // Exactly `count` corners (none for count <= 0), so reading past them
        // is caught by the sanitizer builds.
        std::vector<float> corners(3 * std::size_t(std::max(count, 0)), 1.0f);
        VertexArray vertices;
        FaceIndexArray faces;
        std::int32_t vertexCount = -1, faceCount = -1;
        weldVertices(count > 0 ? corners.data() : nullptr, count, vertices, vertexCount, faces,
                     faceCount);
        EXPECT_EQ(vertexCount, 0) << count;
        EXPECT_EQ(faceCount, 0) << count;
    }
}

TEST(Weld, LargeMeshWeldsBackInFirstUseOrder) {
    // A cell table spanning megabytes, facets in order and shuffled: every
    // shared corner finds its vertex, numbered by its first corner.
    const testing_support::Mesh torus = testing_support::torus(300, 200);
    for (const std::uint32_t seed : {0u, 5u}) {
        const testing_support::Mesh mesh =
            seed == 0 ? torus : testing_support::shuffledFaces(torus, seed);
        std::vector<std::int32_t> renumbered(torus.vertices.size() / 3, -1);
        std::vector<std::int32_t> expectedFaces;
        std::vector<float> expectedVertices;
        for (const std::int32_t v : mesh.faces) {
            if (renumbered[std::size_t(v)] < 0) {
                renumbered[std::size_t(v)] = std::int32_t(expectedVertices.size() / 3);
                expectedVertices.insert(expectedVertices.end(), &mesh.vertices[3 * std::size_t(v)],
                                        &mesh.vertices[3 * std::size_t(v)] + 3);
            }
            expectedFaces.push_back(renumbered[std::size_t(v)]);
        }
        const WeldedMesh welded = weld(testing_support::facetCorners(mesh));
        EXPECT_TRUE(sameBits(welded.vertices, expectedVertices)) << seed;
        EXPECT_EQ(welded.faces, expectedFaces) << seed;
    }
}

namespace {

// Float coordinates that probe the edges of the hash: both zeros, values that
// straddle the threshold where only equal values match, cell and fine-cell
// boundaries, tiny and subnormal values.
std::vector<float> anchorValues() {
    std::vector<float> values = {0.0f, -0.0f, 1.0f, -1.0f, 0.3f, 8.0f, 16.0f, -16.0f,
                                 std::nextafter(16.0f, 0.0f), std::nextafter(32.0f, 0.0f),
                                 -std::nextafter(32.0f, 0.0f), 32.0f, -32.0f, 33.5f, 1e6f, -3e38f,
                                 1e-30f, -1e-30f, 1e-40f, 1e-6f, -1e-6f, 2e-6f, std::nextafter(1e-6f, 0.0f)};
    // Multiples of powers of two around the tolerance's scale: the
    // boundaries of any grid of cells a hash may use.
    for (const int k : {1, 7, -1, -3, 16384 * 5 + 3, -16384 * 31}) {
        for (const int e : {-14, -16, -18, -19}) values.push_back(std::ldexp(float(k), e));
    }
    return values;
}

// A value whose float difference from `base` lies near `offset`: the float
// nearest base + offset moved by `steps` representable values.
float offsetValue(float base, double offset, int steps) {
    float value = static_cast<float>(double(base) + offset);
    for (; steps > 0; --steps) value = std::nextafter(value, Inf);
    for (; steps < 0; ++steps) value = std::nextafter(value, -Inf);
    return value;
}

class CornerGenerator {
public:
    explicit CornerGenerator(std::uint32_t seed) : random_(seed) {}

    // `count` corners; each axis takes one of a few anchors per run and is
    // moved by nothing, a few ulps, or an amount around the tolerance, so
    // that many corners lie just inside, at or just outside the bound of
    // several stored vertices. Some corners repeat or jitter earlier ones.
    std::vector<float> corners(std::size_t count) {
        static const std::vector<float> anchors = anchorValues();
        float axisAnchors[3][3];
        for (auto& axis : axisAnchors) {
            for (float& anchor : axis) anchor = anchors[pick(anchors.size())];
        }
        std::vector<float> result;
        for (std::size_t k = 0; k < count; ++k) {
            if (k > 0 && pick(5) == 0) {
                const std::size_t earlier = pick(k);
                for (int a = 0; a < 3; ++a) result.push_back(jitter(result[3 * earlier + a]));
                continue;
            }
            for (int a = 0; a < 3; ++a) result.push_back(jitter(axisAnchors[a][pick(3)]));
        }
        return result;
    }

private:
    std::size_t pick(std::size_t n) {
        return std::uniform_int_distribution<std::size_t>(0, n - 1)(random_);
    }

    float jitter(float value) {
        static const double offsets[] = {1e-6, -1e-6, 0.9e-6, -0.9e-6, 0.5e-6, 1.8e-6, -2e-6, 1.5e-5};
        const int steps = static_cast<int>(pick(5)) - 2;
        const std::size_t kind = pick(32);
        if (kind < 10) return value;
        if (kind < 14) return offsetValue(value, 0.0, steps);
        if (kind == 14) return pick(4) == 0 ? NaN : (pick(2) ? Inf : -Inf);
        return offsetValue(value, offsets[pick(std::size(offsets))], steps);
    }

    std::mt19937 random_;
};

}  // namespace

TEST(Weld, MatchesLiteralScanOnAdversarialCorners) {
    for (std::uint32_t seed = 1; seed <= 400; ++seed) {
        CornerGenerator generator(seed);
        // Counts that are not multiples of three included.
        const std::size_t count = 3 + (seed * 37) % 700;
        expectSameAsLiteral(generator.corners(count), "seed " + std::to_string(seed));
        if (HasFatalFailure()) return;
    }
}
