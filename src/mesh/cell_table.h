// The spatial hash behind vertex welding.
//
// The result is that of a first-match scan over all stored vertices, found in
// expected linear time with a spatial hash. Why the hash finds every match:
//
// - A difference involving NaN or infinity is NaN or infinite and fails, so a
//   vertex with a non-finite coordinate never matches (it is not hashed) and a
//   corner with one needs no search.
// - Float subtraction is correctly rounded and rounding is monotone, so a
//   passing axis has an exact difference of at most the largest float <= 1e-6
//   plus half its ulp (2^-44); Reach covers that with room to spare.
// - Where |x| >= 32, two floats pass only when equal: neighbouring floats there
//   are 2^-18 apart, and any float below 32 in magnitude is at least 2^-19
//   (1.9e-6) away. (16 would not do: 16 - 2^-20 and 16 are 9.5e-7 apart.) Such
//   an axis is keyed by the value itself.
// - Below 32 an axis is cut into cells floor(x * 2^CoarseShift), exact in
//   double; -0 and 0 share a cell. A vertex is entered in every cell that its
//   box [x - Reach, x + Reach] touches (mostly one, near a cell edge two per
//   axis), so a corner looks into its own cell only: every vertex that can
//   match it is listed there.
// - Cell lists grow by appending new vertices, so they are in ascending index
//   order and the first match in the list is the lowest-index match overall.
// - Stored vertices (the first three apart) are pairwise more than 1e-6 apart
//   on some axis, so a cell can hold only so many of them; a cell that collects
//   more than DenseCellLimit (only contrived input packs points that tightly)
//   hands its vertices over to cells 2^-FineShift wide; the boxes that touch
//   such a cell span 5.8e-6, so it lists at most 6^3 + 3 vertices.
#pragma once

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <vector>

#include "common/hash.h"
#include "mesh/mesh.h"

