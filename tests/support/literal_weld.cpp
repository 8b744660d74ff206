#include "support/literal_weld.h"

#include <cmath>
#include <utility>

namespace testing_support {

namespace {

bool axisPasses(float stored, float corner) {
    const float difference = stored - corner;
    return std::fabs(difference) <= 1e-6;
}

}  // namespace

WeldedMesh literalWeld(const float* corners, std::int32_t cornerCount) {
    WeldedMesh mesh;
    if (cornerCount < 3) return mesh;
    std::vector<std::int32_t> indices;
    for (std::int32_t k = 0; k < cornerCount; ++k) {
        const float* c = corners + 3 * static_cast<std::size_t>(k);
        std::int32_t found = -1;
        if (k >= 3) {
            const std::int32_t stored = static_cast<std::int32_t>(mesh.vertices.size() / 3);
            for (std::int32_t v = 0; v < stored && found < 0; ++v) {
                const float* p = mesh.vertices.data() + 3 * static_cast<std::size_t>(v);
                if (axisPasses(p[0], c[0]) && axisPasses(p[1], c[1]) && axisPasses(p[2], c[2])) {
                    found = v;
                }
            }
        }
        if (found < 0) {
            found = static_cast<std::int32_t>(mesh.vertices.size() / 3);
            mesh.vertices.insert(mesh.vertices.end(), c, c + 3);
        }
        indices.push_back(found);
    }
    indices.resize(indices.size() / 3 * 3);
    mesh.faces = std::move(indices);
    return mesh;
}

}  // namespace testing_support
