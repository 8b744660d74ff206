// The shared library as a host uses it: loaded with dlopen, called through
// its two exported C functions.
#pragma once

#include <filesystem>
#include <string>

namespace testing_support {

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
inline constexpr bool Sanitized = true;
#else
inline constexpr bool Sanitized = false;
#endif

using PlainFn = int (*)(const wchar_t*, const wchar_t*, int);
using HeightFn = int (*)(const wchar_t*, const wchar_t*, int, float);

// The built shared library, loaded once per process. Null pointers when it
// could not be loaded (dlerror() tells why).
struct LoadedLibrary {
    PlainFn plain = nullptr;
    HeightFn height = nullptr;
};
const LoadedLibrary& library();

// One call: the height-limited export when `threshold` is given. Returns
// the result; standard output is left alone.
int callLibrary(const std::filesystem::path& in, const std::filesystem::path& out, int iterations,
                const float* threshold = nullptr);

struct Call {
    int result = -1;
    std::string transcript;  // everything the call printed
};
Call callCaptured(const std::filesystem::path& in, const std::filesystem::path& out, int iterations,
                  const float* threshold = nullptr);

}  // namespace testing_support
