// The fixed pipeline that both exported functions and the command-line tool
// run: read, weld, subdivide, normals, write.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "api/console.h"
#include "mesh/mesh_report.h"
#include "platform/platform.h"
#include "stl/stl.h"

namespace stlrefine {

// What one call is asked to do.
struct RefineRequest {
    std::wstring_view inputPath;
    std::wstring_view outputPath;
    std::int32_t iterations = 1;
    std::optional<float> heightThreshold;  // the height-limited refinement when set
    StlFormat format = StlFormat::Ascii;   // the exported functions write ASCII
    // Where the progress lines go: standard output for the exported functions.
    Console::Target progress = Console::Target::StandardOutput;
    std::string* transcript = nullptr;           // receives them for Console::Target::Transcript
    bool reportMeshes = false;                   // fill inputMesh and refinedMesh of the report
    platform::PendingOutput* pending = nullptr;  // kept up to date for a signal handler
    // The command line's "-": read the process's standard input, write the
    // mesh to its standard output (the paths then only name them in lines).
    bool inputIsStandardInput = false;
    bool outputIsStandardOutput = false;
};

enum class RefineOutcome {
    Written,           // the output holds the refined mesh
    InputNotOpened,    // "I/O fail"; the output is not touched
    InputNotRead,      // a read of the input failed; the output is not touched
    OutputNotOpened,   // "- Error, unable open file to save"; nothing created or replaced
    OutputNotWritten,  // a write, close or rename failed; the output keeps its old bytes
    Failed,            // out of memory, or a mesh too large for 32-bit counts
};

// What a call did, for the command-line tool's messages and exit status.
struct RefineReport {
    RefineOutcome outcome = RefineOutcome::Failed;
    std::string reason;  // why, when the outcome is not Written (the system's words)
    StlFormat inputFormat = StlFormat::NotStl;
    std::int64_t cornersRead = 0;  // corners the parser found
    std::int32_t verticesIn = 0;   // vertices of the welded mesh
    std::int32_t facetsIn = 0;     // faces of the welded mesh
    std::int32_t verticesOut = 0;  // vertices of the refined mesh
    std::int32_t facetsOut = 0;    // faces written
    std::int32_t iterationsRun = 0;
    bool stoppedAtVertexLimit = false;  // an iteration was refused: over IterationVertexLimit
    bool stoppedByHeight = false;       // a height test found no triangle taller than the threshold
    std::optional<MeshReport> inputMesh, refinedMesh;  // when asked for (reportMeshes)

    // The exported functions' result: 1 when the input opened and nothing
    // failed after (the output may still have been impossible to open).
    std::int32_t result() const {
        return outcome == RefineOutcome::Written || outcome == RefineOutcome::OutputNotOpened ? 1 : 0;
    }
};

// Runs the whole call and prints its progress lines. Never throws: running
// out of memory ends the call with one "error: " line, like every failure
// after the input was opened, and leaves no output behind.
RefineReport refine(const RefineRequest& request) noexcept;

}  // namespace stlrefine
