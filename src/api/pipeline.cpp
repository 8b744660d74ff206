#include "api/pipeline.h"

#include <algorithm>
#include <climits>
#include <exception>
#include <new>
#include <stdexcept>
#include <string>
#include <vector>

#include "api/console.h"
#include "mesh/mesh.h"
#include "platform/platform.h"
#include "subdivision/subdivision.h"

namespace stlrefine {

namespace {

// Faces per block on the way out: normals and corners of a block (48 bytes
// a face) stay in the cache between their computation and their text, and
// no array of the whole output is ever made.
constexpr std::int32_t FacesPerBlock = 1024;

const char* detectionLine(StlFormat format) {
    switch (format) {
        case StlFormat::Binary: return "it binary_stl !!";
        case StlFormat::Ascii: return "it ascii_stl";
        default: return "it not stl data...";
    }
}

// Computes the normals and corners of the final mesh block by block and
// hands them to the writer. False once a write has failed.
bool writeMesh(StlWriter& writer, const float* vertices, const std::int32_t* faces,
               std::int32_t faceCount) {
    std::vector<float> normals(3 * std::size_t{FacesPerBlock});
    std::vector<float> corners(9 * std::size_t{FacesPerBlock});
    for (std::int32_t first = 0; first < faceCount; first += FacesPerBlock) {
        const std::int32_t count = std::min(FacesPerBlock, faceCount - first);
        const std::int32_t* block = faces + 3 * static_cast<std::size_t>(first);
        computeFaceNormals(vertices, block, count, normals.data());
        expandFacets(vertices, block, count, corners.data());
        if (!writer.writeFacets(corners.data(), normals.data(), static_cast<std::size_t>(count))) {
            return false;
        }
    }
    return writer.finish();
}

void run(const RefineRequest& request, const Console& console, RefineReport& report) {
    platform::InputFile input;
    if (!input.open(request.inputPath)) {
        console.line("I/O fail");
        report.outcome = RefineOutcome::InputNotOpened;
        report.reason = input.error();
        return;
    }
    StlHead head;
    const bool detected = detectStlFile(input, head);
    if (detected) {
        report.inputFormat = head.format;
        console.line(detectionLine(head.format));
    }
    StlPointList points;
    const bool asciiEndReached = detected && parseStlFile(input, head, points);
    head = StlHead();  // a pipe's bytes are no longer needed
    input.close();
    if (input.failed()) {
        report.outcome = RefineOutcome::InputNotRead;
        report.reason = input.error();
        console.line("error: cannot read " + platform::displayPath(request.inputPath) + ": " +
                     report.reason + ", mesh not refined");
        return;
    }
    if (report.inputFormat == StlFormat::Binary) console.line("Read binary file success!");
    if (report.inputFormat == StlFormat::Ascii && asciiEndReached) console.line("Read ascii data success!");

    // Counts travel as signed 32-bit integers; a mesh beyond that range is
    // refused rather than silently truncated.
    if (points.size() / 3 > static_cast<std::size_t>(INT32_MAX / 3)) throw std::length_error("mesh too large");
    const auto cornerCount = static_cast<std::int32_t>(points.size() / 3);
    report.cornersRead = cornerCount;

    console.line("start subdivision sorting");
    VertexArray vertexArray;
    FaceIndexArray faceIndexArray;
    std::int32_t vertexCount = 0;
    std::int32_t faceCount = 0;
    weldVertices(points.data(), cornerCount, vertexArray, vertexCount, faceIndexArray, faceCount);
    StlPointList().swap(points);  // the corners live on in the welded mesh
    console.line("subdivision sorting success!");
    console.line("total points before: ", vertexCount);
    console.line("total face before: ", faceCount);
    report.facetsIn = faceCount;

    // The subdivision stages count components: three per vertex and per face.
    vertexCount *= 3;
    faceCount *= 3;
    console.line("start doing subdivision...");
    std::vector<float> heights;
    if (request.heightThreshold) {
        report.iterationsRun = subdivideMeshHeightLimited(request.iterations, vertexCount, vertexArray,
                                                          faceCount, faceIndexArray,
                                                          *request.heightThreshold, heights);
        report.stoppedByHeight = heights.size() > static_cast<std::size_t>(report.iterationsRun);
    } else {
        report.iterationsRun =
            subdivideMesh(request.iterations, vertexCount, vertexArray, faceCount, faceIndexArray);
    }
    report.stoppedAtVertexLimit = report.iterationsRun < request.iterations && !report.stoppedByHeight;
    for (const float height : heights) console.line("-------max hight in triangles: ", height, "------");
    vertexCount /= 3;
    faceCount /= 3;
    console.line("doing subdivision success!");
    console.line("total points after: ", vertexCount);
    console.line("total face after: ", faceCount);
    report.facetsOut = faceCount;

    console.line("start output ascii stl file...");
    const platform::OutputFile::Mode mode = request.format == StlFormat::Ascii
                                                ? platform::OutputFile::Mode::Text
                                                : platform::OutputFile::Mode::Binary;
    platform::OutputFile output;
    if (!output.open(request.outputPath, mode)) {
        // The caller learns this from the transcript (and the command line
        // from the report); the call itself still counts as done.
        console.line("- Error, unable open file to save");
        console.line("output ascii stl file success");
        console.line("subdivision triangle done!!");
        report.outcome = RefineOutcome::OutputNotOpened;
        report.reason = output.error();
        return;
    }
    StlWriter writer(output, request.format, static_cast<std::uint32_t>(faceCount));
    if (!writeMesh(writer, vertexArray.get(), faceIndexArray.get(), faceCount) || !output.commit()) {
        report.outcome = RefineOutcome::OutputNotWritten;
        report.reason = output.error();
        console.line("error: cannot write " + platform::displayPath(request.outputPath) + ": " +
                     report.reason + ", mesh not saved");
        return;
    }
    console.line("stl file: output success!!");
    console.line("output ascii stl file success");
    console.line("subdivision triangle done!!");
    report.outcome = RefineOutcome::Written;
}

}  // namespace

RefineReport refine(const RefineRequest& request) noexcept {
    RefineReport report;
    const Console console(request.printProgress);
    try {
        run(request, console, report);
        return report;
    } catch (const std::bad_alloc&) {
        report.reason = "out of memory";
    } catch (const std::exception& error) {
        try {
            report.reason = error.what();
        } catch (...) {
            report.reason = "out of memory";  // short enough to need no allocation
        }
    } catch (...) {
        report.reason = "unexpected failure";
    }
    // Whatever the call had opened is closed, and a partial output removed,
    // by the time the exception gets here.
    report.outcome = RefineOutcome::Failed;
    try {
        console.line("error: " + report.reason + ", mesh not refined");
    } catch (...) {
    }
    return report;
}

}  // namespace stlrefine
