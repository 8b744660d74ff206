#include "support/library.h"

#include <dlfcn.h>

#include "support/files.h"

namespace testing_support {

const LoadedLibrary& library() {
    static const LoadedLibrary loaded = [] {
        LoadedLibrary lib;
        // Never closed: calls may still run on other threads at exit.
        if (void* handle = dlopen(STLREFINE_LIBRARY_PATH, RTLD_NOW | RTLD_LOCAL)) {
            lib.plain = reinterpret_cast<PlainFn>(dlsym(handle, "subdivision_noWeight"));
            lib.height = reinterpret_cast<HeightFn>(dlsym(handle, "subdivision_noWeight_heightDetect"));
        }
        return lib;
    }();
    return loaded;
}

int callLibrary(const std::filesystem::path& in, const std::filesystem::path& out, int iterations,
                const float* threshold) {
    const std::wstring wideIn = widePath(in), wideOut = widePath(out);
    return threshold ? library().height(wideIn.c_str(), wideOut.c_str(), iterations, *threshold)
                     : library().plain(wideIn.c_str(), wideOut.c_str(), iterations);
}

Call callCaptured(const std::filesystem::path& in, const std::filesystem::path& out, int iterations,
                  const float* threshold) {
    Call call;
    call.transcript = captureStdout([&] { call.result = callLibrary(in, out, iterations, threshold); });
    return call;
}

}  // namespace testing_support
