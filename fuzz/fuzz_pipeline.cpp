// The pipeline's stages in memory, as one call runs them, with fuzzed
// iterations (0 to 3, or below 1) and height thresholds (NaN, infinities,
// negatives, any bit pattern). Each result is checked in linear time:
// welding by the order and tolerance of its vertices, subdivision by undoing
// it iteration by iteration (every group of four faces one face split through
// its edge midpoints), each height test by measuring it again. The literal
// scans check welding and edge pairing exactly on small meshes. About one
// input in 64 also runs the whole call through files, whose report must tell
// what the stages did and whose output must hold exactly the refined facets.
//
// Input layout: byte 0 = iterations (bits 0-1) and flags, byte 1 = threshold
// choice, bytes 2-5 = threshold bits (when byte 1 chooses them), then the
// STL file's bytes. With the lattice flag the rest is not a file but corners
// near chosen points (cell boundaries, the tolerance, magnitude 32), three
// signed bytes each, which become a binary STL: random bytes rarely give
// corners within a millionth of each other, and these do all the time.
#include <unistd.h>

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <limits>
#include <optional>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "api/pipeline.h"
#include "fuzz_check.h"
#include "mesh/mesh.h"
#include "stl/stl.h"
#include "subdivision/subdivision.h"
#include "support/literal_subdivision.h"
#include "support/literal_weld.h"
#include "support/meshes.h"

