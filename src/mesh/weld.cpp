// Placeholder: every corner becomes its own vertex (replaced by the welding
// stage).
#include "mesh/mesh.h"

namespace stlrefine {

void weldVertices(const float* corners, std::int32_t cornerCount, VertexArray& vertexArray,
                  std::int32_t& vertexCount, FaceIndexArray& faceIndexArray,
                  std::int32_t& faceCount) {
    const std::int32_t n = cornerCount < 3 ? 0 : cornerCount;
    vertexCount = n;
    faceCount = n / 3;
    vertexArray = allocateArray<float>(3 * static_cast<std::size_t>(n));
    faceIndexArray = allocateArray<std::int32_t>(3 * static_cast<std::size_t>(faceCount));
    for (std::int32_t i = 0; i < 3 * n; ++i) vertexArray[i] = corners[i];
    for (std::int32_t i = 0; i < 3 * faceCount; ++i) faceIndexArray[i] = i;
}

}  // namespace stlrefine
