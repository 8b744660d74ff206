#include "support/literal_weld.h"

#include <cmath>

namespace testing_support {

Mesh literalWeld(const float* corners, std::int32_t cornerCount) {
    std::vector<float> vertices;
    std::vector<std::int32_t> faces;
    if (cornerCount < 3) return makeMesh(vertices, faces);
    for (std::int32_t k = 0; k < cornerCount; ++k) {
        const float* c = corners + 3 * std::size_t(k);
        const auto stored = std::int32_t(vertices.size() / 3);
        std::int32_t v = k < 3 ? stored : 0;
        for (; v < stored; ++v) {
            const float* p = &vertices[3 * std::size_t(v)];
            const float dx = p[0] - c[0], dy = p[1] - c[1], dz = p[2] - c[2];
            if (std::fabs(dx) <= 1e-6 && std::fabs(dy) <= 1e-6 && std::fabs(dz) <= 1e-6) break;
        }
        if (v == stored) vertices.insert(vertices.end(), c, c + 3);
        // A corner after the last whole facet is welded but belongs to no face.
        if (k < cornerCount / 3 * 3) faces.push_back(v);
    }
    return makeMesh(vertices, faces);
}

}  // namespace testing_support
