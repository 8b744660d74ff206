// Edge pairing of one subdivision iteration.
//
// Each unpaired slot p->q takes the first unpaired q->p slot of a later face,
// in face order and then edge order. Searching the later faces is quadratic, so
// the slots are grouped by directed edge instead, each group a list in slot
// order. Candidates for a slot p->q can only come from the group q->p, and a
// cursor per group skips entries that can never be a partner again: paired
// ones, and ones whose face is not after the current face (the scan's face
// only grows). Every group entry is skipped at most once, so the whole
// pairing is linear in the number of slots whatever the mesh looks like:
// fans of faces on one edge, repeated or flipped faces, degenerate edges.
#include <bit>
#include <cstddef>
#include <cstdint>

#include "common/hash.h"
#include "subdivision/iteration.h"

namespace stlrefine {

namespace {

// Open-addressing table from an undirected edge {lo, hi} to a dense id.
struct EdgeEntry {
    std::uint32_t lo;
    std::uint32_t hi;
    std::int32_t id;  // -1: empty
};

class EdgeIndex {
public:
    // A closed mesh has one edge per two slots: the table starts with room
    // for that many at a load of at most two thirds, and doubles when more
    // edges come (open or torn meshes have up to one per slot).
    EdgeIndex(std::size_t slotCount, std::uint64_t seed) : multiplier_(seed | 1) {
        std::size_t capacity = 16;
        while (capacity < (slotCount / 2) * 3 / 2) capacity *= 2;
        resize(capacity);
    }

    // The id of edge {lo, hi}, a new one if the edge is not in the table yet.
    std::int32_t idOf(std::uint32_t lo, std::uint32_t hi) {
        EdgeEntry& entry = find(lo, hi);
        if (entry.id >= 0) return entry.id;
        entry = EdgeEntry{lo, hi, count_++};
        if (static_cast<std::size_t>(count_) > (mask_ + 1) / 3 * 2) resize(2 * (mask_ + 1));
        return count_ - 1;
    }

    std::int32_t count() const { return count_; }

private:
    // The entry of edge {lo, hi}, or the empty entry where it would go.
    EdgeEntry& find(std::uint32_t lo, std::uint32_t hi) {
        const std::uint64_t key = (static_cast<std::uint64_t>(hi) << 32) | lo;
        // Multiply-shift hashing with a multiplier drawn for each call, so
        // that no mesh can be made whose edges all collide (see
        // common/hash.h).
        std::size_t slot = static_cast<std::size_t>((key * multiplier_) >> shift_);
        for (;;) {
            EdgeEntry& entry = entries_[slot];
            if (entry.id < 0 || (entry.lo == lo && entry.hi == hi)) return entry;
            slot = (slot + 1) & mask_;
        }
    }

    void resize(std::size_t capacity) {
        Array<EdgeEntry> old = std::move(entries_);
        const std::size_t oldCapacity = old ? mask_ + 1 : 0;
        entries_ = allocateArray<EdgeEntry>(capacity);
        for (std::size_t i = 0; i < capacity; ++i) entries_[i].id = -1;
        mask_ = capacity - 1;
        shift_ = 64 - std::countr_zero(capacity);
        for (std::size_t i = 0; i < oldCapacity; ++i) {
            if (old[i].id >= 0) find(old[i].lo, old[i].hi) = old[i];
        }
    }

    Array<EdgeEntry> entries_;
    std::uint64_t multiplier_;
    std::size_t mask_ = 0;
    int shift_ = 64;
    std::int32_t count_ = 0;
};

// Writes the directed group of every slot: 2 * id of its undirected edge,
// plus 1 when the edge runs from the larger index to the smaller. The reverse
// group is then the other parity, except for an edge p->p, which is its own
// reverse. Returns the number of undirected edges.
std::int32_t groupSlotsByEdge(const std::int32_t* faceIndices, std::int32_t slotCount,
                              std::int32_t* groupOf) {
    EdgeIndex index(static_cast<std::size_t>(slotCount), perCallHashSeed(groupOf));
    for (std::int32_t s = 0; s < slotCount; s += 3) {
        const std::int32_t corners[3] = {faceIndices[s], faceIndices[s + 1], faceIndices[s + 2]};
        for (int e = 0; e < 3; ++e) {
            const auto p = static_cast<std::uint32_t>(corners[e]);
            const auto q = static_cast<std::uint32_t>(corners[e == 2 ? 0 : e + 1]);
            const std::int32_t id = p < q ? index.idOf(p, q) : index.idOf(q, p);
            groupOf[s + e] = 2 * id + (p > q ? 1 : 0);
        }
    }
    return index.count();
}

}  // namespace

std::int32_t assignEdgeMidpoints(const std::int32_t* faceIndices, std::int32_t faceCount,
                                 std::int32_t firstNewIndex, std::int32_t* edgeMidpointTable,
                                 std::int32_t* partnerOf) {
    if (faceCount <= 0) return 0;
    const std::int32_t slotCount = 3 * faceCount;

    Array<std::int32_t> groupOf = allocateArray<std::int32_t>(slotCount);
    const std::int32_t edgeCount = groupSlotsByEdge(faceIndices, slotCount, groupOf.get());

    // Group lists in slot order, built back to front: the head of a group,
    // which doubles as its cursor, and a next link per slot.
    const std::size_t groupCount = 2 * static_cast<std::size_t>(edgeCount);
    Array<std::int32_t> head = allocateArray<std::int32_t>(groupCount);
    for (std::size_t g = 0; g < groupCount; ++g) head[g] = -1;
    Array<std::int32_t> next = allocateArray<std::int32_t>(slotCount);
    for (std::int32_t s = slotCount - 1; s >= 0; --s) {
        next[s] = head[groupOf[s]];
        head[groupOf[s]] = s;
        edgeMidpointTable[s] = -1;
    }

    // The earliest new vertex on each undirected edge, for slots without a
    // partner.
    Array<std::int32_t> earliest = allocateArray<std::int32_t>(edgeCount);
    for (std::int32_t u = 0; u < edgeCount; ++u) earliest[u] = -1;

    std::int32_t nextIndex = firstNewIndex;
    for (std::int32_t s = 0; s < slotCount; ++s) {
        if (edgeMidpointTable[s] != -1) continue;  // paired by an earlier slot
        const std::int32_t e = s % 3;
        const std::int32_t lastSlotOfFace = s - e + 2;
        const std::int32_t p = faceIndices[s];
        const std::int32_t q = faceIndices[e == 2 ? s - 2 : s + 1];
        const std::int32_t group = groupOf[s];
        const std::int32_t reverse = p == q ? group : group ^ 1;

        std::int32_t t = head[reverse];
        while (t != -1 && (t <= lastSlotOfFace || edgeMidpointTable[t] != -1)) t = next[t];
        head[reverse] = t;

        std::int32_t& first = earliest[group >> 1];
        if (partnerOf != nullptr) {
            partnerOf[s] = t;
            if (t != -1) partnerOf[t] = s;
        }
        if (t != -1) {
            edgeMidpointTable[s] = nextIndex;
            edgeMidpointTable[t] = nextIndex;
            if (first == -1) first = nextIndex;
            ++nextIndex;
        } else if (first != -1) {
            edgeMidpointTable[s] = first;
        } else {
            edgeMidpointTable[s] = nextIndex;
            first = nextIndex;
            ++nextIndex;
        }
    }
    return nextIndex - firstNewIndex;
}

}  // namespace stlrefine
