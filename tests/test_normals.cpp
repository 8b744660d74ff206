// Face normals: the worked cases, and single-precision rounding in the
// written order checked bit for bit against an independent evaluation.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>
#include <vector>

#include "mesh/mesh.h"

// Equal bits, with any NaN equal to any NaN.
static bool sameFloat(float a, float b) {
    return std::isnan(a) || std::isnan(b) ? std::isnan(a) && std::isnan(b) : std::memcmp(&a, &b, sizeof a) == 0;
}

// A product, difference or square root of floats computed in double and
// rounded once equals the single-precision operation.
static float r(double value) { return static_cast<float>(value); }
static float mul(float x, float y) { return r(double(x) * y); }

TEST(Normals, WorkedCases) {
    const struct { const char* name; std::vector<float> vertices; std::vector<std::int32_t> faces;
                   std::vector<float> normals; } cases[] = {
        {"counter-clockwise, then swapped", {0, 0, 0, 1, 0, 0, 0, 1, 0}, {0, 1, 2, 0, 2, 1}, {0, 0, 1, 0, 0, -1}},
        {"a 3-4-5 normal", {0, 0, 0, 1, 0, 0, 0, -4, 3}, {0, 1, 2}, {0, -0.6f, -0.8f}},
        {"two equal indices give NaN", {0, 0, 0, 1, 0, 0, 0, 1, 0}, {0, 0, 2}, {NAN, NAN, NAN}},
        {"overflowing squares give zeros", {0, 0, 0, 1e10f, 0, 0, 0, 1e10f, 0}, {0, 1, 2}, {0, 0, 0}},
        {"underflowing squares: NaN, infinity", {0, 0, 0, 1e-12f, 0, 0, 0, 1e-12f, 0}, {0, 1, 2}, {NAN, NAN, INFINITY}},
    };
    for (const auto& c : cases) {
        std::vector<float> normals(c.faces.size());
        stlrefine::computeFaceNormals(c.vertices.data(), c.faces.data(), std::int32_t(c.faces.size() / 3),
                                      normals.data());
        for (std::size_t i = 0; i < normals.size(); ++i)
            EXPECT_TRUE(sameFloat(normals[i], c.normals[i])) << c.name << ", component " << i << ": " << normals[i];
    }
}

// Fused multiply-adds, double evaluation, a reciprocal multiplication or
// another order of the squares would change some of these bits.
TEST(Normals, RoundedAsWrittenInSinglePrecision) {
    std::mt19937 random(5);
    std::uniform_real_distribution<float> coordinate(-1.0f, 1.0f);
    const int count = 20000;
    std::vector<float> vertices, normals(3 * count);
    std::vector<std::int32_t> faces;
    for (int f = 0, scale = 0; f < 9 * count; ++f) {
        scale = f % 9 ? scale : int(random() % 17) - 8;  // one scale per face
        vertices.push_back(std::ldexp(coordinate(random), scale));
        if (f % 3 == 0) faces.push_back(f / 3);
    }
    stlrefine::computeFaceNormals(vertices.data(), faces.data(), count, normals.data());
    int fusedDiffers = 0;
    for (int f = 0; f < count; ++f) {
        const float* p = &vertices[9 * std::size_t(f)];
        float e1[3], e2[3], n[3];
        for (int a = 0; a < 3; ++a) e1[a] = r(double(p[3 + a]) - p[a]), e2[a] = r(double(p[6 + a]) - p[a]);
        for (int a = 0; a < 3; ++a)
            n[a] = r(double(mul(e1[(a + 1) % 3], e2[(a + 2) % 3])) - mul(e1[(a + 2) % 3], e2[(a + 1) % 3]));
        const float length = r(std::sqrt(r(double(r(double(mul(n[0], n[0])) + mul(n[1], n[1]))) + mul(n[2], n[2]))));
        for (int a = 0; a < 3; ++a)
            ASSERT_TRUE(sameFloat(normals[3 * f + a], r(double(n[a]) / length))) << "face " << f << ", component " << a;
        fusedDiffers += std::fma(e1[1], e2[2], -(e1[2] * e2[1])) != e1[1] * e2[2] - e1[2] * e2[1];
    }
    EXPECT_GT(fusedDiffers, 100);  // the data tells a fused evaluation apart
}
