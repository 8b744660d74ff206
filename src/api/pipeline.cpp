#include "api/pipeline.h"

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

const char* detectionLine(StlFormat format) {
    switch (format) {
        case StlFormat::Binary: return "it binary_stl !!";
        case StlFormat::Ascii: return "it ascii_stl";
        default: return "it not stl data...";
    }
}

void run(const RefineRequest& request, const Console& console, RefineReport& report) {
    platform::InputFile input;
    if (request.inputIsStandardInput ? !input.openStandardInput() : !input.open(request.inputPath)) {
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
        console.line("error: cannot read " + platform::displayPath(request.inputPath) + ": " + report.reason +
                     ", mesh not refined");
        return;
    }
    if (report.inputFormat == StlFormat::Binary) console.line("Read binary file success!");
    if (report.inputFormat == StlFormat::Ascii && asciiEndReached) console.line("Read ascii data success!");

    // A mesh beyond MaxMeshCount is refused rather than silently truncated;
    // every corner may become a vertex.
    if (points.size() / 3 > static_cast<std::size_t>(MaxMeshCount)) throw std::length_error("mesh too large");
    const auto cornerCount = static_cast<std::int32_t>(points.size() / 3);
    report.cornersRead = cornerCount;

    console.line("start subdivision sorting");
    Mesh mesh = weldVertices(points.data(), cornerCount);
    StlPointList().swap(points);  // the corners live on in the welded mesh
    console.line("subdivision sorting success!");
    console.line("total points before: ", mesh.vertexCount);
    console.line("total face before: ", mesh.faceCount);
    report.verticesIn = mesh.vertexCount;
    report.facetsIn = mesh.faceCount;
    if (request.reportMeshes) report.inputMesh = reportMesh(mesh);

    console.line("start doing subdivision...");
    std::vector<float> heights;
    if (request.heightThreshold) {
        report.iterationsRun =
            subdivideMeshHeightLimited(mesh, request.iterations, *request.heightThreshold, heights);
        report.stoppedByHeight = heights.size() > static_cast<std::size_t>(report.iterationsRun);
    } else {
        report.iterationsRun = subdivideMesh(mesh, request.iterations);
    }
    report.stoppedAtVertexLimit = report.iterationsRun < request.iterations && !report.stoppedByHeight;
    for (const float height : heights) console.line("-------max hight in triangles: ", height, "------");
    console.line("doing subdivision success!");
    console.line("total points after: ", mesh.vertexCount);
    console.line("total face after: ", mesh.faceCount);
    report.verticesOut = mesh.vertexCount;
    report.facetsOut = mesh.faceCount;
    if (request.reportMeshes) report.refinedMesh = reportRefinedMesh(mesh, *report.inputMesh);

    console.line("start output ascii stl file...");
    const platform::OutputFile::Mode mode = request.format == StlFormat::Ascii
                                                ? platform::OutputFile::Mode::Text
                                                : platform::OutputFile::Mode::Binary;
    platform::OutputFile output;
    const bool opened = request.outputIsStandardOutput
                            ? output.openStandardOutput(mode)
                            : output.open(request.outputPath, mode, request.pending);
    if (!opened) {
        // The caller learns this from the transcript (and the command line
        // from the report); the call itself still counts as done.
        console.line("- Error, unable open file to save");
        console.line("output ascii stl file success");
        console.line("subdivision triangle done!!");
        report.outcome = RefineOutcome::OutputNotOpened;
        report.reason = output.error();
        return;
    }
    if (!writeStl(output, request.format, mesh) || !output.commit()) {
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
    const Console console(request.progress, request.transcript);
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
