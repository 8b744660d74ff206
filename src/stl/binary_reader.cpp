// Binary STL records: 50 bytes per facet (normal, three corners, attribute
// word), little-endian and not 4-byte aligned.
#include <algorithm>

#include "stl/little_endian.h"
#include "stl/stl.h"

namespace stlrefine {

std::size_t appendBinaryFacets(const unsigned char* records, std::size_t size, std::size_t maxCount,
                               StlPointList& corners) {
    const std::size_t count = std::min(size / BinaryRecordSize, maxCount);
    // Growing by whole blocks and writing into them writes each float once;
    // element-wise appends would test the capacity for every float.
    const std::size_t first = corners.size();
    corners.resize(first + 9 * count);
    float* out = corners.data() + first;
    for (std::size_t i = 0; i < count; ++i, records += BinaryRecordSize) {
        // Offsets 12..47 hold the three corners, x, y, z each.
        for (std::size_t k = 0; k < 9; ++k) *out++ = loadFloat32(records + 12 + 4 * k);
    }
    return count;
}

}  // namespace stlrefine
