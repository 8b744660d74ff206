// Vertex welding: each corner takes the lowest-index stored vertex that lies
// within WeldTolerance of it on every axis, the difference taken in single
// precision, or becomes a new vertex. The first three corners always become
// vertices 0, 1 and 2.
//
// The cell table (cell_table.h) finds that match in expected linear time.
#include <cmath>
#include <cstdint>
#include <cstring>

#include "mesh/cell_table.h"
#include "mesh/mesh.h"

namespace stlrefine {

namespace {

using weld::CellTable;

// How far ahead (in corners) a corner's table entry is fetched; its slot is
// fetched half as far ahead. In tables of megabytes each is a cache and TLB
// miss, which the work on the corners in between hides.
constexpr std::size_t LookAhead = 16;

// Starts loading the cache line at `p`: a hint, it changes no result. The
// hint is given by the caller of firstEntry, not inside a member function: GCC
// may drop a call that is not inlined and whose only effect is a prefetch.
inline void prefetch(const void* p) {
#if defined(__GNUC__)
    __builtin_prefetch(p);
#else
    (void)p;
#endif
}

bool isFinite(const float* p) { return std::isfinite(p[0]) && std::isfinite(p[1]) && std::isfinite(p[2]); }

}  // namespace

Mesh weldVertices(const float* corners, std::int32_t cornerCount) {
    if (cornerCount < 3) {
        // No complete facet: an empty mesh, and no corner is read.
        return Mesh{allocateArray<float>(0), allocateArray<std::int32_t>(0), 0, 0};
    }
    const std::size_t count = static_cast<std::size_t>(cornerCount);
    const std::int32_t faceCount = cornerCount / 3;
    const std::size_t indexCount = 3 * static_cast<std::size_t>(faceCount);
    Array<std::int32_t> faces = allocateArray<std::int32_t>(indexCount);
    std::int32_t* indices = faces.get();

    // Room for every corner becoming a vertex; the pages that stay unused are
    // never touched.
    Array<float> positions = allocateArray<float>(3 * count);
    // A closed mesh has about one vertex per six corners.
    CellTable cells(count / 4, positions.get());
    std::int32_t nextVertex = 0;
    // Each corner's lookup is computed LookAhead corners before its turn
    // (corner j's in ahead[j % LookAhead]) and its table entry fetched; half
    // way there, the slot that entry points to, which has arrived by then.
    CellTable::Lookup ahead[LookAhead];
    for (std::size_t k = 0; k < count; ++k) {
        const float* corner = corners + 3 * k;
        const std::size_t own = k % LookAhead;
        const CellTable::Lookup lookup = k >= LookAhead ? ahead[own] : cells.lookupOf(corner);
        if (k >= LookAhead / 2 && k + LookAhead / 2 < count) {
            prefetch(cells.slotOfEntry(cells.firstEntry(ahead[(k + LookAhead / 2) % LookAhead])));
        }
        if (k + LookAhead < count) {
            ahead[own] = cells.lookupOf(corner + 3 * LookAhead);
            prefetch(cells.firstEntry(ahead[own]));
        }
        const bool finite = isFinite(corner);
        std::int32_t index = -1;
        if (k >= 3 && finite) index = cells.findMatch(corner, lookup);
        if (index < 0) {
            index = nextVertex++;
            std::memcpy(positions.get() + 3 * std::size_t(index), corner, 3 * sizeof(float));
            if (finite) cells.addVertex(index);
        }
        if (k < indexCount) indices[k] = index;
    }

    if (std::size_t(nextVertex) < count) {
        Array<float> vertices = allocateArray<float>(3 * std::size_t(nextVertex));
        std::memcpy(vertices.get(), positions.get(), 3 * std::size_t(nextVertex) * sizeof(float));
        positions = std::move(vertices);
    }
    return Mesh{std::move(positions), std::move(faces), nextVertex, faceCount};
}

}  // namespace stlrefine
