// Temporary folders, whole files and captured standard output for tests.
#pragma once

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace testing_support {

// A fresh folder, removed with everything in it when the object goes.
class TempDir {
public:
    TempDir();
    ~TempDir() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    TempDir(const TempDir&) = delete;
    const std::filesystem::path& path() const { return path_; }
    std::filesystem::path operator/(const std::string& name) const { return path_ / name; }

private:
    std::filesystem::path path_;
};

void writeFile(const std::filesystem::path& path, const std::string& bytes);
std::string readFile(const std::filesystem::path& path);

// Everything `action` writes to file descriptor 1 (std::cout included).
std::string captureStdout(const std::function<void()>& action);

// A binary STL of the given facets (nine floats each: three corners), with the
// header, the stored normals and the attribute words filled with `filler`.
std::string binaryStl(const std::vector<float>& corners, unsigned char filler = 0);

// The path as a host passes it: the code points of its UTF-8 name, decoded
// here, not by the C library, whose conversion depends on the locale.
std::wstring widePath(const std::filesystem::path& path);

}  // namespace testing_support
