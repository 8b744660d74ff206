// The whole pipeline on small inputs, stage by stage as the exported calls
// run it, with fuzzed iterations (0 to 3, or below 1) and height thresholds
// (NaN, infinities, negatives, any bit pattern). After each stage the result
// is checked: welding against the literal scan, subdivision against an
// iteration-by-iteration replay (and the literal scan on small meshes), face
// count = 4^k x welded count for the k iterations that ran, every face index
// valid, and the written file parsing back to three corners per face. Now
// and then the same input also goes through the file-based pipeline, whose
// output must be byte for byte the same.
//
// Input layout: byte 0 = iterations (bits 0-1) and flags, byte 1 = threshold
// choice, bytes 2-5 = threshold bits (when byte 1 chooses them), then the
// STL file's bytes. With the lattice flag the rest is not a file but corners
// near chosen points (cell boundaries, the tolerance, magnitude 32), three
// signed bytes each, which become a binary STL: random bytes rarely give
// corners within a millionth of each other, and these do all the time.
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <limits>
#include <string>
#include <vector>

#include "api/pipeline.h"
#include "common/arrays.h"
#include "mesh/mesh.h"
#include "stl/stl.h"
#include "subdivision/subdivision.h"
#include "support/literal_subdivision.h"
#include "support/literal_weld.h"
#include "support/meshes.h"
#include "fuzz_check.h"

namespace {

using testing_support::Mesh;

constexpr std::size_t ParameterBytes = 6;
// The literal scans are quadratic: they run only on meshes this small.
constexpr std::int32_t LiteralWeldCorners = 3000;
constexpr std::int32_t LiteralSubdivisionFaces = 150;
// Files are written only for results this small, to keep runs fast.
constexpr std::int32_t WrittenFaces = 2000;

std::string inputPath, outputPath, pipelineOutputPath;

bool sameBits(const float* a, const float* b, std::size_t n) {
    return n == 0 || std::memcmp(a, b, n * sizeof(float)) == 0;
}

float chooseThreshold(const std::uint8_t* p) {
    const float choices[] = {std::numeric_limits<float>::quiet_NaN(),
                             -std::numeric_limits<float>::quiet_NaN(),
                             std::numeric_limits<float>::infinity(),
                             -std::numeric_limits<float>::infinity(),
                             -1.0f, -0.0f, 0.0f, 0.5f, 1.0f, 2.0f, 1e-6f, 1e30f,
                             std::numeric_limits<float>::denorm_min(),
                             std::numeric_limits<float>::max()};
    const std::size_t n = sizeof choices / sizeof choices[0];
    if (p[1] < n) return choices[p[1]];
    float bits;
    std::memcpy(&bits, p + 2, sizeof bits);
    return bits;
}

std::string readWholeFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary | std::ios::ate);
    std::string text(static_cast<std::size_t>(std::max<std::streamoff>(in.tellg(), 0)), '\0');
    in.seekg(0);
    in.read(text.data(), static_cast<std::streamsize>(text.size()));
    return text;
}

void writeWholeFile(const std::string& path, const std::uint8_t* data, std::size_t size) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
}

// Corners base + offset * step, the bases and steps chosen by two bytes and
// the offsets signed bytes, as the binary STL of their whole facets.
std::vector<std::uint8_t> latticeStl(const std::uint8_t* data, std::size_t size) {
    const float bases[] = {0.0f, 0.5f, 1.0f, 0.25f + 1.0f / 16384, 16.0f, 32.0f, -32.0f,
                           31.999998f, 1000.0f, 1e-6f, -0.0f, 3.0f / 262144};
    const double steps[] = {1.0 / (1 << 21), 1.0 / (1 << 20), 1.0 / (1 << 22), 3e-7, 5e-7,
                            1e-6, 1.0, 1.0 / 16384};
    std::vector<std::uint8_t> stl(84, 0);
    if (size < 2) return stl;
    const std::size_t baseCount = sizeof bases / sizeof bases[0];
    const double step = steps[data[1] % (sizeof steps / sizeof steps[0])];
    const std::size_t facets = (size - 2) / 9;
    for (std::size_t f = 0; f < facets; ++f) {
        std::uint8_t record[50] = {};
        for (int k = 0; k < 9; ++k) {
            const auto offset = static_cast<std::int8_t>(data[2 + 9 * f + static_cast<std::size_t>(k)]);
            // Each axis has its own base: the first chosen, the others next to it.
            const float base = bases[(data[0] + static_cast<std::size_t>(k % 3)) % baseCount];
            const float value = static_cast<float>(base + offset * step);
            std::memcpy(record + 12 + 4 * k, &value, sizeof value);
        }
        stl.insert(stl.end(), record, record + sizeof record);
    }
    const auto count = static_cast<std::uint32_t>(facets);
    std::memcpy(stl.data() + 80, &count, sizeof count);
    return stl;
}