namespace stlrefine::weld {

constexpr double Reach = WeldTolerance * (1.0 + 1.0 / 1024);
constexpr float LargeMagnitude = 32.0f;

constexpr int CoarseShift = 14;
constexpr int FineShift = 18;
constexpr double CoarseScale = double(1 << CoarseShift);
constexpr double FineScale = double(1 << FineShift);
constexpr std::int32_t FinePerCoarse = 1 << (FineShift - CoarseShift);
// Fine cell keys are offset so that they never equal a coarse cell key
// (|key| <= 2^19 + 1) or a large-value key (|key| >= 0x42000000).
constexpr std::int32_t FineOffset = 1 << 26;
static_assert(2 * Reach * CoarseScale < 1.0, "a box touches at most two coarse cells per axis");

// A cell with all three axes at |x| >= 32 holds only vertices at exactly one
// point, at most the first three corners, so it never becomes dense; its fine
// key would equal its coarse key.
constexpr std::int32_t DenseCellLimit = 32;

constexpr std::int32_t DenseCell = -2;
constexpr std::int32_t NoBlock = -1;
constexpr std::int32_t NoSlot = -1;

struct CellKey {
    std::int32_t axis[3];
};

inline bool operator==(const CellKey& a, const CellKey& b) {
    return a.axis[0] == b.axis[0] && a.axis[1] == b.axis[1] && a.axis[2] == b.axis[2];
}

// A vertex as a cell's block lists it: with its coordinates, so that scanning a cell
// reads consecutive memory only.
struct Record {
    float position[3];
    std::int32_t vertex;
};

// A cell, 32 bytes. The first vertex of a cell is kept inline, so that the
// common case (a corner matching the only vertex of its cell) reads one slot
// only.
struct Slot {
    CellKey key;
    std::int32_t vertex;  // lowest-index vertex of the cell, or DenseCell
    float position[3];    // coordinates of `vertex`
    std::int32_t block;   // the cell's further vertices (pool offset / 4), or NoBlock
};

// A cell's place in the hash table: 8 bytes, so that the table, the one
// structure read at random, spans a quarter of the pages that the cells do.
struct Entry {
    std::uint32_t check;  // low bits of the key's hash: other keys rarely share them
    std::int32_t slot;    // the cell's slot, or NoSlot
};

struct AxisRange {
    std::int32_t first;
    std::int32_t last;
};

inline bool axisPasses(float stored, float corner) { return std::fabs(stored - corner) <= WeldTolerance; }

inline bool matches(const float* stored, const float* corner) {
    return axisPasses(stored[0], corner[0]) && axisPasses(stored[1], corner[1]) &&
           axisPasses(stored[2], corner[2]);
}

// floor for |value| < 2^31.
inline std::int32_t floorToInt(double value) {
    const std::int32_t truncated = static_cast<std::int32_t>(value);
    return truncated - (value < truncated ? 1 : 0);
}

inline bool isLarge(float x) { return !(std::fabs(x) < LargeMagnitude); }

// Key of an axis where |x| >= 32: the magnitude's bits with the sign of x.
inline std::int32_t largeKey(float x) {
    const std::uint32_t bits = std::bit_cast<std::uint32_t>(x);
    const std::int32_t magnitude = static_cast<std::int32_t>(bits & 0x7fffffffu);
    return (bits >> 31) != 0 ? -magnitude : magnitude;
}

inline std::int32_t coarseAxisKey(float x) {
    return isLarge(x) ? largeKey(x) : floorToInt(double(x) * CoarseScale);
}

inline std::int32_t fineAxisKey(float x) {
    return isLarge(x) ? largeKey(x) : floorToInt(double(x) * FineScale) + FineOffset;
}

// Coarse cells that the box of a stored coordinate touches on one axis.
inline AxisRange coarseAxisRange(float x) {
    if (isLarge(x)) return {largeKey(x), largeKey(x)};
    return {floorToInt((double(x) - Reach) * CoarseScale), floorToInt((double(x) + Reach) * CoarseScale)};
}

// Fine cells inside coarse cell `coarse` that the box of x touches.
inline AxisRange fineAxisRange(float x, std::int32_t coarse) {
    if (isLarge(x)) return {coarse, coarse};
    const std::int32_t low = floorToInt((double(x) - Reach) * FineScale);
    const std::int32_t high = floorToInt((double(x) + Reach) * FineScale);
    const std::int32_t cellFirst = coarse * FinePerCoarse;
    const std::int32_t cellLast = cellFirst + FinePerCoarse - 1;
    return {std::max(low, cellFirst) + FineOffset, std::min(high, cellLast) + FineOffset};
}

// `seed` changes from call to call, so that no file can be made whose cells
// all collide (see common/hash.h).
inline std::uint64_t hashKey(const CellKey& key, std::uint64_t seed) {
    return hashTriple(std::uint32_t(key.axis[0]), std::uint32_t(key.axis[1]), std::uint32_t(key.axis[2]),
                      seed);
}

// Open addressing with linear probing over a power-of-two table of entries
// that point to the cells' slots, which lie in the order the cells were made
// (so the slots of the vertices a mesh adds one after another lie side by
// side in memory). A cell's further vertices lie in a block of the record
// pool: a header record whose `vertex` is the number of records that follow,
// then the records in index order. Blocks span 2^k records (k >= 2), move to
// twice the size when full, and released blocks are reused for the next block
// of their size.
class CellTable {
public:
    CellTable(std::size_t expectedCells, const float* positions)
        : positions_(positions), seed_(perCallHashSeed(positions)) {
        std::size_t capacity = 64;
        while (3 * capacity < 4 * expectedCells) capacity *= 2;
        resize(capacity);
        slots_.reserve(expectedCells);
    }

    // A corner's coarse cell and the cell's hash, computed ahead of the
    // search (any corner has them, a non-finite one too).
    struct Lookup {
        CellKey key;
        std::uint64_t hash;
    };
    Lookup lookupOf(const float* corner) const {
        const CellKey key = coarseKey(corner);
        return Lookup{key, hashKey(key, seed_)};
    }

