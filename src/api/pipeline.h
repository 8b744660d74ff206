// The fixed pipeline that both exported functions run.
#pragma once

#include <cstdint>

namespace stlrefine {

// Reads `inputPath`, welds, subdivides (height-limited when `heightThreshold`
// is given), computes normals and writes `outputPath`, printing the progress
// lines in between. Returns 1 when the input opened, 0 when it did not.
// Exceptions (memory exhaustion) propagate to the caller.
std::int32_t runPipeline(const wchar_t* inputPath, const wchar_t* outputPath,
                         std::int32_t iterations, const float* heightThreshold);

}  // namespace stlrefine
