// Placeholder: leaves the mesh unchanged (replaced by the subdivision stage).
#include "subdivision/subdivision.h"

namespace stlrefine {

void subdivideMesh(std::int32_t, std::int32_t&, VertexArray&, std::int32_t&, FaceIndexArray&) {}

void subdivideMeshHeightLimited(std::int32_t, std::int32_t&, VertexArray&, std::int32_t&,
                                FaceIndexArray&, float) {}

}  // namespace stlrefine