    // Lowest-index stored vertex matching `corner`, whose coarse cell is
    // `lookup`, or -1.
    std::int32_t findMatch(const float* corner, const Lookup& lookup) const {
        std::int32_t s = entries_[find(lookup.key, lookup.hash)].slot;
        if (s != NoSlot && slots_[std::size_t(s)].vertex == DenseCell) s = slotOf(fineKey(corner));
        if (s == NoSlot) return -1;
        const Slot* slot = &slots_[std::size_t(s)];
        if (matches(slot->position, corner)) return slot->vertex;
        if (slot->block == NoBlock) return -1;
        const Record* record = &pool_[blockStart(slot->block)];
        const Record* end = record + 1 + record->vertex;
        for (++record; record != end; ++record) {
            if (matches(record->position, corner)) return record->vertex;
        }
        return -1;
    }

    // Enters `vertex` (finite, newer than every vertex entered so far) in
    // every cell its box touches.
    void addVertex(std::int32_t vertex) {
        const float* p = positions_ + 3 * std::size_t(vertex);
        const AxisRange rx = coarseAxisRange(p[0]);
        const AxisRange ry = coarseAxisRange(p[1]);
        const AxisRange rz = coarseAxisRange(p[2]);
        for (std::int32_t x = rx.first; x <= rx.last; ++x) {
            for (std::int32_t y = ry.first; y <= ry.last; ++y) {
                for (std::int32_t z = rz.first; z <= rz.last; ++z) {
                    addToCoarseCell(CellKey{{x, y, z}}, vertex);
                }
            }
        }
    }

    // The entry where the search for `lookup` begins, and the slot it
    // points to (or null).
    const Entry* firstEntry(const Lookup& lookup) const {
        return &entries_[static_cast<std::size_t>(lookup.hash >> shift_)];
    }
    const Slot* slotOfEntry(const Entry* entry) const {
        return entry->slot == NoSlot ? nullptr : &slots_[std::size_t(entry->slot)];
    }

private:
    static CellKey coarseKey(const float* p) {
        return CellKey{{coarseAxisKey(p[0]), coarseAxisKey(p[1]), coarseAxisKey(p[2])}};
    }

    static CellKey fineKey(const float* p) {
        return CellKey{{fineAxisKey(p[0]), fineAxisKey(p[1]), fineAxisKey(p[2])}};
    }

    // The entry of `key` (whose hash is `hash`), or the empty entry where it
    // belongs.
    std::size_t find(const CellKey& key, std::uint64_t hash) const {
        const auto check = static_cast<std::uint32_t>(hash);
        std::size_t i = static_cast<std::size_t>(hash >> shift_);
        for (;; i = (i + 1) & mask_) {
            const Entry& entry = entries_[i];
            if (entry.slot == NoSlot) return i;
            if (entry.check == check && slots_[std::size_t(entry.slot)].key == key) return i;
        }
    }

    // The slot of the cell `key`, or NoSlot.
    std::int32_t slotOf(const CellKey& key) const { return entries_[find(key, hashKey(key, seed_))].slot; }

    void addToCoarseCell(const CellKey& key, std::int32_t vertex) {
        const std::size_t i = addToCell(key, vertex);
        const Slot& slot = slots_[i];
        if (slot.vertex == DenseCell) {
            addToFineCells(key, vertex);
        } else if (slot.block != NoBlock && pool_[blockStart(slot.block)].vertex >= DenseCellLimit) {
            makeDense(i);
        }
    }

    void addToFineCells(const CellKey& coarse, std::int32_t vertex) {
        const float* p = positions_ + 3 * std::size_t(vertex);
        const AxisRange rx = fineAxisRange(p[0], coarse.axis[0]);
        const AxisRange ry = fineAxisRange(p[1], coarse.axis[1]);
        const AxisRange rz = fineAxisRange(p[2], coarse.axis[2]);
        for (std::int32_t x = rx.first; x <= rx.last; ++x) {
            for (std::int32_t y = ry.first; y <= ry.last; ++y) {
                for (std::int32_t z = rz.first; z <= rz.last; ++z) {
                    addToCell(CellKey{{x, y, z}}, vertex);
                }
            }
        }
    }

