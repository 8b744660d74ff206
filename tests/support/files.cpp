#include "support/files.h"

#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <iostream>
#include <stdexcept>

namespace testing_support {

TempDir::TempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "stlrefine-test-XXXXXX").string();
    const char* made = mkdtemp(pattern.data());
    path_ = made ? made : throw std::runtime_error("cannot make " + pattern);
}

void writeFile(const std::filesystem::path& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

std::string readFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::string captureStdout(const std::function<void()>& action) {
    std::cout.flush();
    std::FILE* sink = std::tmpfile();
    const int saved = dup(1);
    dup2(fileno(sink), 1);
    action();
    std::cout.flush();
    dup2(saved, 1);
    close(saved);
    const std::string text = readFile("/proc/self/fd/" + std::to_string(fileno(sink)));
    std::fclose(sink);
    return text;
}

std::string binaryStl(const std::vector<float>& corners, unsigned char filler) {
    const auto count = static_cast<std::uint32_t>(corners.size() / 9);
    std::string bytes = std::string(80, char(filler)) + std::string(reinterpret_cast<const char*>(&count), 4);
    for (std::size_t f = 0; f < count; ++f) {
        bytes += std::string(12, char(filler)) + std::string(reinterpret_cast<const char*>(&corners[9 * f]), 36);
        bytes += std::string(2, char(filler));
    }
    return bytes;
}

std::wstring widePath(const std::filesystem::path& path) {
    const std::string bytes = path.string();
    std::wstring wide;
    for (std::size_t i = 0; i < bytes.size();) {
        const auto lead = static_cast<unsigned char>(bytes[i++]);
        const int extra = lead < 0x80 ? 0 : lead < 0xE0 ? 1 : lead < 0xF0 ? 2 : 3;
        auto c = static_cast<wchar_t>(extra == 0 ? lead : lead & (0x3F >> extra));
        for (int k = 0; k < extra && i < bytes.size(); ++k) c = (c << 6) | (bytes[i++] & 0x3F);
        wide.push_back(c);
    }
    return wide;
}

}  // namespace testing_support