// The reader's work on a byte buffer: classification, then the parser.
stlrefine::StlPointList readBytes(const std::uint8_t* data, std::size_t size) {
    stlrefine::StlPointList points;
    switch (stlrefine::classifyStl(data, size < 84 ? size : 84, size)) {
        case stlrefine::Binary: stlrefine::parseBinaryStl(data, size, points); break;
        case stlrefine::Ascii: stlrefine::parseAsciiStl(reinterpret_cast<const char*>(data), size, points); break;
        default: break;
    }
    return points;
}

Mesh weld(const std::vector<float>& corners) {
    const auto cornerCount = static_cast<std::int32_t>(corners.size() / 3);
    stlrefine::VertexArray vertices;
    stlrefine::FaceIndexArray faces;
    std::int32_t vertexCount = -1, faceCount = -1;
    stlrefine::weldVertices(corners.data(), cornerCount, vertices, vertexCount, faces, faceCount);
    FUZZ_CHECK(faceCount == (cornerCount < 3 ? 0 : cornerCount / 3));
    FUZZ_CHECK(vertexCount >= 0 && vertexCount <= cornerCount);
    Mesh mesh;
    mesh.vertices.assign(vertices.get(), vertices.get() + 3 * vertexCount);
    mesh.faces.assign(faces.get(), faces.get() + 3 * faceCount);
    if (faceCount > 0) {
        FUZZ_CHECK(mesh.faces[0] == 0 && mesh.faces[1] == 1 && mesh.faces[2] == 2);
    }
    for (std::size_t k = 0; k < mesh.faces.size(); ++k) {
        const std::int32_t v = mesh.faces[k];
        FUZZ_CHECK(v >= 0 && v < vertexCount);
        // A corner is its vertex, or within the tolerance of it on every axis.
        for (int axis = 0; axis < 3; ++axis) {
            const float stored = mesh.vertices[3 * v + axis], corner = corners[3 * k + axis];
            FUZZ_CHECK(sameBits(&stored, &corner, 1) || std::fabs(stored - corner) <= 1e-6);
        }
    }
    if (cornerCount <= LiteralWeldCorners) {
        const testing_support::WeldedMesh literal = testing_support::literalWeld(corners.data(), cornerCount);
        FUZZ_CHECK(literal.faces == mesh.faces);
        FUZZ_CHECK(literal.vertices.size() == mesh.vertices.size());
        FUZZ_CHECK(sameBits(literal.vertices.data(), mesh.vertices.data(), mesh.vertices.size()));
    }
    return mesh;
}

// Height test of one iteration, as the rule reads.
bool anyFaceTaller(const Mesh& mesh, float threshold) {
    for (std::int32_t f = 0; f < mesh.faceCount(); ++f) {
        float top = stlrefine::HeightTopStart, bottom = stlrefine::HeightBottomStart;
        for (int k = 0; k < 3; ++k) {
            const float z = mesh.vertices[3 * mesh.faces[3 * f + k] + 2];
            if (z < bottom) bottom = z;
            if (z > top) top = z;
        }
        if (top - bottom > threshold) return true;
    }
    return false;
}

Mesh subdivide(const Mesh& welded, std::int32_t iterations, bool heightLimited, float threshold) {
    const Mesh result = heightLimited
                            ? testing_support::stageSubdivideHeightLimited(welded, iterations, threshold)
                            : testing_support::stageSubdivide(welded, iterations);
    // Replay one iteration at a time, deciding each as the loop rules say.
    Mesh replay = welded;
    std::int32_t ran = 0;
    while (ran < iterations && replay.vertexCount() <= stlrefine::IterationVertexLimit &&
           (!heightLimited || anyFaceTaller(replay, threshold))) {
        replay = testing_support::stageSubdivide(replay, 1);
        ++ran;
    }
    FUZZ_CHECK(result.faces == replay.faces);
    FUZZ_CHECK(result.vertices.size() == replay.vertices.size());
    FUZZ_CHECK(sameBits(result.vertices.data(), replay.vertices.data(), replay.vertices.size()));

    FUZZ_CHECK(result.faces.size() == (welded.faces.size() << (2 * ran)));
    FUZZ_CHECK(sameBits(result.vertices.data(), welded.vertices.data(), welded.vertices.size()));
    for (const std::int32_t v : result.faces) FUZZ_CHECK(v >= 0 && v < result.vertexCount());

    if (ran > 0 && (welded.faceCount() << (2 * (ran - 1))) <= LiteralSubdivisionFaces) {
        std::string lines;
        const Mesh literal =
            heightLimited ? testing_support::literalSubdivideHeightLimited(welded, iterations, threshold, lines)
                          : testing_support::literalSubdivide(welded, iterations);
        FUZZ_CHECK(literal.faces == result.faces);
        FUZZ_CHECK(literal.vertices.size() == result.vertices.size());
        FUZZ_CHECK(sameBits(literal.vertices.data(), result.vertices.data(), result.vertices.size()));
    }
    return result;
}

