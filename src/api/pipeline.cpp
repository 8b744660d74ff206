#include "api/pipeline.h"

#include <climits>
#include <cstring>
#include <memory>
#include <stdexcept>
#include <string>

#include "common/console.h"
#include "mesh/mesh.h"
#include "stl/stl.h"
#include "subdivision/subdivision.h"

namespace stlrefine {

namespace {

// Turns the list into the flat corner array (x, y, z per corner) in the
// list's own storage, so that no second array of corners is allocated and
// filled: each point's coordinates move down over the `reserved` words before
// them. Corner i goes to byte 12i and point i lies at byte 16i, so no point is
// overwritten before it is moved. From here on the storage holds floats: the
// list is never read as points again, only reused as float storage or
// released.
float* flattenInPlace(StlPointList& points) {
    auto* bytes = reinterpret_cast<unsigned char*>(points.data());
    for (std::size_t i = 0; i < points.size(); ++i) {
        float xyz[3];
        std::memcpy(xyz, bytes + 16 * i, sizeof xyz);
        std::memcpy(bytes + 12 * i, xyz, sizeof xyz);
    }
    return reinterpret_cast<float*>(bytes);
}

}  // namespace

std::int32_t runPipeline(const wchar_t* inputPath, const wchar_t* outputPath,
                         std::int32_t iterations, const float* heightThreshold) {
    // A null path names no file: it fails to open like any missing file.
    std::wstring path = inputPath ? std::wstring(inputPath) : std::wstring();

    StlPointList points;
    if (readStlFile(points, path) == 0) return 0;

    // Counts travel as signed 32-bit integers; a mesh beyond that range is
    // refused rather than silently truncated.
    if (points.size() > static_cast<std::size_t>(INT32_MAX / 3)) {
        throw std::length_error("mesh too large");
    }
    const auto cornerCount = static_cast<std::int32_t>(points.size());
    float* const corners = flattenInPlace(points);

    printLine("start subdivision sorting");
    VertexArray vertexArray;
    FaceIndexArray faceIndexArray;
    std::int32_t vertexCount = 0;
    std::int32_t faceCount = 0;
    weldVertices(corners, cornerCount, vertexArray, vertexCount, faceIndexArray, faceCount);
    printLine("subdivision sorting success!");
    printLine("total points before: ", vertexCount);
    printLine("total face before: ", faceCount);

    // A mesh that an iteration refines outgrows the list's storage (see
    // below): release it before refining.
    if (iterations > 0 && vertexCount <= IterationVertexLimit) StlPointList().swap(points);

    vertexCount *= 3;
    faceCount *= 3;
    printLine("start doing subdivision...");
    if (heightThreshold) {
        subdivideMeshHeightLimited(iterations, vertexCount, vertexArray, faceCount, faceIndexArray,
                                   *heightThreshold);
    } else {
        subdivideMesh(iterations, vertexCount, vertexArray, faceCount, faceIndexArray);
    }
    vertexCount /= 3;
    faceCount /= 3;
    printLine("doing subdivision success!");
    printLine("total points after: ", vertexCount);
    printLine("total face after: ", faceCount);

    // The output arrays take 48 bytes per face, nine floats of corners and
    // three of normal: exactly the size of the list for the same faces. So
    // unless the mesh was refined, they go into the list's storage, whose
    // pages are already in memory, instead of into fresh ones. (The corners
    // in it were consumed by the welding.)
    const std::size_t faces = static_cast<std::size_t>(faceCount);
    std::unique_ptr<float[]> ownStorage;
    float* facetCorners;
    if (12 * faces * sizeof(float) <= points.capacity() * sizeof(StlPoint)) {
        facetCorners = reinterpret_cast<float*>(points.data());
    } else {
        StlPointList().swap(points);
        ownStorage = allocateArray<float>(12 * faces);
        facetCorners = ownStorage.get();
    }
    float* const normals = facetCorners + 9 * faces;
    computeFaceNormals(vertexArray.get(), faceIndexArray.get(), faceCount, normals);
    expandFacets(vertexArray.get(), faceIndexArray.get(), faceCount, facetCorners);
    vertexArray.reset();
    faceIndexArray.reset();

    printLine("start output ascii stl file...");
    path = outputPath ? std::wstring(outputPath) : std::wstring();
    writeAsciiStl(path, facetCorners, 3 * faceCount, normals);
    printLine("output ascii stl file success");
    printLine("subdivision triangle done!!");
    return 1;
}

}  // namespace stlrefine
