// Building blocks of one subdivision iteration, shared by the plain and the
// height-limited loop.
#pragma once

#include <cstdint>

#include "mesh/mesh.h"

namespace stlrefine {

// Gives every edge slot 3f+e of the `faceCount` faces the index of the new
// vertex on its edge, in `edgeMidpointTable` (one entry per slot).
//
// Slots are visited in order. An unvisited slot p->q is paired with the first
// still unpaired slot q->p of a later face (face order, then edge order), and
// the pair gets the next new index. A slot that finds no partner (open
// boundary, neighbour running the same way, third face on an edge) takes the
// earliest new vertex made so far on the same two vertex indices, in either
// direction, or else gets the next new index itself. New indices start at
// `firstNewIndex` and are handed out in increasing slot order. Returns how
// many were handed out. Runs in time linear in `faceCount`, which must be at
// most MaxMeshCount / 4 (the largest face count an iteration accepts). When
// `partnerOf` is given, each slot's entry there is the slot it was paired
// with, or -1.
std::int32_t assignEdgeMidpoints(const std::int32_t* faceIndices, std::int32_t faceCount,
                                 std::int32_t firstNewIndex, std::int32_t* edgeMidpointTable,
                                 std::int32_t* partnerOf = nullptr);

// The partner of every slot, for meshes whose pairing is so simple that the
// next iteration can take its own from it instead of searching again: every
// slot p->q has p != q and a partner. Then the refined mesh is such a mesh
// too (see slot_partners.cpp). Empty otherwise.
using SlotPartners = Array<std::int32_t>;

// Whether the pairing `partnerOf` of the mesh (assignEdgeMidpoints') is that
// simple.
bool partnersCarryOver(const std::int32_t* faceIndices, std::int32_t faceCount,
                       const std::int32_t* partnerOf);

// assignEdgeMidpoints for a mesh whose slots come in pairs, from its
// SlotPartners: the same result without searching.
std::int32_t assignPairedMidpoints(const std::int32_t* partnerOf, std::int32_t faceCount,
                                   std::int32_t firstNewIndex, std::int32_t* edgeMidpointTable);

// The SlotPartners of the mesh that subdivideOnce makes from a mesh with
// SlotPartners `partnerOf` (12 * faceCount entries at `refinedPartnerOf`).
void refinePartners(const std::int32_t* partnerOf, std::int32_t faceCount, std::int32_t* refinedPartnerOf);

// Splits every face of `mesh` into four through its edge midpoints and
// replaces `mesh` by the refined mesh. Throws std::length_error("mesh too
// large") before allocating the result if a count of the result would be
// over MaxMeshCount. `partners` holds the SlotPartners of `mesh` when they
// are known (empty when not); on return, those of the refined mesh when
// `keepPartners` asks for them and they are known, else nothing.
void subdivideOnce(Mesh& mesh, SlotPartners& partners, bool keepPartners);

}  // namespace stlrefine
