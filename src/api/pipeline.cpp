#include "api/pipeline.h"

#include <climits>
#include <stdexcept>
#include <string>

#include "common/console.h"
#include "mesh/mesh.h"
#include "stl/stl.h"
#include "subdivision/subdivision.h"

namespace stlrefine {

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
    std::unique_ptr<float[]> corners = allocateArray<float>(3 * points.size());
    for (std::size_t i = 0; i < points.size(); ++i) {
        corners[3 * i] = points[i].x;
        corners[3 * i + 1] = points[i].y;
        corners[3 * i + 2] = points[i].z;
    }
    StlPointList().swap(points);  // the list is not needed past this point

    printLine("start subdivision sorting");
    VertexArray vertexArray;
    FaceIndexArray faceIndexArray;
    std::int32_t vertexCount = 0;
    std::int32_t faceCount = 0;
    weldVertices(corners.get(), cornerCount, vertexArray, vertexCount, faceIndexArray, faceCount);
    corners.reset();
    printLine("subdivision sorting success!");
    printLine("total points before: ", vertexCount);
    printLine("total face before: ", faceCount);

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

    NormalArray normalArray;
    computeFaceNormals(vertexArray, faceIndexArray, faceCount, normalArray);
    const FacetCornerArray facetCorners = expandFacets(vertexArray, faceIndexArray, faceCount);
    vertexArray.reset();
    faceIndexArray.reset();

    printLine("start output ascii stl file...");
    path = outputPath ? std::wstring(outputPath) : std::wstring();
    writeAsciiStl(path, facetCorners.get(), 3 * faceCount, normalArray.get());
    printLine("output ascii stl file success");
    printLine("subdivision triangle done!!");
    return 1;
}

}  // namespace stlrefine