// A number as written (six significant digits) and read back: NaN stays NaN,
// infinities and zeros keep their sign, the rest is within the rounding.
bool readsBackAs(float read, float written) {
    if (std::isnan(written)) return std::isnan(read);
    if (std::isinf(written) || written == 0) return sameBits(&read, &written, 1);
    return std::fabs(read - written) <= 1.1e-5 * std::fabs(written);
}

std::string writeAndCheck(const Mesh& mesh) {
    const std::int32_t faceCount = mesh.faceCount();
    stlrefine::VertexArray vertices = stlrefine::allocateArray<float>(mesh.vertices.size());
    stlrefine::FaceIndexArray faces = stlrefine::allocateArray<std::int32_t>(mesh.faces.size());
    std::copy(mesh.vertices.begin(), mesh.vertices.end(), vertices.get());
    std::copy(mesh.faces.begin(), mesh.faces.end(), faces.get());
    stlrefine::NormalArray normals;
    stlrefine::computeFaceNormals(vertices, faces, faceCount, normals);
    const stlrefine::FacetCornerArray facets = stlrefine::expandFacets(vertices, faces, faceCount);
    for (std::size_t k = 0; k < mesh.faces.size(); ++k) {
        FUZZ_CHECK(sameBits(facets.get() + 3 * k, mesh.vertices.data() + 3 * mesh.faces[k], 3));
    }

    std::wstring wide(outputPath.begin(), outputPath.end());
    stlrefine::writeAsciiStl(wide, facets.get(), 3 * faceCount, normals.get());
    const std::string text = readWholeFile(outputPath);
    FUZZ_CHECK(text.compare(0, 6, "solid\n") == 0);
    FUZZ_CHECK(text.size() >= 14 && text.compare(text.size() - 8, 8, "endsolid") == 0);
    std::size_t facetLines = 0;
    for (std::size_t at = text.find("facet normal"); at != std::string::npos;
         at = text.find("facet normal", at + 1)) {
        ++facetLines;
    }
    FUZZ_CHECK(facetLines == static_cast<std::size_t>(faceCount));

    stlrefine::StlPointList points;
    FUZZ_CHECK(stlrefine::parseAsciiStl(text.data(), text.size(), points));
    FUZZ_CHECK(points.size() == 3 * static_cast<std::size_t>(faceCount));
    for (std::size_t k = 0; k < points.size(); ++k) {
        const float* written = facets.get() + 3 * k;
        FUZZ_CHECK(readsBackAs(points[k].x, written[0]));
        FUZZ_CHECK(readsBackAs(points[k].y, written[1]));
        FUZZ_CHECK(readsBackAs(points[k].z, written[2]));
    }
    return text;
}

void removeTemporaryFiles() {
    for (const std::string* path : {&inputPath, &outputPath, &pipelineOutputPath}) {
        if (!path->empty()) std::remove(path->c_str());
    }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // The stages print progress lines; libFuzzer reports on stderr.
    const int null = ::open("/dev/null", O_WRONLY);
    if (null >= 0) {
        ::dup2(null, 1);
        ::close(null);
    }
    const char* tmp = std::getenv("TMPDIR");
    std::string dir = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : (tmp ? tmp : "/tmp");
    const std::string stem = dir + "/stlrefine-fuzz-" + std::to_string(::getpid());
    inputPath = stem + "-in.stl";
    outputPath = stem + "-out.stl";
    pipelineOutputPath = stem + "-pipeline.stl";
    std::atexit(removeTemporaryFiles);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < ParameterBytes) return 0;
    std::int32_t iterations = data[0] & 3;
    if (data[0] & 0x40) iterations = -iterations;
    const bool heightLimited = (data[0] & 0x04) != 0;
    const bool throughFiles = (data[0] & 0x08) != 0;
    const float threshold = chooseThreshold(data);
    const std::uint8_t* stl = data + ParameterBytes;
    std::size_t stlSize = size - ParameterBytes;
    std::vector<std::uint8_t> lattice;
    if (data[0] & 0x10) {
        lattice = latticeStl(stl, stlSize);
        stl = lattice.data();
        stlSize = lattice.size();
    }

    const stlrefine::StlPointList points = readBytes(stl, stlSize);
    std::vector<float> corners;
    for (const stlrefine::StlPoint& p : points) corners.insert(corners.end(), {p.x, p.y, p.z});
    const Mesh welded = weld(corners);
    const Mesh refined = subdivide(welded, iterations, heightLimited, threshold);
    if (refined.faceCount() > WrittenFaces) return 0;
    const std::string written = writeAndCheck(refined);

    if (throughFiles) {
        writeWholeFile(inputPath, stl, stlSize);
        const std::wstring in(inputPath.begin(), inputPath.end());
        const std::wstring out(pipelineOutputPath.begin(), pipelineOutputPath.end());
        const std::int32_t result =
            stlrefine::runPipeline(in.c_str(), out.c_str(), iterations, heightLimited ? &threshold : nullptr);
        FUZZ_CHECK(result == 1);
        FUZZ_CHECK(readWholeFile(pipelineOutputPath) == written);
    }
    return 0;
}
