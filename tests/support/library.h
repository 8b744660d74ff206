// The shared library as a host uses it: linked against the built library and
// called through its two exported C functions.
#pragma once

#include "stlrefine.h"
#include "support/files.h"

namespace testing_support {

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
inline constexpr bool Sanitized = true;
#else
inline constexpr bool Sanitized = false;
#endif

// One call of the plain export, or of the height-limited one with `threshold`.
inline int callLibrary(const std::filesystem::path& in, const std::filesystem::path& out, int iterations,
                       const float* threshold = nullptr) {
    const std::wstring wideIn = widePath(in), wideOut = widePath(out);
    return threshold ? subdivision_noWeight_heightDetect(wideIn.c_str(), wideOut.c_str(), iterations, *threshold)
                     : subdivision_noWeight(wideIn.c_str(), wideOut.c_str(), iterations);
}

}  // namespace testing_support
