#include "support/literal_subdivision.h"

#include <utility>

#include "subdivision/subdivision.h"

namespace testing_support {

Mesh literalSubdivideOnce(const Mesh& mesh) {
    const std::vector<std::int32_t>& f = mesh.faces;
    const int slots = static_cast<int>(f.size());
    auto endOf = [](int s) { return s % 3 == 2 ? s - 2 : s + 1; };
    std::vector<bool> paired(f.size());
    std::vector<std::int32_t> mid(f.size());
    std::vector<std::pair<std::int32_t, std::int32_t>> madeOn;  // the end points of each new vertex
    Mesh result{mesh.vertices, {}};
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
                result.vertices.push_back(sum * 0.5f);
            }
        }
        mid[s] = mesh.vertexCount() + static_cast<std::int32_t>(n);
        if (t < slots) paired[s] = paired[t] = true, mid[t] = mid[s];
    }
    for (int s = 0; s < slots; s += 3) {
        result.faces.insert(result.faces.end(), {f[s], mid[s], mid[s + 2], f[s + 1], mid[s + 1], mid[s],
                                                 f[s + 2], mid[s + 2], mid[s + 1], mid[s], mid[s + 1], mid[s + 2]});
    }
    return result;
}

Mesh literalSubdivide(Mesh mesh, int iterations) {
    for (int run = 0; run < iterations && mesh.vertexCount() <= 50000; ++run) mesh = literalSubdivideOnce(mesh);
    return mesh;
}

Mesh stageSubdivide(const Mesh& mesh, int iterations) {
    StageMesh arrays(mesh);
    stlrefine::subdivideMesh(iterations, arrays.vertexComponents, arrays.vertices, arrays.faceComponents, arrays.faces);
    return arrays.toMesh();
}

Mesh stageSubdivideHeightLimited(const Mesh& mesh, int iterations, float threshold, std::vector<float>& heights) {
    StageMesh arrays(mesh);
    stlrefine::subdivideMeshHeightLimited(iterations, arrays.vertexComponents, arrays.vertices, arrays.faceComponents,
                                          arrays.faces, threshold, heights);
    return arrays.toMesh();
}

}  // namespace testing_support
