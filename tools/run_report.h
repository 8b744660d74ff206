// The command line's account of one file's run: the --stats lines and the
// --json object.
#pragma once
#include <cstdint>
#include <optional>
#include <string>

#include "api/pipeline.h"
namespace stlrefine::cli {
// One file's run, as the command line saw it.
struct FileRun {
    std::string input;                 // as shown in messages ("-" for standard input)
    std::string output;                // likewise ("-" for standard output)
    int exitStatus = 0;                // the CLI's exit status for this file (0..4)
    std::int32_t iterationsAsked = 1;  // -1: no limit (--max-height without -n)
    std::optional<float> maxHeight;
    double seconds = 0;  // wall time of the call
    RefineReport report;
};
// The --stats lines for standard error (each "stlrefine: ...\n"), for the input and the refined mesh;
// empty when the report holds no mesh figures.
std::string statsText(const FileRun& run);
// One JSON object and a line feed (JSON Lines) for --json; `withStats` adds the mesh figures.
std::string jsonLine(const FileRun& run, bool withStats);
}  // namespace stlrefine::cli
