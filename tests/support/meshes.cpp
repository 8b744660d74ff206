#include "support/meshes.h"

#include <algorithm>
#include <cmath>
#include <numbers>
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
    return {{vertices.get(), vertices.get() + vertexComponents}, {faces.get(), faces.get() + faceComponents}};
}

Mesh torus(int rings, int sides, float majorRadius, float minorRadius) {
    Mesh mesh;
    for (int i = 0; i < rings; ++i) {
        for (int j = 0; j < sides; ++j) {
            const double u = 2 * std::numbers::pi * i / rings, v = 2 * std::numbers::pi * j / sides, r = majorRadius + minorRadius * std::cos(v);
            mesh.vertices.insert(mesh.vertices.end(), {static_cast<float>(r * std::cos(u)),
                                 static_cast<float>(r * std::sin(u)), static_cast<float>(minorRadius * std::sin(v))});
            const int a = i * sides + j, b = (i + 1) % rings * sides + j;
            const int c = (i + 1) % rings * sides + (j + 1) % sides, d = i * sides + (j + 1) % sides;
            mesh.faces.insert(mesh.faces.end(), {a, b, c, a, c, d});
        }
    }
    return mesh;
}

Mesh tetrahedron() { return {{0, 0, 0, 2, 0, 0, 0, 2, 0, 0, 0, 2}, {0, 2, 1, 0, 1, 3, 0, 3, 2, 1, 2, 3}}; }

std::vector<float> facetCorners(const Mesh& mesh) {
    std::vector<float> corners;
    for (const std::int32_t v : mesh.faces) corners.insert(corners.end(), &mesh.vertices[3 * v], &mesh.vertices[3 * v] + 3);
    return corners;
}

Mesh shuffledFaces(const Mesh& mesh, std::uint32_t seed) {
    std::vector<std::int32_t> order(static_cast<std::size_t>(mesh.faceCount()));
    std::iota(order.begin(), order.end(), 0);
    std::shuffle(order.begin(), order.end(), std::mt19937(seed));
    Mesh result{mesh.vertices, {}};
    for (const std::int32_t f : order) result.faces.insert(result.faces.end(), &mesh.faces[3 * f], &mesh.faces[3 * f] + 3);
    return result;
}

}  // namespace testing_support
