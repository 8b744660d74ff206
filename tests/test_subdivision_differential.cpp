// The subdivision stage against the literal partner scan, bit for bit, on
// thousands of random meshes of every shape the pairing has to cope with.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "support/files.h"
#include "support/literal_subdivision.h"
#include "support/meshes.h"

namespace {

using testing_support::Mesh;
using Random = std::mt19937;

int uniform(Random& random, int low, int high) {
    return std::uniform_int_distribution<int>(low, high)(random);
}

bool chance(Random& random, double p) { return std::bernoulli_distribution(p)(random); }

// Coordinates whose sums round in float: mixed magnitudes and signs.
std::vector<float> randomVertices(Random& random, int count) {
    std::vector<float> vertices(3 * static_cast<std::size_t>(count));
    std::uniform_real_distribution<float> unit(-1.0f, 1.0f);
    for (float& v : vertices) {
        switch (uniform(random, 0, 3)) {
            case 0: v = unit(random); break;
            case 1: v = unit(random) * 1e6f; break;
            case 2: v = static_cast<float>(uniform(random, -3, 3)); break;
            default: v = unit(random) * 3e-3f + 1.0f; break;
        }
    }
    return vertices;
}

// Same cycle, another first corner: the orientation stays, the slot order changes.
void rotateCorners(Random& random, std::int32_t* face) {
    for (int r = uniform(random, 0, 2); r > 0; --r) std::rotate(face, face + 1, face + 3);
}

Mesh closedMesh(Random& random) {
    Mesh mesh = testing_support::shuffledFaces(
        testing_support::torus(uniform(random, 3, 9), uniform(random, 3, 9)), random());
    for (int f = 0; f < mesh.faceCount(); ++f) rotateCorners(random, &mesh.faces[3 * f]);
    mesh.vertices = randomVertices(random, mesh.vertexCount());
    return mesh;
}

Mesh openMesh(Random& random) {
    const Mesh closed = closedMesh(random);
    Mesh mesh;
    mesh.vertices = closed.vertices;
    for (int f = 0; f < closed.faceCount(); ++f) {
        if (chance(random, 0.25)) continue;
        mesh.faces.insert(mesh.faces.end(), closed.faces.begin() + 3 * f, closed.faces.begin() + 3 * f + 3);
    }
    return mesh;
}

Mesh flippedMesh(Random& random) {
    Mesh mesh = closedMesh(random);
    for (int f = 0; f < mesh.faceCount(); ++f) {
        if (chance(random, 0.2)) std::swap(mesh.faces[3 * f + 1], mesh.faces[3 * f + 2]);
    }
    return mesh;
}

// Several faces around each of a few edges, in both directions, some repeated.
Mesh fanMesh(Random& random) {
    Mesh mesh;
    const int vertexCount = uniform(random, 4, 10);
    mesh.vertices = randomVertices(random, vertexCount);
    const int fans = uniform(random, 1, 4);
    for (int n = 0; n < fans; ++n) {
        const int p = uniform(random, 0, vertexCount - 1);
        const int q = (p + uniform(random, 1, vertexCount - 1)) % vertexCount;
        for (int blades = uniform(random, 1, 12); blades > 0; --blades) {
            int apex = uniform(random, 0, vertexCount - 1);
            if (apex == p || apex == q) apex = (std::max(p, q) + 1) % vertexCount;
            std::int32_t face[3] = {p, q, apex};
            if (chance(random, 0.5)) std::swap(face[0], face[1]);
            rotateCorners(random, face);
            mesh.faces.insert(mesh.faces.end(), face, face + 3);
        }
    }
    return testing_support::shuffledFaces(mesh, random());
}

// Faces with two or three equal corners among ordinary ones.
Mesh degenerateMesh(Random& random) {
    Mesh mesh;
    const int vertexCount = uniform(random, 1, 6);
    mesh.vertices = randomVertices(random, vertexCount);
    for (int faces = uniform(random, 1, 40); faces > 0; --faces) {
        const int a = uniform(random, 0, vertexCount - 1);
        int b = uniform(random, 0, vertexCount - 1);
        int c = uniform(random, 0, vertexCount - 1);
        switch (uniform(random, 0, 3)) {
            case 0: b = c = a; break;
            case 1: b = a; break;
            case 2: c = b; break;
            default: break;
        }
        mesh.faces.insert(mesh.faces.end(), {a, b, c});
    }
    return mesh;
}

// Anything at all over a small pool of vertices.
Mesh soupMesh(Random& random) {
    Mesh mesh;
    const int vertexCount = uniform(random, 1, 12);
    mesh.vertices = randomVertices(random, vertexCount);
    for (int n = 3 * uniform(random, 0, 50); n > 0; --n) {
        mesh.faces.push_back(uniform(random, 0, vertexCount - 1));
    }
    return mesh;
}

struct Kind {
    const char* name;
    std::function<Mesh(Random&)> make;
};

const std::vector<Kind>& kinds() {
    static const std::vector<Kind> all = {
        {"closed", closedMesh},         {"open", openMesh}, {"flipped", flippedMesh},
        {"fan", fanMesh},               {"degenerate", degenerateMesh}, {"soup", soupMesh},
    };
    return all;
}

::testing::AssertionResult sameMesh(const Mesh& actual, const Mesh& expected) {
    if (actual.vertices.size() != expected.vertices.size()) {
        return ::testing::AssertionFailure() << "vertex components " << actual.vertices.size()
                                             << " instead of " << expected.vertices.size();
    }
    if (std::memcmp(actual.vertices.data(), expected.vertices.data(),
                    actual.vertices.size() * sizeof(float)) != 0) {
        return ::testing::AssertionFailure() << "vertex coordinates differ";
    }
    if (actual.faces != expected.faces) return ::testing::AssertionFailure() << "faces differ";
    return ::testing::AssertionSuccess();
}

constexpr int MeshesPerKind = 1000;

TEST(SubdivisionDifferential, MatchesLiteralScan) {
    for (const Kind& kind : kinds()) {
        for (int seed = 0; seed < MeshesPerKind; ++seed) {
            Random random(static_cast<std::uint32_t>(seed));
            const Mesh mesh = kind.make(random);
            const int iterations = mesh.faceCount() <= 80 ? uniform(random, 1, 2) : 1;
            const Mesh fast = testing_support::stageSubdivide(mesh, iterations);
            ASSERT_TRUE(sameMesh(fast, testing_support::literalSubdivide(mesh, iterations)))
                << kind.name << " mesh, seed " << seed << ", " << iterations << " iteration(s)";
        }
    }
}

TEST(SubdivisionDifferential, HeightLimitedMatchesLiteralScan) {
    const float thresholds[] = {-1.0f, 0.0f, 0.05f, 0.5f, 1e5f, 1e7f};
    for (const Kind& kind : kinds()) {
        for (int seed = 0; seed < MeshesPerKind / 6; ++seed) {
            Random random(static_cast<std::uint32_t>(1000000 + seed));
            const Mesh mesh = kind.make(random);
            const float threshold = thresholds[uniform(random, 0, 5)];
            const int iterations = mesh.faceCount() <= 40 ? 2 : 1;
            Mesh fast;
            const std::string lines = testing_support::captureStdout([&] {
                fast = testing_support::stageSubdivideHeightLimited(mesh, iterations, threshold);
            });
            std::string expectedLines;
            const Mesh literal =
                testing_support::literalSubdivideHeightLimited(mesh, iterations, threshold, expectedLines);
            ASSERT_EQ(lines, expectedLines) << kind.name << " mesh, seed " << seed;
            ASSERT_TRUE(sameMesh(fast, literal)) << kind.name << " mesh, seed " << seed;
        }
    }
}

// The generated meshes really contain what the pairing rule has to handle.
TEST(SubdivisionDifferential, GeneratorsProduceTheirShapes) {
    int unpaired = 0, degenerate = 0, sameDirection = 0;
    for (const Kind& kind : kinds()) {
        for (int seed = 0; seed < 50; ++seed) {
            Random random(static_cast<std::uint32_t>(seed));
            const Mesh mesh = kind.make(random);
            std::vector<std::pair<int, int>> edges;
            for (int s = 0; s < static_cast<int>(mesh.faces.size()); ++s) {
                edges.emplace_back(mesh.faces[s], mesh.faces[s % 3 == 2 ? s - 2 : s + 1]);
            }
            for (const auto& [p, q] : edges) {
                if (p == q) ++degenerate;
                if (std::count(edges.begin(), edges.end(), std::make_pair(q, p)) == 0) ++unpaired;
                if (std::count(edges.begin(), edges.end(), std::make_pair(p, q)) > 1) ++sameDirection;
            }
        }
    }
    EXPECT_GT(unpaired, 100);
    EXPECT_GT(degenerate, 100);
    EXPECT_GT(sameDirection, 100);
}

}  // namespace
