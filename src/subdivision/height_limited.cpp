// The iteration loop that refines only while some triangle is taller, along
// z, than a threshold.
#include <cstdint>

#include "subdivision/iteration.h"
#include "subdivision/subdivision.h"

namespace stlrefine {

namespace {

// A triangle's height is the largest of these and its corners' z minus the
// smallest: the bounds start here, not at the first corner, so a triangle
// wholly above 1000 (or below -1000) measures from that bound.
constexpr float HeightTopStart = -1000.0f;
constexpr float HeightBottomStart = 1000.0f;

// Height of every face in order, tracking the largest; stops after the first
// face taller than `threshold`. A NaN z or threshold fails every comparison,
// so it neither moves a bound nor counts as over the threshold.
bool anyFaceTallerThan(const Mesh& mesh, float threshold, float& runningMax) {
    const float* vertices = mesh.vertices.get();
    const std::int32_t* faces = mesh.faces.get();
    runningMax = 0.0f;
    for (std::int32_t f = 0; f < mesh.faceCount; ++f) {
        float top = HeightTopStart;
        float bottom = HeightBottomStart;
        for (int k = 0; k < 3; ++k) {
            const float z = vertices[3 * static_cast<std::size_t>(faces[3 * f + k]) + 2];
            if (z < bottom) bottom = z;
            if (z > top) top = z;
        }
        const float height = top - bottom;
        if (height > runningMax) runningMax = height;
        if (height > threshold) return true;
    }
    return false;
}

}  // namespace

std::int32_t subdivideMeshHeightLimited(Mesh& mesh, std::int32_t iterations, float heightThreshold,
                                        std::vector<float>& heights) {
    std::int32_t done = 0;
    SlotPartners partners;
    for (; done < iterations; ++done) {
        if (mesh.vertexCount > IterationVertexLimit) break;
        float tallest = 0.0f;
        const bool over = anyFaceTallerThan(mesh, heightThreshold, tallest);
        heights.push_back(tallest);
        if (!over) break;
        subdivideOnce(mesh, partners, done + 1 < iterations);
    }
    return done;
}

}  // namespace stlrefine
