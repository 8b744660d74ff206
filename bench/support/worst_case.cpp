#include "support/worst_case.h"

#include <algorithm>
#include <cmath>
#include <random>
#include <utility>

namespace testing_support {

namespace {

constexpr double CellsPerUnit = 16384.0;     // welding's coarse cells are 2^-14 wide
constexpr double FineStep = 1.0 / 262144.0;  // 2^-18: the fine cells' width

std::vector<float> jitteredCorners(std::int32_t cornerCount, const float centre[3], double reach,
                                   std::uint32_t seed) {
    std::mt19937 random(seed);
    std::uniform_real_distribution<double> jitter(-reach, reach);
    std::vector<float> corners(3 * static_cast<std::size_t>(cornerCount));
    for (std::size_t i = 0; i < corners.size(); ++i) {
        corners[i] = static_cast<float>(centre[i % 3] + jitter(random));
    }
    return corners;
}

// The cell hash of the welding as it stood before its tables were seeded per
// call: with it fixed, these keys could be found offline.
std::uint64_t unseededCellHash(std::int32_t a, std::int32_t b, std::int32_t c) {
    std::uint64_t h = std::uint64_t(std::uint32_t(a)) * 0x9E3779B97F4A7C15ull;
    h ^= std::uint64_t(std::uint32_t(b)) * 0xC2B2AE3D27D4EB4Full;
    h ^= std::uint64_t(std::uint32_t(c)) * 0x165667B19E3779F9ull;
    h ^= h >> 29;
    return h * 0xBF58476D1CE4E5B9ull;
}

constexpr std::uint64_t FixedEdgeMultiplier = 0x9E3779B97F4A7C15ull;

// Every corner within the tolerance (1e-6 per axis) of one point.

WeldInput cornersNearOnePoint(std::int32_t cornerCount) {
    const float centre[3] = {0.3f, -0.7f, 0.11f};
    return {"near_one_point", jitteredCorners(cornerCount, centre, 1e-6, 11)};
}

// Every corner within 2e-6 of a point where cells of every size meet, so
// every vertex's box reaches into eight cells.
WeldInput cornersAroundCellCorner(std::int32_t cornerCount) {
    const float centre[3] = {0.5f, 0.5f, 0.5f};
    return {"around_cell_corner", jitteredCorners(cornerCount, centre, 2e-6, 12)};
}

// Corners on the plane x = 0.5 (a cell boundary) on a lattice 2^-18 apart,
// itself on cell boundaries: distinct vertices, each entered in several cells.
WeldInput cornersOnCellBoundaryPlane(std::int32_t cornerCount) {
    // Each lattice point is used by three corners, in random order.
    const std::int32_t pointCount = std::max(1, cornerCount / 3);
    const auto side = static_cast<std::int32_t>(std::ceil(std::sqrt(double(pointCount))));
    std::vector<std::int32_t> uses(static_cast<std::size_t>(cornerCount));
    for (std::size_t i = 0; i < uses.size(); ++i) uses[i] = static_cast<std::int32_t>(i) % pointCount;
    std::shuffle(uses.begin(), uses.end(), std::mt19937(13));
    WeldInput input{"cell_boundary_plane", {}};
    input.corners.reserve(3 * uses.size());
    for (const std::int32_t p : uses) {
        input.corners.push_back(0.5f);
        input.corners.push_back(static_cast<float>(0.25 + FineStep * (p % side)));
        input.corners.push_back(static_cast<float>(0.25 + FineStep * (p / side)));
    }
    return input;
}

WeldInput cornersCollidingInFixedHash(std::int32_t cornerCount) {
    // Cells of a lattice three cells apart, kept when their hash falls into
    // the first 1/16 of the table. Cell keys below 2^19 in magnitude are those
    // of coordinates below 32; a point at the centre of its cell lies in that
    // cell alone. One 64-bit draw gives the three lattice steps.
    std::mt19937_64 random(14);
    WeldInput input{"colliding_cells", {}};
    input.corners.reserve(3 * static_cast<std::size_t>(cornerCount));
    while (input.corners.size() < 3 * static_cast<std::size_t>(cornerCount)) {
        const std::uint64_t bits = random();
        std::int32_t key[3];
        for (int axis = 0; axis < 3; ++axis) {
            const auto step = static_cast<std::int32_t>((bits >> (20 * axis)) & 0x3FFFF);  // < 2^18
            key[axis] = 3 * (step - (1 << 17));
        }
        if ((unseededCellHash(key[0], key[1], key[2]) >> 60) != 0) continue;
        for (const std::int32_t k : key) {
            input.corners.push_back(static_cast<float>((k + 0.5) / CellsPerUnit));
        }
    }
    return input;
}

}  // namespace

std::vector<WeldInput> weldWorstCases(std::int32_t cornerCount) {
    std::vector<WeldInput> cases;
    cases.push_back(cornersNearOnePoint(cornerCount));
    cases.push_back(cornersAroundCellCorner(cornerCount));
    cases.push_back(cornersOnCellBoundaryPlane(cornerCount));
    cases.push_back(cornersCollidingInFixedHash(cornerCount));
    return cases;
}

namespace {

// Faces alternating in direction on the edge 0-1, third corners cycling.
SubdivisionInput facesOnOneEdge(std::int32_t faceCount) {
    constexpr std::int32_t Apexes = 4096;
    std::vector<float> vertices = {0, 0, 0, 1, 0, 0};
    for (std::int32_t i = 0; i < Apexes; ++i) {
        const double angle = 6.283185307179586 * i / Apexes;
        vertices.insert(vertices.end(), {0.5f, float(std::cos(angle)), float(std::sin(angle))});
    }
    std::vector<std::int32_t> faces;
    for (std::int32_t f = 0; f < faceCount; ++f) {
        const std::int32_t apex = 2 + f % Apexes;
        if (f % 2 == 0)
            faces.insert(faces.end(), {0, 1, apex});
        else
            faces.insert(faces.end(), {1, 0, apex});
    }
    return {"faces_on_one_edge", makeMesh(vertices, faces)};
}

// No slot ever finds a partner.
SubdivisionInput repeatedTriangle(std::int32_t faceCount) {
    std::vector<std::int32_t> faces;
    for (std::int32_t f = 0; f < faceCount; ++f) faces.insert(faces.end(), {0, 1, 2});
    return {"repeated_triangle", makeMesh({0, 0, 0, 1, 0, 0, 0, 1, 0}, faces)};
}

SubdivisionInput edgesCollidingInFixedHash(std::int32_t faceCount) {
    // The hash of edge {lo, hi} was the top bits of (hi * 2^32 + lo) * M.
    // For each hi, the lo whose lo * M falls into the right window are found
    // by a binary search over the sorted products.
    constexpr std::int32_t Vertices = 50000;
    constexpr std::uint64_t Window = std::uint64_t{1} << 55;  // first 1/512 of any table
    std::vector<std::pair<std::uint64_t, std::int32_t>> products;
    for (std::int32_t lo = 0; lo < Vertices; ++lo) {
        products.emplace_back(std::uint64_t(std::uint32_t(lo)) * FixedEdgeMultiplier, lo);
    }
    std::sort(products.begin(), products.end());
    std::vector<std::pair<std::int32_t, std::int32_t>> edges;
    for (std::int32_t hi = 1; hi < Vertices && std::int32_t(edges.size()) < faceCount; ++hi) {
        const std::uint64_t base = (std::uint64_t(std::uint32_t(hi)) << 32) * FixedEdgeMultiplier;
        const std::uint64_t from = 0 - base;  // lo * M in [from, from + Window), mod 2^64
        auto at = std::lower_bound(products.begin(), products.end(), std::make_pair(from, 0));
        for (std::uint64_t seen = 0; seen < products.size(); ++seen, ++at) {
            if (at == products.end()) at = products.begin();
            if (at->first - from >= Window) break;
            if (at->second < hi) edges.emplace_back(at->second, hi);
        }
    }
    std::vector<float> vertices;
    for (std::int32_t v = 0; v < Vertices; ++v) {
        vertices.insert(vertices.end(),
                        {static_cast<float>(v), static_cast<float>(v % 7), static_cast<float>(v % 13)});
    }
    std::vector<std::int32_t> faces;
    for (std::int32_t f = 0; f < faceCount; ++f) {
        const auto& [lo, hi] = edges[static_cast<std::size_t>(f) % edges.size()];
        faces.insert(faces.end(), {lo, hi, hi});
    }
    return {"colliding_edges", makeMesh(vertices, faces)};
}

}  // namespace

std::vector<SubdivisionInput> subdivisionWorstCases(std::int32_t faceCount) {
    std::vector<SubdivisionInput> cases;
    cases.push_back(facesOnOneEdge(faceCount));
    cases.push_back(repeatedTriangle(faceCount));
    cases.push_back(edgesCollidingInFixedHash(faceCount));
    return cases;
}

}  // namespace testing_support