    // Moves the vertices of a crowded coarse cell into its fine cells, in
    // index order, so the fine lists stay ascending.
    void makeDense(std::size_t i) {
        scratch_.clear();
        scratch_.push_back(slots_[i].vertex);
        const std::size_t start = blockStart(slots_[i].block);
        const std::int32_t count = pool_[start].vertex;
        for (std::int32_t k = 1; k <= count; ++k) scratch_.push_back(pool_[start + std::size_t(k)].vertex);
        releaseBlock(start, blockSize(count));
        slots_[i].vertex = DenseCell;
        slots_[i].block = NoBlock;
        const CellKey key = slots_[i].key;
        for (const std::int32_t vertex : scratch_) addToFineCells(key, vertex);
    }

    // Appends `vertex` to the cell's list, creating the cell if needed, and
    // returns the cell's slot. A dense cell is left as it is.
    std::size_t addToCell(const CellKey& key, std::int32_t vertex) {
        if (4 * (slots_.size() + 1) > 3 * entries_.size()) resize(2 * entries_.size());
        const std::uint64_t hash = hashKey(key, seed_);
        Entry& entry = entries_[find(key, hash)];
        const float* p = positions_ + 3 * std::size_t(vertex);
        if (entry.slot == NoSlot) {
            entry = Entry{static_cast<std::uint32_t>(hash), static_cast<std::int32_t>(slots_.size())};
            slots_.push_back(Slot{key, vertex, {p[0], p[1], p[2]}, NoBlock});
            return slots_.size() - 1;
        }
        const auto i = static_cast<std::size_t>(entry.slot);
        Slot& slot = slots_[i];
        if (slot.vertex == DenseCell) return i;
        std::size_t start;
        std::int32_t count = 0;
        if (slot.block == NoBlock) {
            start = allocateBlock(MinBlockSize);
        } else {
            start = blockStart(slot.block);
            count = pool_[start].vertex;
            const std::size_t size = blockSize(count);
            if (std::size_t(count) + 1 == size) {
                // Full: move to a block twice the size.
                const std::size_t moved = allocateBlock(2 * size);
                std::copy_n(pool_.begin() + std::ptrdiff_t(start), size,
                            pool_.begin() + std::ptrdiff_t(moved));
                releaseBlock(start, size);
                start = moved;
            }
        }
        slot.block = static_cast<std::int32_t>(start / MinBlockSize);
        pool_[start].vertex = count + 1;
        pool_[start + std::size_t(count) + 1] = Record{{p[0], p[1], p[2]}, vertex};
        return i;
    }

    static constexpr std::size_t MinBlockSize = 4;

    static std::size_t blockStart(std::int32_t block) { return MinBlockSize * std::size_t(block); }

    // Records spanned by a block holding `count` records after its header.
    static std::size_t blockSize(std::int32_t count) {
        return std::max(MinBlockSize, std::bit_ceil(std::size_t(count) + 1));
    }

    std::size_t allocateBlock(std::size_t size) {
        std::vector<std::size_t>& free = freeBlocks_[std::countr_zero(size)];
        if (!free.empty()) {
            const std::size_t start = free.back();
            free.pop_back();
            return start;
        }
        const std::size_t start = pool_.size();
        pool_.resize(start + size);
        return start;
    }

    void releaseBlock(std::size_t start, std::size_t size) {
        freeBlocks_[std::countr_zero(size)].push_back(start);
    }

    void resize(std::size_t capacity) {
        entries_.assign(capacity, Entry{0, NoSlot});
        mask_ = capacity - 1;
        shift_ = 64 - std::countr_zero(capacity);
        for (std::size_t s = 0; s < slots_.size(); ++s) {
            const std::uint64_t hash = hashKey(slots_[s].key, seed_);
            entries_[find(slots_[s].key, hash)] =
                Entry{static_cast<std::uint32_t>(hash), static_cast<std::int32_t>(s)};
        }
    }

    const float* positions_;
    std::uint64_t seed_;
    GrowingArray<Entry> entries_;
    GrowingArray<Slot> slots_;
    GrowingArray<Record> pool_;
    std::vector<std::size_t> freeBlocks_[64];
    std::vector<std::int32_t> scratch_;
    std::size_t mask_ = 0;
    int shift_ = 0;
};

}  // namespace stlrefine::weld
