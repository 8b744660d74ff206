// One 1-to-4 midpoint iteration and the plain iteration loop.
#include <cstdint>
#include <cstring>
#include <stdexcept>

#include "subdivision/iteration.h"
#include "subdivision/subdivision.h"

namespace stlrefine {

void subdivideOnce(Mesh& mesh, SlotPartners& partners, bool keepPartners) {
    const std::int32_t vertexCount = mesh.vertexCount;
    const std::int32_t faceCount = mesh.faceCount;
    const std::int64_t newFaceCount = 4 * static_cast<std::int64_t>(faceCount);
    if (newFaceCount > MaxMeshCount) throw std::length_error("mesh too large");

    const std::int32_t* faces = mesh.faces.get();
    const float* vertices = mesh.vertices.get();
    const std::int32_t slotCount = 3 * faceCount;
    Array<std::int32_t> edgeMidpointTable = allocateArray<std::int32_t>(slotCount);
    std::int32_t midpointCount = 0;
    if (partners) {
        midpointCount =
            assignPairedMidpoints(partners.get(), faceCount, vertexCount, edgeMidpointTable.get());
    } else {
        if (keepPartners) partners = allocateArray<std::int32_t>(slotCount);
        midpointCount =
            assignEdgeMidpoints(faces, faceCount, vertexCount, edgeMidpointTable.get(), partners.get());
        if (partners && !partnersCarryOver(faces, faceCount, partners.get())) partners.reset();
    }
    const std::int64_t newVertexCount = static_cast<std::int64_t>(vertexCount) + midpointCount;
    if (newVertexCount > MaxMeshCount) throw std::length_error("mesh too large");
    // Partners are worth working out only for an iteration that can start.
    if (keepPartners && partners && newVertexCount <= IterationVertexLimit) {
        SlotPartners refined = allocateArray<std::int32_t>(3 * static_cast<std::size_t>(newFaceCount));
        refinePartners(partners.get(), faceCount, refined.get());
        partners = std::move(refined);
    } else {
        partners.reset();
    }

    // Old vertices first, unchanged; then the midpoints in the order their
    // indices were handed out. Indices grow with slot order, so the slot that
    // introduces index k is the first slot, in order, that holds k.
    Array<float> refinedVertices = allocateArray<float>(3 * static_cast<std::size_t>(newVertexCount));
    if (vertexCount > 0) {
        std::memcpy(refinedVertices.get(), vertices,
                    3 * static_cast<std::size_t>(vertexCount) * sizeof(float));
    }
    std::int32_t made = vertexCount;
    for (std::int32_t s = 0; s < slotCount; ++s) {
        if (edgeMidpointTable[s] != made) continue;
        const std::int32_t e = s % 3;
        const float* p = vertices + 3 * static_cast<std::size_t>(faces[s]);
        const float* q = vertices + 3 * static_cast<std::size_t>(faces[e == 2 ? s - 2 : s + 1]);
        float* m = refinedVertices.get() + 3 * static_cast<std::size_t>(made);
        for (int k = 0; k < 3; ++k) {
            const float sum = p[k] + q[k];
            m[k] = sum * 0.5f;
        }
        ++made;
    }

    // Each face becomes its three corner children and the middle child, in
    // place of the parent, all with the parent's orientation.
    Array<std::int32_t> refinedFaces =
        allocateArray<std::int32_t>(3 * static_cast<std::size_t>(newFaceCount));
    std::int32_t* out = refinedFaces.get();
    for (std::int32_t f = 0; f < faceCount; ++f) {
        const std::int32_t a = faces[3 * f], b = faces[3 * f + 1], c = faces[3 * f + 2];
        const std::int32_t m0 = edgeMidpointTable[3 * f];
        const std::int32_t m1 = edgeMidpointTable[3 * f + 1];
        const std::int32_t m2 = edgeMidpointTable[3 * f + 2];
        const std::int32_t children[12] = {a, m0, m2, b, m1, m0, c, m2, m1, m0, m1, m2};
        std::memcpy(out + 12 * static_cast<std::size_t>(f), children, sizeof children);
    }

    mesh = Mesh{std::move(refinedVertices), std::move(refinedFaces),
                static_cast<std::int32_t>(newVertexCount), static_cast<std::int32_t>(newFaceCount)};
}

std::int32_t subdivideMesh(Mesh& mesh, std::int32_t iterations) {
    std::int32_t done = 0;
    SlotPartners partners;
    for (; done < iterations; ++done) {
        // The limit is checked before each iteration only, so the last one
        // may leave the mesh far above it.
        if (mesh.vertexCount > IterationVertexLimit) break;
        subdivideOnce(mesh, partners, done + 1 < iterations);
    }
    return done;
}

}  // namespace stlrefine
