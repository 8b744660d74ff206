#include "support/literal_subdivision.h"

#include <algorithm>
#include <cstdio>
#include <utility>
#include <vector>

#include "common/arrays.h"
#include "subdivision/subdivision.h"

namespace testing_support {

namespace {

constexpr int VertexLimit = 50000;

int endCorner(int slot) { return slot % 3 == 2 ? slot - 2 : slot + 1; }

}  // namespace

Mesh literalSubdivideOnce(const Mesh& mesh) {
    const int vertexCount = mesh.vertexCount();
    const int faceCount = mesh.faceCount();
    const int slotCount = 3 * faceCount;
    const std::vector<std::int32_t>& faces = mesh.faces;

    std::vector<std::int32_t> edgePartnerTable(slotCount, -1);
    std::vector<std::int32_t> edgeMidpointTable(slotCount, -1);
    std::vector<float> midpointList;
    std::vector<std::pair<std::int32_t, std::int32_t>> madeOn;  // end points of each new vertex
    std::int32_t nextNewIndex = vertexCount;

    auto makeMidpoint = [&](std::int32_t p, std::int32_t q) {
        for (int k = 0; k < 3; ++k) {
            const float sum = mesh.vertices[3 * p + k] + mesh.vertices[3 * q + k];
            midpointList.push_back(sum * 0.5f);
        }
        madeOn.emplace_back(p, q);
        return nextNewIndex++;
    };

    for (int f = 0; f < faceCount; ++f) {
        for (int e = 0; e < 3; ++e) {
            const int slot = 3 * f + e;
            if (edgePartnerTable[slot] != -1) continue;
            const std::int32_t p = faces[slot];
            const std::int32_t q = faces[endCorner(slot)];
            bool found = false;
            for (int g = f + 1; g < faceCount && !found; ++g) {
                for (int d = 0; d < 3 && !found; ++d) {
                    const int other = 3 * g + d;
                    if (edgePartnerTable[other] != -1) continue;
                    if (faces[other] != q || faces[endCorner(other)] != p) continue;
                    const std::int32_t index = makeMidpoint(p, q);
                    edgePartnerTable[slot] = g;
                    edgePartnerTable[other] = f;
                    edgeMidpointTable[slot] = index;
                    edgeMidpointTable[other] = index;
                    found = true;
                }
            }
            if (found) continue;
            for (std::size_t n = 0; n < madeOn.size() && !found; ++n) {
                const auto [u, v] = madeOn[n];
                if ((u == p && v == q) || (u == q && v == p)) {
                    edgeMidpointTable[slot] = vertexCount + static_cast<std::int32_t>(n);
                    found = true;
                }
            }
            if (!found) edgeMidpointTable[slot] = makeMidpoint(p, q);
        }
    }

    Mesh result;
    result.vertices = mesh.vertices;
    result.vertices.insert(result.vertices.end(), midpointList.begin(), midpointList.end());
    for (int f = 0; f < faceCount; ++f) {
        const std::int32_t a = faces[3 * f], b = faces[3 * f + 1], c = faces[3 * f + 2];
        const std::int32_t m0 = edgeMidpointTable[3 * f];
        const std::int32_t m1 = edgeMidpointTable[3 * f + 1];
        const std::int32_t m2 = edgeMidpointTable[3 * f + 2];
        result.faces.insert(result.faces.end(), {a, m0, m2, b, m1, m0, c, m2, m1, m0, m1, m2});
    }
    return result;
}

Mesh literalSubdivide(Mesh mesh, int iterations) {
    for (int run = 0; run < iterations; ++run) {
        if (mesh.vertexCount() > VertexLimit) break;
        mesh = literalSubdivideOnce(mesh);
    }
    return mesh;
}

namespace {

template <class Stage>
Mesh runStage(const Mesh& mesh, Stage stage) {
    StageMesh arrays(mesh);
    stage(arrays.vertexComponents, arrays.vertices, arrays.faceComponents, arrays.faces);
    return arrays.toMesh();
}

}  // namespace

Mesh stageSubdivide(const Mesh& mesh, int iterations) {
    return runStage(mesh, [&](auto& vc, auto& v, auto& fc, auto& f) {
        stlrefine::subdivideMesh(iterations, vc, v, fc, f);
    });
}

Mesh stageSubdivideHeightLimited(const Mesh& mesh, int iterations, float threshold,
                                 std::vector<float>& heights) {
    return runStage(mesh, [&](auto& vc, auto& v, auto& fc, auto& f) {
        stlrefine::subdivideMeshHeightLimited(iterations, vc, v, fc, f, threshold, heights);
    });
}

}  // namespace testing_support
