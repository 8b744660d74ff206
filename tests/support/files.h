// Temporary files and captured standard output for tests.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace testing_support {

// A fresh directory, removed with everything in it when the object goes.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::filesystem::path& path() const { return path_; }
    std::filesystem::path operator/(const std::string& name) const { return path_ / name; }

private:
    std::filesystem::path path_;
};

void writeFile(const std::filesystem::path& path, const std::string& bytes);
std::string readFile(const std::filesystem::path& path);

// Everything `action` writes to file descriptor 1 (std::cout included).
std::string captureStdout(const std::function<void()>& action);

// A binary STL of the given facets (nine floats each: three corners), with a
// header and the stored normals and attribute words set to `filler`.
std::string binaryStl(const std::vector<float>& corners, unsigned char filler = 0);

// `file` with the facet count at bytes 80..83 replaced by `count`.
std::string withFacetCount(std::string file, std::uint32_t count);

// The lines of `text`, without their line feeds.
std::vector<std::string> lines(const std::string& text);

// The wide path of a filesystem path (as a host would pass it).
std::wstring widePath(const std::filesystem::path& path);

}  // namespace testing_support
