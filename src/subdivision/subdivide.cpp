// One 1-to-4 midpoint iteration and the plain iteration loop.
#include <cstdint>
#include <cstring>
#include <stdexcept>

#include "subdivision/iteration.h"
#include "subdivision/subdivision.h"

namespace stlrefine {

void subdivideOnce(std::int32_t& vertexComponentCount, VertexArray& vertexArray,
                   std::int32_t& faceComponentCount, FaceIndexArray& faceIndexArray,
                   SlotPartners& partners, bool keepPartners) {
    const std::int32_t vertexCount = vertexComponentCount / 3;
    const std::int32_t faceCount = faceComponentCount / 3;
    const std::int64_t newFaceComponents = 12 * static_cast<std::int64_t>(faceCount);
    if (newFaceComponents > INT32_MAX) throw std::length_error("mesh too large");

    const std::int32_t* faces = faceIndexArray.get();
    const float* vertices = vertexArray.get();
    const std::int32_t slotCount = 3 * faceCount;
    Array<std::int32_t> edgeMidpointTable = allocateArray<std::int32_t>(slotCount);
    std::int32_t newVertexCount = 0;
    if (partners) {
        newVertexCount = assignPairedMidpoints(partners.get(), faceCount, vertexCount, edgeMidpointTable.get());
    } else {
        if (keepPartners) partners = allocateArray<std::int32_t>(slotCount);
        newVertexCount = assignEdgeMidpoints(faces, faceCount, vertexCount, edgeMidpointTable.get(), partners.get());
        if (partners && !partnersCarryOver(faces, faceCount, partners.get())) partners.reset();
    }
    const std::int64_t newVertexComponents =
        3 * (static_cast<std::int64_t>(vertexCount) + newVertexCount);
    if (newVertexComponents > INT32_MAX) throw std::length_error("mesh too large");
    // Partners are worth working out only for an iteration that can start.
    if (keepPartners && partners && newVertexComponents / 3 <= IterationVertexLimit) {
        SlotPartners refined = allocateArray<std::int32_t>(static_cast<std::size_t>(newFaceComponents));
        refinePartners(partners.get(), faceCount, refined.get());
        partners = std::move(refined);
    } else {
        partners.reset();
    }

    // Old vertices first, unchanged; then the midpoints in the order their
    // indices were handed out. Indices grow with slot order, so the slot that
    // introduces index k is the first slot, in order, that holds k.
    VertexArray refinedVertices = allocateArray<float>(static_cast<std::size_t>(newVertexComponents));
    if (vertexCount > 0) {
        std::memcpy(refinedVertices.get(), vertices, 3 * static_cast<std::size_t>(vertexCount) * sizeof(float));
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
    FaceIndexArray refinedFaces = allocateArray<std::int32_t>(static_cast<std::size_t>(newFaceComponents));
    std::int32_t* out = refinedFaces.get();
    for (std::int32_t f = 0; f < faceCount; ++f) {
        const std::int32_t a = faces[3 * f], b = faces[3 * f + 1], c = faces[3 * f + 2];
        const std::int32_t m0 = edgeMidpointTable[3 * f];
        const std::int32_t m1 = edgeMidpointTable[3 * f + 1];
        const std::int32_t m2 = edgeMidpointTable[3 * f + 2];
        const std::int32_t children[12] = {a, m0, m2, b, m1, m0, c, m2, m1, m0, m1, m2};
        std::memcpy(out + 12 * static_cast<std::size_t>(f), children, sizeof children);
    }

    vertexArray = std::move(refinedVertices);
    vertexComponentCount = static_cast<std::int32_t>(newVertexComponents);
    faceIndexArray = std::move(refinedFaces);
    faceComponentCount = static_cast<std::int32_t>(newFaceComponents);
}

std::int32_t subdivideMesh(std::int32_t iterations, std::int32_t& vertexComponentCount,
                           VertexArray& vertexArray, std::int32_t& faceComponentCount,
                           FaceIndexArray& faceIndexArray) {
    std::int32_t done = 0;
    SlotPartners partners;
    for (; done < iterations; ++done) {
        // The limit is checked before each iteration only, so the last one
        // may leave the mesh far above it.
        if (vertexComponentCount / 3 > IterationVertexLimit) break;
        subdivideOnce(vertexComponentCount, vertexArray, faceComponentCount, faceIndexArray, partners,
                      done + 1 < iterations);
    }
    return done;
}

}  // namespace stlrefine
