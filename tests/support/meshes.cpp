#include "support/meshes.h"

#include <algorithm>
#include <cmath>
#include <numbers>
#include <numeric>
#include <random>

namespace testing_support {

Mesh makeMesh(const std::vector<float>& vertices, const std::vector<std::int32_t>& faces) {
    Mesh mesh{stlrefine::allocateArray<float>(vertices.size()), stlrefine::allocateArray<std::int32_t>(faces.size()),
              static_cast<std::int32_t>(vertices.size() / 3), static_cast<std::int32_t>(faces.size() / 3)};
    std::copy(vertices.begin(), vertices.end(), mesh.vertices.get());
    std::copy(faces.begin(), faces.end(), mesh.faces.get());
    return mesh;
}

std::vector<float> verticesOf(const Mesh& mesh) {
    return {mesh.vertices.get(), mesh.vertices.get() + 3 * std::size_t(mesh.vertexCount)};
}

std::vector<std::int32_t> facesOf(const Mesh& mesh) {
    return {mesh.faces.get(), mesh.faces.get() + 3 * std::size_t(mesh.faceCount)};
}

Mesh torus(int rings, int sides, float majorRadius, float minorRadius) {
    std::vector<float> vertices;
    std::vector<std::int32_t> faces;
    for (int i = 0; i < rings; ++i) {
        for (int j = 0; j < sides; ++j) {
            const double u = 2 * std::numbers::pi * i / rings, v = 2 * std::numbers::pi * j / sides,
                         r = majorRadius + minorRadius * std::cos(v);
            vertices.insert(vertices.end(), {static_cast<float>(r * std::cos(u)), static_cast<float>(r * std::sin(u)),
                                             static_cast<float>(minorRadius * std::sin(v))});
            const int a = i * sides + j, b = (i + 1) % rings * sides + j;
            const int c = (i + 1) % rings * sides + (j + 1) % sides, d = i * sides + (j + 1) % sides;
            faces.insert(faces.end(), {a, b, c, a, c, d});
        }
    }
    return makeMesh(vertices, faces);
}

Mesh tetrahedron() { return makeMesh({0, 0, 0, 2, 0, 0, 0, 2, 0, 0, 0, 2}, {0, 2, 1, 0, 1, 3, 0, 3, 2, 1, 2, 3}); }

std::vector<float> facetCorners(const Mesh& mesh) {
    std::vector<float> corners;
    const float* vertices = mesh.vertices.get();
    for (const std::int32_t v : facesOf(mesh)) corners.insert(corners.end(), vertices + 3 * v, vertices + 3 * v + 3);
    return corners;
}

Mesh shuffledFaces(const Mesh& mesh, std::uint32_t seed) {
    std::vector<std::int32_t> order(static_cast<std::size_t>(mesh.faceCount)), faces;
    std::iota(order.begin(), order.end(), 0);
    std::shuffle(order.begin(), order.end(), std::mt19937(seed));
    for (const std::int32_t f : order) faces.insert(faces.end(), &mesh.faces[3 * f], &mesh.faces[3 * f] + 3);
    return makeMesh(verticesOf(mesh), faces);
}

}  // namespace testing_support
