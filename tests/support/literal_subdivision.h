// Plain, literal subdivision: the quadratic partner scan over the later
// faces, with no index of edges. The fast stage is checked against it bit
// for bit.
#pragma once

#include "support/meshes.h"

namespace testing_support {

// One 1-to-4 iteration. Each unpaired slot p->q scans the later faces, in
// face then edge order, for the first unpaired slot q->p. A slot that finds
// none takes the earliest new vertex already made on the same two indices
// (either direction), or makes its own midpoint.
Mesh literalSubdivideOnce(const Mesh& mesh);

// Up to `iterations` iterations, each only on a mesh of at most 50000 vertices.
Mesh literalSubdivide(const Mesh& mesh, int iterations);

}  // namespace testing_support
