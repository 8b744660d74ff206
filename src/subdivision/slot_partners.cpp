// Edge pairing carried from one iteration to the next.
//
// Take a mesh whose every slot p->q has p != q and a partner, and refine it.
// The children's slots are of two kinds:
// - halves of a parent slot, p->m and m->q, where m is the new vertex of the
//   parent slot and its partner q->p and of no other slot. So the edge
//   {p, m} has exactly two slots, p->m and the partner's m->p, in different
//   faces; and so has {m, q}.
// - inner edges, between the new vertices of two edges of one parent face,
//   held by a corner child and the middle child, running opposite ways. A
//   parent face that shares both edges gives the same inner edge two more
//   slots, but in its own block of four children. In slot order the corner
//   child's slot finds the middle child's of its own block first: earlier
//   blocks lie in earlier faces and have paired their own slots already,
//   later ones come after.
// So a search on the refined mesh pairs every slot with the one worked out
// here; each has a partner, and no edge has equal ends (an old vertex and a
// new one, or the new vertices of two different pairs). The refined mesh is
// such a mesh again, and each pair's new vertex is numbered at its first
// slot: no search is needed, in this iteration or any later one.
#include "subdivision/iteration.h"

namespace stlrefine {

namespace {

// Where the halves of parent slot 3f+e lie among the children of face f:
// p->m is slot 0 of child e, m->q is slot 2 of child e + 1 (see
// subdivideOnce for the children's corners).
std::int32_t firstHalf(std::int32_t slot) {
    const std::int32_t e = slot % 3;
    return 4 * (slot - e) + 3 * e;
}

std::int32_t secondHalf(std::int32_t slot) {
    const std::int32_t e = slot % 3;
    return 4 * (slot - e) + 3 * (e == 2 ? 0 : e + 1) + 2;
}

}  // namespace

bool partnersCarryOver(const std::int32_t* faceIndices, std::int32_t faceCount,
                       const std::int32_t* partnerOf) {
    for (std::int32_t s = 0; s < 3 * faceCount; ++s) {
        if (partnerOf[s] < 0 || faceIndices[s] == faceIndices[s % 3 == 2 ? s - 2 : s + 1]) return false;
    }
    return true;
}

std::int32_t assignPairedMidpoints(const std::int32_t* partnerOf, std::int32_t faceCount,
                                   std::int32_t firstNewIndex, std::int32_t* edgeMidpointTable) {
    std::int32_t nextIndex = firstNewIndex;
    for (std::int32_t s = 0; s < 3 * faceCount; ++s) {
        const std::int32_t t = partnerOf[s];
        edgeMidpointTable[s] = t > s ? nextIndex++ : edgeMidpointTable[t];
    }
    return nextIndex - firstNewIndex;
}

void refinePartners(const std::int32_t* partnerOf, std::int32_t faceCount, std::int32_t* refinedPartnerOf) {
    for (std::int32_t s = 0; s < 3 * faceCount; ++s) {
        const std::int32_t t = partnerOf[s];
        refinedPartnerOf[firstHalf(s)] = secondHalf(t);
        refinedPartnerOf[secondHalf(s)] = firstHalf(t);
    }
    // Inner edges: slot 1 of each corner child and a slot of the middle
    // child (12f + 9 + k holds the slot from new vertex k to new vertex k + 1).
    for (std::int32_t f = 0; f < faceCount; ++f) {
        const std::int32_t c = 12 * f;
        const std::int32_t pairs[3][2] = {{c + 1, c + 11}, {c + 4, c + 9}, {c + 7, c + 10}};
        for (const auto& pair : pairs) {
            refinedPartnerOf[pair[0]] = pair[1];
            refinedPartnerOf[pair[1]] = pair[0];
        }
    }
}

}  // namespace stlrefine
