#include "support/meshes.h"

#include <algorithm>
#include <cmath>
#include <numeric>
#include <random>

namespace testing_support {

StageMesh::StageMesh(const Mesh& mesh)
    : vertexComponents(static_cast<std::int32_t>(mesh.vertices.size())),
      faceComponents(static_cast<std::int32_t>(mesh.faces.size())),
      vertices(stlrefine::allocateArray<float>(mesh.vertices.size())),
      faces(stlrefine::allocateArray<std::int32_t>(mesh.faces.size())) {
    std::copy(mesh.vertices.begin(), mesh.vertices.end(), vertices.get());
    std::copy(mesh.faces.begin(), mesh.faces.end(), faces.get());
}

Mesh StageMesh::toMesh() const {
    Mesh mesh;
    mesh.vertices.assign(vertices.get(), vertices.get() + vertexComponents);
    mesh.faces.assign(faces.get(), faces.get() + faceComponents);
    return mesh;
}

Mesh torus(int rings, int sides, float majorRadius, float minorRadius) {
    Mesh mesh;
    const double pi = 3.14159265358979323846;
    for (int i = 0; i < rings; ++i) {
        const double u = 2 * pi * i / rings;
        for (int j = 0; j < sides; ++j) {
            const double v = 2 * pi * j / sides;
            const double r = majorRadius + minorRadius * std::cos(v);
            mesh.vertices.push_back(static_cast<float>(r * std::cos(u)));
            mesh.vertices.push_back(static_cast<float>(r * std::sin(u)));
            mesh.vertices.push_back(static_cast<float>(minorRadius * std::sin(v)));
        }
    }
    auto index = [&](int i, int j) { return (i % rings) * sides + (j % sides); };
    for (int i = 0; i < rings; ++i) {
        for (int j = 0; j < sides; ++j) {
            const int a = index(i, j), b = index(i + 1, j), c = index(i + 1, j + 1), d = index(i, j + 1);
            mesh.faces.insert(mesh.faces.end(), {a, b, c, a, c, d});
        }
    }
    return mesh;
}

Mesh tetrahedron() {
    Mesh mesh;
    mesh.vertices = {0, 0, 0, 2, 0, 0, 0, 2, 0, 0, 0, 2};
    mesh.faces = {0, 2, 1, 0, 1, 3, 0, 3, 2, 1, 2, 3};
    return mesh;
}

std::vector<float> facetCorners(const Mesh& mesh) {
    std::vector<float> corners;
    corners.reserve(mesh.faces.size() * 3);
    for (const std::int32_t index : mesh.faces) {
        corners.insert(corners.end(), mesh.vertices.begin() + 3 * index,
                       mesh.vertices.begin() + 3 * index + 3);
    }
    return corners;
}

Mesh shuffledFaces(const Mesh& mesh, std::uint32_t seed) {
    std::vector<std::int32_t> order(static_cast<std::size_t>(mesh.faceCount()));
    std::iota(order.begin(), order.end(), 0);
    std::mt19937 random(seed);
    std::shuffle(order.begin(), order.end(), random);
    Mesh result;
    result.vertices = mesh.vertices;
    for (const std::int32_t f : order) {
        result.faces.insert(result.faces.end(), mesh.faces.begin() + 3 * f,
                            mesh.faces.begin() + 3 * f + 3);
    }
    return result;
}

}  // namespace testing_support
