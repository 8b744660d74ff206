// The library's whole public surface. Nothing may escape into the host: every
// exception ends the call with one line on standard output and result 0.
#include <exception>
#include <new>
#include <string>

#include "api/pipeline.h"
#include "common/console.h"
#include "stlrefine.h"

namespace {

int runGuarded(const wchar_t* inputPath, const wchar_t* outputPath, int iterations,
               const float* heightThreshold) noexcept {
    try {
        return stlrefine::runPipeline(inputPath, outputPath, iterations, heightThreshold);
    } catch (const std::bad_alloc&) {
        try {
            stlrefine::printLine("error: out of memory, mesh not refined");
        } catch (...) {
        }
    } catch (const std::exception& error) {
        try {
            stlrefine::printLine(std::string("error: ") + error.what() + ", mesh not refined");
        } catch (...) {
        }
    } catch (...) {
    }
    return 0;
}

}  // namespace

#if defined(_WIN32)
#include <windows.h>

// Nothing to set up or tear down: every call is self-contained.
BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID) { return TRUE; }
#endif

extern "C" {

STLREFINE_API int STLREFINE_CALL subdivision_noWeight(const wchar_t* inputPath,
                                                      const wchar_t* outputPath, int iterations) {
    return runGuarded(inputPath, outputPath, iterations, nullptr);
}

STLREFINE_API int STLREFINE_CALL subdivision_noWeight_heightDetect(const wchar_t* inputPath,
                                                                   const wchar_t* outputPath,
                                                                   int iterations,
                                                                   float heightThreshold) {
    return runGuarded(inputPath, outputPath, iterations, &heightThreshold);
}

}  // extern "C"