namespace {

using stlrefine::WeldTolerance;
using testing_support::bitsOf, testing_support::facesOf, testing_support::Mesh;
using Faces = std::vector<std::int32_t>;

constexpr std::size_t ParameterBytes = 6;
// The literal scans are quadratic: they run only on meshes this small.
constexpr std::int32_t LiteralWeldCorners = 600;
constexpr std::int32_t LiteralSubdivisionFaces = 150;
// Iterations beyond the first that would make more faces are not asked for:
// each multiplies the work by four and runs the same code on a larger mesh.
constexpr std::int32_t MaxFaces = 4096;

// Flags in byte 0; bits 0-1 are the iterations.
enum Flags { HeightLimited = 0x04, ThroughFiles = 0x08, Lattice = 0x10, BinaryOut = 0x20, Negative = 0x40 };

bool sameBits(const float* a, const float* b, std::size_t n) {
    return n == 0 || std::memcmp(a, b, n * sizeof(float)) == 0;
}

float chooseThreshold(const std::uint8_t* p) {
    using limits = std::numeric_limits<float>;
    const float choices[] = {limits::quiet_NaN(),
                             -limits::quiet_NaN(),
                             limits::infinity(),
                             -limits::infinity(),
                             -1.0f,
                             -0.0f,
                             0.0f,
                             0.5f,
                             1.0f,
                             2.0f,
                             1e-6f,
                             1e30f,
                             limits::denorm_min(),
                             limits::max()};
    const std::array bits{p[2], p[3], p[4], p[5]};
    return p[1] < std::size(choices) ? choices[p[1]] : std::bit_cast<float>(bits);
}

// Corners base + offset * step, the bases and steps chosen by two bytes and
// the offsets signed bytes, as the binary STL of their whole facets.
std::vector<std::uint8_t> latticeStl(const std::uint8_t* data, std::size_t size) {
    const float bases[] = {0.0f,    0.5f,  1.0f,  0.25f + 1.0f / 16384, 16.0f, 32.0f, -32.0f, 31.999998f,
                           1000.0f, 1e-6f, -0.0f, 3.0f / 262144};
    const double steps[] = {1.0 / (1 << 21), 1.0 / (1 << 20), 1.0 / (1 << 22), 3e-7, 5e-7, 1e-6, 1.0,
                            1.0 / 16384};
    const auto facets = static_cast<std::uint32_t>(size < 2 ? 0 : (size - 2) / 9);
    std::vector<std::uint8_t> stl(84 + 50 * std::size_t{facets}, 0);
    std::memcpy(stl.data() + 80, &facets, sizeof facets);
    for (std::size_t k = 0; k < 9 * std::size_t{facets}; ++k) {
        const auto offset = static_cast<std::int8_t>(data[2 + k]);
        // Each axis has its own base: the first chosen, the others next to it.
        const float base = bases[(data[0] + k % 3) % std::size(bases)];
        const float value = static_cast<float>(base + offset * steps[data[1] % std::size(steps)]);
        std::memcpy(stl.data() + 84 + 50 * (k / 9) + 12 + 4 * (k % 9), &value, sizeof value);
    }
    return stl;
}

Mesh weld(const stlrefine::StlPointList& corners) {
    const auto cornerCount = static_cast<std::int32_t>(corners.size() / 3);
    Mesh mesh = stlrefine::weldVertices(corners.data(), cornerCount);
    const std::int32_t vertexCount = mesh.vertexCount, faceCount = mesh.faceCount;
    FUZZ_CHECK(faceCount == (cornerCount < 3 ? 0 : cornerCount / 3));
    FUZZ_CHECK(vertexCount >= 0 && vertexCount <= cornerCount);
    std::int32_t next = 0;  // the index the next new vertex gets
    for (std::size_t k = 0; k < 3 * std::size_t(faceCount); ++k) {
        const std::int32_t v = mesh.faces[k];
        FUZZ_CHECK(v >= 0 && v <= next && v < vertexCount && (k >= 3 || v == next));
        const bool made = v == next;
        next += made;
        for (std::size_t axis = 0; axis < 3; ++axis) {
            const float vertex = mesh.vertices[3 * v + axis], corner = corners[3 * k + axis];
            const float difference = vertex - corner;
            FUZZ_CHECK(made ? sameBits(&vertex, &corner, 1) : std::fabs(difference) <= WeldTolerance);
        }
    }
    // Corners after the last whole facet may make vertices of their own.
    FUZZ_CHECK(next <= vertexCount && vertexCount - next <= cornerCount - 3 * faceCount);
    if (cornerCount <= LiteralWeldCorners) {
        const Mesh literal = testing_support::literalWeld(corners.data(), cornerCount);
        FUZZ_CHECK(facesOf(literal) == facesOf(mesh) && bitsOf(literal) == bitsOf(mesh));
    }
    return mesh;
}

// Undoes one iteration of `faces`, whose vertices are the first
// `vertexCount` of `vertices`. Each group of four faces must be face (a, b, c)
// split as (a, m0, m2) (b, m1, m0) (c, m2, m1) (m0, m1, m2), m0 on edge a-b,
// m1 on b-c, m2 on c-a; new vertices are numbered in slot order from the old
// count on, each the float midpoint of the slot's edge that made it, and a
// later slot shares one only on the same two vertices. Returns the faces
// split and sets `vertexCount` to their vertex count.
Faces unsplit(const float* vertices, const Faces& faces, std::int32_t& vertexCount) {
    const std::int32_t first = faces.empty() ? vertexCount : faces[1];
    std::int32_t next = first;
    Faces parents;                                              // the faces split
    std::vector<std::pair<std::int32_t, std::int32_t>> madeOn;  // the edge of each new vertex
    for (std::size_t g = 0; g < faces.size(); g += 12) {
        const std::int32_t* f = &faces[g];
        const std::int32_t corner[3] = {f[0], f[3], f[6]}, mid[3] = {f[9], f[10], f[11]};
        FUZZ_CHECK(f[1] == mid[0] && f[2] == mid[2] && f[4] == mid[1] && f[5] == mid[0] && f[7] == mid[2] &&
                   f[8] == mid[1]);
        for (int e = 0; e < 3; ++e) {
            const std::int32_t p = corner[e], q = corner[(e + 1) % 3], m = mid[e];
            FUZZ_CHECK(p >= 0 && p < first && q >= 0 && q < first && m >= first && m <= next &&
                       m < vertexCount);
            const std::pair<std::int32_t, std::int32_t> edge = std::minmax(p, q);
            if (m < next) {
                FUZZ_CHECK(madeOn[std::size_t(m - first)] == edge);
                continue;
            }
            ++next;
            madeOn.push_back(edge);
            for (int axis = 0; axis < 3; ++axis) {
                const float midpoint = (vertices[3 * p + axis] + vertices[3 * q + axis]) * 0.5f;
                FUZZ_CHECK(sameBits(&midpoint, &vertices[3 * m + axis], 1));
            }
        }
        parents.insert(parents.end(), corner, corner + 3);
    }
    FUZZ_CHECK(next == vertexCount);
    vertexCount = first;
    return parents;
}

// The height test: each face's z extent, from bounds that start at 1000 and
// -1000, in face order up to the first face taller than the threshold;
// `largest` is the largest extent met (at least 0).
bool anyTaller(const float* vertices, const Faces& faces, float threshold, float& largest) {
    largest = 0;
    for (std::size_t f = 0; f < faces.size(); f += 3) {
        float top = -1000, bottom = 1000;
        for (std::size_t k = f; k < f + 3; ++k) {
            const float z = vertices[3 * static_cast<std::size_t>(faces[k]) + 2];
            if (z < bottom) bottom = z;
            if (z > top) top = z;
        }
        if (top - bottom > largest) largest = top - bottom;
        if (top - bottom > threshold) return true;
    }
    return false;
}

// One input's trip through the stages.
struct Run {
    std::int32_t iterations = 0;
    std::optional<float> threshold;  // the height-limited refinement when set
    stlrefine::StlFormat format = stlrefine::StlFormat::NotStl;
    stlrefine::StlPointList corners;
    Mesh welded, refined;
    std::int32_t ran = 0;  // iterations run
    std::vector<float> heights;
};

void subdivide(Run& run) {
    run.refined = testing_support::copyOf(run.welded);
    Mesh& mesh = run.refined;
    run.ran = run.threshold
                  ? stlrefine::subdivideMeshHeightLimited(mesh, run.iterations, *run.threshold, run.heights)
                  : stlrefine::subdivideMesh(mesh, run.iterations);
    const Mesh& welded = run.welded;
    const std::int32_t ran = run.ran;
    FUZZ_CHECK(ran >= 0 && ran <= std::max(run.iterations, 0));
    FUZZ_CHECK(mesh.faceCount == welded.faceCount << (2 * ran));
    FUZZ_CHECK(mesh.vertexCount >= welded.vertexCount &&
               sameBits(mesh.vertices.get(), welded.vertices.get(), 3 * std::size_t(welded.vertexCount)));

    // The faces and vertex count of every level, from the welded mesh on.
    std::vector<Faces> levels{facesOf(mesh)};
    std::vector<std::int32_t> counts{mesh.vertexCount};
    for (std::int32_t k = 0; k < ran; ++k) {
        counts.insert(counts.begin(), counts.front());
        levels.insert(levels.begin(), unsplit(mesh.vertices.get(), levels.front(), counts.front()));
    }
    FUZZ_CHECK(levels[0] == facesOf(welded) && counts[0] == welded.vertexCount);

    // An iteration starts below the vertex limit only and, height-limited,
    // after a test that met a taller face; a test that met none stops.
    for (std::int32_t k = 0; k < ran; ++k) FUZZ_CHECK(counts[k] <= stlrefine::IterationVertexLimit);
    const bool stoppedEarly = ran < run.iterations && counts[ran] <= stlrefine::IterationVertexLimit;
    FUZZ_CHECK(run.threshold || !stoppedEarly);
    FUZZ_CHECK(run.heights.size() == (run.threshold ? std::size_t(ran) + stoppedEarly : 0));
    for (std::size_t k = 0; k < run.heights.size(); ++k) {
        float largest;
        FUZZ_CHECK(anyTaller(mesh.vertices.get(), levels[k], *run.threshold, largest) ==
                   (k < std::size_t(ran)));
        FUZZ_CHECK(sameBits(&largest, &run.heights[k], 1));
    }

    // The refined mesh's report worked out from the welded one's is the counted one.
    FUZZ_CHECK(stlrefine::reportRefinedMesh(mesh, stlrefine::reportMesh(welded)) ==
               stlrefine::reportMesh(mesh));

    if (ran > 0 && levels[ran - 1].size() <= 3 * LiteralSubdivisionFaces) {
        const Mesh literal = testing_support::literalSubdivide(welded, ran);
        FUZZ_CHECK(facesOf(literal) == levels[ran] && bitsOf(literal) == bitsOf(mesh));
    }
}

// What a call writes for `mesh`: ASCII with every number as "%g" writes it,
// or after an 80-byte header the facet count and the records bit for bit.
std::string expectedOutput(const Mesh& mesh, bool binary) {
    const std::size_t faceCount = mesh.faceCount;
    std::vector<float> normals(3 * faceCount);
    stlrefine::computeFaceNormals(mesh.vertices.get(), mesh.faces.get(), mesh.faceCount, normals.data());
    const auto count = static_cast<std::uint32_t>(faceCount);
    std::string text = binary ? std::string(reinterpret_cast<const char*>(&count), 4) : "solid\n";
    for (std::size_t f = 0; f < faceCount; ++f) {
        float facet[12];  // the normal, then the corners
        std::memcpy(facet, &normals[3 * f], 3 * sizeof(float));
        for (std::size_t k = 0; k < 3; ++k) {
            std::memcpy(facet + 3 + 3 * k, &mesh.vertices[3 * mesh.faces[3 * f + k]], 3 * sizeof(float));
        }
        if (binary) {
            text.append(reinterpret_cast<const char*>(facet), sizeof facet).append(2, '\0');
            continue;
        }
        for (int line = 0; line < 4; ++line) {
            text += line == 0 ? "facet normal" : line == 1 ? "outer loop\nvertex" : "vertex";
            for (int i = 0; i < 3; ++i) {
                char number[32];
                std::snprintf(number, sizeof number, " %g", static_cast<double>(facet[3 * line + i]));
                text += number;
            }
            text += '\n';
        }
        text += "endloop\nendfacet\n";
    }
    return binary ? text : text + "endsolid";
}

void checkWholeCall(const Run& run, const std::vector<std::uint8_t>& stl, bool binary) {
    static const std::string stem =
        std::filesystem::temp_directory_path() / ("stlrefine-fuzz-" + std::to_string(getpid()));
    static const std::string in = stem + "-in.stl", out = stem + "-out.stl";
    std::ofstream(in, std::ios::binary)
        .write(reinterpret_cast<const char*>(stl.data()), std::streamsize(stl.size()));
    const std::wstring inPath(in.begin(), in.end()), outPath(out.begin(), out.end());
    const stlrefine::RefineReport report =
        stlrefine::refine({.inputPath = inPath,
                           .outputPath = outPath,
                           .iterations = run.iterations,
                           .heightThreshold = run.threshold,
                           .format = binary ? stlrefine::StlFormat::Binary : stlrefine::StlFormat::Ascii,
                           .progress = stlrefine::Console::Target::None});
    FUZZ_CHECK(report.outcome == stlrefine::RefineOutcome::Written && report.result() == 1);
    FUZZ_CHECK(report.inputFormat == run.format);
    FUZZ_CHECK(report.cornersRead == std::int64_t(run.corners.size() / 3));
    FUZZ_CHECK(report.facetsIn == run.welded.faceCount && report.facetsOut == run.refined.faceCount);
    FUZZ_CHECK(report.iterationsRun == run.ran);
    FUZZ_CHECK(report.stoppedByHeight == (run.heights.size() > std::size_t(run.ran)));
    std::ostringstream file;
    file << std::ifstream(out, std::ios::binary).rdbuf();
    const std::string written = file.str(), expected = expectedOutput(run.refined, binary);
    if (binary) {
        FUZZ_CHECK(written.size() >= 80 && written.compare(0, 5, "solid") != 0);
        FUZZ_CHECK(written.substr(80) == expected);
    } else {
        FUZZ_CHECK(written == expected);
    }
    std::remove(in.c_str());
    std::remove(out.c_str());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < ParameterBytes) return 0;
    Run run;
    run.iterations = (data[0] & Negative ? -1 : 1) * (data[0] & 3);
    if (data[0] & HeightLimited) run.threshold = chooseThreshold(data);
    const std::vector<std::uint8_t> stl = data[0] & Lattice
                                              ? latticeStl(data + ParameterBytes, size - ParameterBytes)
                                              : std::vector<std::uint8_t>(data + ParameterBytes, data + size);

    run.format = stlrefine::detectStlFormat(stl.data(), std::min<std::size_t>(stl.size(), 84), stl.size());
    if (run.format == stlrefine::StlFormat::Binary) {  // the size is exactly that of the declared facets
        stlrefine::appendBinaryFacets(stl.data() + 84, stl.size() - 84, SIZE_MAX, run.corners);
    } else if (run.format == stlrefine::StlFormat::Ascii) {
        stlrefine::parseAsciiStl(reinterpret_cast<const char*>(stl.data()), stl.size(), run.corners);
    }
    run.welded = weld(run.corners);
    while (run.iterations > 1 && run.welded.faceCount << 2 * run.iterations > MaxFaces) --run.iterations;
    subdivide(run);
    // Files cost far more than the stages: one flagged input in 32 takes that
    // path, chosen by its FNV-1a hash so that the fuzzer cannot make it many more.
    std::uint32_t hash = 2166136261u;
    for (std::size_t i = 0; i < size; ++i) hash = (hash ^ data[i]) * 16777619u;
    if ((data[0] & ThroughFiles) && hash % 32 == 0) checkWholeCall(run, stl, data[0] & BinaryOut);
    return 0;
}
