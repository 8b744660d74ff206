// Face normals, normalisation and facet expansion: the worked cases, and
// exact single-precision rounding checked against an independent evaluation.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <vector>

#include "mesh/mesh.h"

using namespace stlrefine;

namespace {

constexpr float NaN = std::numeric_limits<float>::quiet_NaN();
constexpr float Inf = std::numeric_limits<float>::infinity();

std::vector<float> normalsOf(const std::vector<float>& vertices,
                             const std::vector<std::int32_t>& faces) {
    VertexArray vertexArray = allocateArray<float>(vertices.size());
    std::copy(vertices.begin(), vertices.end(), vertexArray.get());
    FaceIndexArray faceArray = allocateArray<std::int32_t>(faces.size());
    std::copy(faces.begin(), faces.end(), faceArray.get());
    const std::int32_t faceCount = static_cast<std::int32_t>(faces.size() / 3);
    NormalArray normals;
    computeFaceNormals(vertexArray, faceArray, faceCount, normals);
    return std::vector<float>(normals.get(), normals.get() + 3 * faces.size() / 3);
}

// Equal as floats, with NaN equal to NaN (the sign of a NaN is not part of
// the result).
bool sameFloat(float a, float b) {
    if (std::isnan(a) || std::isnan(b)) return std::isnan(a) && std::isnan(b);
    return std::memcmp(&a, &b, sizeof a) == 0;
}

// Each step rounded to float explicitly, evaluated in double: a product or
// quotient of two floats, and the square root of a float, rounded once from
// double equal the single-precision operation, so this is what the normal
// must be bit for bit, whatever the compiler does with the float code.
float rounded(double value) { return static_cast<float>(value); }

std::vector<float> referenceNormal(const float* p0, const float* p1, const float* p2) {
    const float e1[3] = {rounded(double(p1[0]) - p0[0]), rounded(double(p1[1]) - p0[1]),
                         rounded(double(p1[2]) - p0[2])};
    const float e2[3] = {rounded(double(p2[0]) - p0[0]), rounded(double(p2[1]) - p0[1]),
                         rounded(double(p2[2]) - p0[2])};
    auto product = [](float a, float b) { return rounded(double(a) * b); };
    const float n[3] = {rounded(double(product(e1[1], e2[2])) - product(e1[2], e2[1])),
                        rounded(double(product(e1[2], e2[0])) - product(e1[0], e2[2])),
                        rounded(double(product(e1[0], e2[1])) - product(e1[1], e2[0]))};
    const float s = rounded(double(rounded(double(product(n[0], n[0])) + product(n[1], n[1]))) +
                            product(n[2], n[2]));
    const float length = rounded(std::sqrt(double(s)));
    return {rounded(double(n[0]) / length), rounded(double(n[1]) / length),
            rounded(double(n[2]) / length)};
}

}  // namespace

TEST(Normals, WorkedCases) {
    struct Case {
        const char* name;
        std::vector<float> vertices;
        std::vector<std::int32_t> faces;
        std::vector<float> normals;
    };
    const std::vector<float> unit = {0, 0, 0, 1, 0, 0, 0, 1, 0};
    const Case cases[] = {
        {"counter-clockwise in the xy plane", unit, {0, 1, 2}, {0, 0, 1}},
        {"swapped corners flip the normal", unit, {0, 2, 1}, {0, 0, -1}},
        {"size does not matter", {0, 0, 0, 2, 0, 0, 0, 2, 0}, {0, 1, 2}, {0, 0, 1}},
        {"a 3-4-5 normal", {0, 0, 0, 1, 0, 0, 0, -4, 3}, {0, 1, 2}, {0, -0.6f, -0.8f}},
        {"two equal indices give NaN", unit, {0, 0, 2}, {NaN, NaN, NaN}},
        {"coinciding positions give NaN", {1, 2, 3, 1, 2, 3, 5, 5, 5}, {0, 1, 2}, {NaN, NaN, NaN}},
        {"overflowing squares give zeros",
         {0, 0, 0, 1e10f, 0, 0, 0, 1e10f, 0},
         {0, 1, 2},
         {0, 0, 0}},
        {"underflowing squares give NaN and infinity",
         {0, 0, 0, 1e-12f, 0, 0, 0, 1e-12f, 0},
         {0, 1, 2},
         {NaN, NaN, Inf}},
        {"several faces in order",
         {0, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0, 1},
         {0, 1, 2, 0, 2, 1, 0, 3, 1},
         {0, 0, 1, 0, 0, -1, 0, 1, 0}},
    };
    for (const Case& c : cases) {
        const std::vector<float> normals = normalsOf(c.vertices, c.faces);
        ASSERT_EQ(normals.size(), c.normals.size()) << c.name;
        for (std::size_t i = 0; i < normals.size(); ++i) {
            EXPECT_TRUE(sameFloat(normals[i], c.normals[i]))
                << c.name << ", component " << i << ": " << normals[i];
        }
    }
}

