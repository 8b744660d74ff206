#include "support/literal_weld.h"

#include <cmath>

namespace testing_support {

WeldedMesh literalWeld(const float* corners, std::int32_t cornerCount) {
    WeldedMesh mesh;
    if (cornerCount < 3) return mesh;
    for (std::int32_t k = 0; k < cornerCount; ++k) {
        const float* c = corners + 3 * std::size_t(k);
        const auto stored = std::int32_t(mesh.vertices.size() / 3);
        std::int32_t v = k < 3 ? stored : 0;
        for (; v < stored; ++v) {
            const float* p = &mesh.vertices[3 * std::size_t(v)];
            const float dx = p[0] - c[0], dy = p[1] - c[1], dz = p[2] - c[2];
            if (std::fabs(dx) <= 1e-6 && std::fabs(dy) <= 1e-6 && std::fabs(dz) <= 1e-6) break;
        }
        if (v == stored) mesh.vertices.insert(mesh.vertices.end(), c, c + 3);
        // A corner after the last whole facet is welded but belongs to no face.
        if (k < cornerCount / 3 * 3) mesh.faces.push_back(v);
    }
    return mesh;
}

}  // namespace testing_support
