// The shared library as a host uses it: loaded with dlopen, called through
// its two exported C functions.
#pragma once

#include <dlfcn.h>

#include "support/files.h"

namespace testing_support {

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
inline constexpr bool Sanitized = true;
#else
inline constexpr bool Sanitized = false;
#endif

struct LoadedLibrary {
    int (*plain)(const wchar_t*, const wchar_t*, int) = nullptr;
    int (*height)(const wchar_t*, const wchar_t*, int, float) = nullptr;
};

// The built shared library's exports, loaded once per process and never
// closed (calls may still run on other threads at exit); null pointers when it
// could not be loaded (dlerror() tells why).
inline const LoadedLibrary& library() {
    static const LoadedLibrary loaded = [] {
        LoadedLibrary lib;
        if (void* handle = dlopen(STLREFINE_LIBRARY_PATH, RTLD_NOW | RTLD_LOCAL)) {
            lib.plain = reinterpret_cast<decltype(lib.plain)>(dlsym(handle, "subdivision_noWeight"));
            lib.height = reinterpret_cast<decltype(lib.height)>(dlsym(handle, "subdivision_noWeight_heightDetect"));
        }
        return lib;
    }();
    return loaded;
}

// One call: the height-limited export when `threshold` is given.
inline int callLibrary(const std::filesystem::path& in, const std::filesystem::path& out, int iterations,
                       const float* threshold = nullptr) {
    const std::wstring wideIn = widePath(in), wideOut = widePath(out);
    return threshold ? library().height(wideIn.c_str(), wideOut.c_str(), iterations, *threshold)
                     : library().plain(wideIn.c_str(), wideOut.c_str(), iterations);
}

}  // namespace testing_support