TEST(Normals, RoundedAsWrittenInSinglePrecision) {
    // Random triangles of mixed scales. The reference rounds every step;
    // fused multiply-adds, double evaluation, a reciprocal multiplication or
    // another order of the squares would change some of these bits.
    std::mt19937 random(5);
    std::uniform_real_distribution<float> coordinate(-1.0f, 1.0f);
    std::uniform_int_distribution<int> exponent(-8, 8);
    std::vector<float> vertices;
    std::vector<std::int32_t> faces;
    for (int f = 0; f < 20000; ++f) {
        const int scale = exponent(random);
        for (int k = 0; k < 9; ++k) vertices.push_back(std::ldexp(coordinate(random), scale));
        for (int k = 0; k < 3; ++k) faces.push_back(3 * f + k);
    }
    const std::vector<float> normals = normalsOf(vertices, faces);
    int fusedDiffers = 0;
    for (int f = 0; f < 20000; ++f) {
        const float* p = &vertices[9 * std::size_t(f)];
        const std::vector<float> expected = referenceNormal(p, p + 3, p + 6);
        for (int a = 0; a < 3; ++a) {
            ASSERT_TRUE(sameFloat(normals[3 * f + a], expected[a]))
                << "face " << f << ", component " << a;
        }
        // The same face with the x component fused: shows that the data can
        // tell the two evaluations apart.
        const float e1y = p[4] - p[1], e1z = p[5] - p[2], e2y = p[7] - p[1], e2z = p[8] - p[2];
        fusedDiffers += std::fma(e1y, e2z, -(e1z * e2y)) != e1y * e2z - e1z * e2y;
    }
    EXPECT_GT(fusedDiffers, 100);
}

TEST(Normals, NormalizeVectorDividesByTheSinglePrecisionLength) {
    struct Case {
        float in[3];
        float out[3];
    };
    const Case cases[] = {
        {{3, 4, 0}, {0.6f, 0.8f, 0}},        {{0, 0, -2}, {0, 0, -1}},
        {{0, 0, 0}, {NaN, NaN, NaN}},        {{1e20f, 0, 0}, {0, 0, 0}},
        {{0, -1e-24f, 0}, {NaN, -Inf, NaN}},
    };
    for (const Case& c : cases) {
        float v[3] = {c.in[0], c.in[1], c.in[2]};
        normalizeVector(v);
        for (int a = 0; a < 3; ++a) {
            EXPECT_TRUE(sameFloat(v[a], c.out[a])) << c.in[0] << " " << c.in[1] << " " << c.in[2];
        }
    }
}

TEST(Normals, ZeroFacesGiveEmptyArraysAndTouchNoVertex) {
    const VertexArray noVertices;
    const FaceIndexArray noFaces;
    NormalArray normals;
    computeFaceNormals(noVertices, noFaces, 0, normals);
    EXPECT_TRUE(normals);
    EXPECT_TRUE(expandFacets(noVertices, noFaces, 0));
}

TEST(ExpandFacets, CopiesEveryUseOfAVertex) {
    const std::vector<float> vertices = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11};
    const std::vector<std::int32_t> faces = {0, 1, 2, 2, 1, 3, 3, 3, 0};
    VertexArray vertexArray = allocateArray<float>(vertices.size());
    std::copy(vertices.begin(), vertices.end(), vertexArray.get());
    FaceIndexArray faceArray = allocateArray<std::int32_t>(faces.size());
    std::copy(faces.begin(), faces.end(), faceArray.get());
    const FacetCornerArray corners = expandFacets(vertexArray, faceArray, 3);
    const std::vector<float> expected = {0, 1, 2,  3,  4, 5,  6,  7, 8,  6,  7, 8, 3, 4,
                                         5, 9, 10, 11, 9, 10, 11, 9, 10, 11, 0, 1, 2};
    EXPECT_EQ(std::vector<float>(corners.get(), corners.get() + expected.size()), expected);
}
