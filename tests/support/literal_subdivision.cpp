#include "support/literal_subdivision.h"

#include <utility>

namespace testing_support {

Mesh literalSubdivideOnce(const Mesh& mesh) {
    const std::vector<std::int32_t> f = facesOf(mesh);
    const int slots = static_cast<int>(f.size());
    auto endOf = [](int s) { return s % 3 == 2 ? s - 2 : s + 1; };
    std::vector<bool> paired(f.size());
    std::vector<std::int32_t> mid(f.size()), faces;
    std::vector<std::pair<std::int32_t, std::int32_t>> madeOn;  // the end points of each new vertex
    std::vector<float> vertices = verticesOf(mesh);
    for (int s = 0; s < slots; ++s) {
        if (paired[s]) continue;
        const std::int32_t p = f[s], q = f[endOf(s)];
        int t = s - s % 3 + 3;  // the first slot of the next face
        while (t < slots && (paired[t] || f[t] != q || f[endOf(t)] != p)) ++t;
        std::size_t n = 0;  // without a partner: the earliest new vertex on the same two indices
        while (t == slots && n < madeOn.size() && madeOn[n] != std::pair(p, q) && madeOn[n] != std::pair(q, p)) ++n;
        if (t < slots || n == madeOn.size()) {  // a new vertex
            n = madeOn.size();
            madeOn.emplace_back(p, q);
            for (int k = 0; k < 3; ++k) {
                const float sum = mesh.vertices[3 * p + k] + mesh.vertices[3 * q + k];
                vertices.push_back(sum * 0.5f);
            }
        }
        mid[s] = mesh.vertexCount + static_cast<std::int32_t>(n);
        if (t < slots) paired[s] = paired[t] = true, mid[t] = mid[s];
    }
    for (int s = 0; s < slots; s += 3) {
        faces.insert(faces.end(), {f[s], mid[s], mid[s + 2], f[s + 1], mid[s + 1], mid[s], f[s + 2], mid[s + 2],
                                   mid[s + 1], mid[s], mid[s + 1], mid[s + 2]});
    }
    return makeMesh(vertices, faces);
}

Mesh literalSubdivide(const Mesh& mesh, int iterations) {
    Mesh result = copyOf(mesh);
    for (int run = 0; run < iterations && result.vertexCount <= 50000; ++run) result = literalSubdivideOnce(result);
    return result;
}

}  // namespace testing_support
