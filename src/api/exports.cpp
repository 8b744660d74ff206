// The library's whole public surface: two C functions over the pipeline.
#include <string_view>

#include "api/pipeline.h"
#include "stlrefine.h"

namespace {

int refineForHost(const wchar_t* inputPath, const wchar_t* outputPath, int iterations,
                  std::optional<float> heightThreshold) noexcept {
    // A null path names no file: it fails to open like any missing file.
    stlrefine::RefineRequest request;
    request.inputPath = inputPath ? std::wstring_view(inputPath) : std::wstring_view();
    request.outputPath = outputPath ? std::wstring_view(outputPath) : std::wstring_view();
    request.iterations = iterations;
    request.heightThreshold = heightThreshold;
    return stlrefine::refine(request).result();
}

}  // namespace

#if defined(_WIN32)
#  include <windows.h>

// Nothing to set up or tear down: every call is self-contained.
BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID) { return TRUE; }
#endif

extern "C" {

STLREFINE_API int STLREFINE_CALL subdivision_noWeight(const wchar_t* inputPath, const wchar_t* outputPath,
                                                      int iterations) {
    return refineForHost(inputPath, outputPath, iterations, std::nullopt);
}

STLREFINE_API int STLREFINE_CALL subdivision_noWeight_heightDetect(const wchar_t* inputPath,
                                                                   const wchar_t* outputPath, int iterations,
                                                                   float heightThreshold) {
    return refineForHost(inputPath, outputPath, iterations, heightThreshold);
}

}  // extern "C"
