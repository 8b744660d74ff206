#include "support/files.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <random>
#include <sstream>
#include <stdexcept>

namespace testing_support {

TempDir::TempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "stlrefine-test-XXXXXX").string();
    if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
    path_ = pattern;
}

TempDir::~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

void writeFile(const std::filesystem::path& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!out) throw std::runtime_error("cannot write " + path.string());
}

std::string readFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

std::string captureStdout(const std::function<void()>& action) {
    std::cout.flush();
    std::fflush(stdout);
    std::FILE* sink = std::tmpfile();
    if (!sink) throw std::runtime_error("tmpfile failed");
    const int saved = dup(1);
    dup2(fileno(sink), 1);
    try {
        action();
    } catch (...) {
        std::cout.flush();
        dup2(saved, 1);
        close(saved);
        std::fclose(sink);
        throw;
    }
    std::cout.flush();
    std::fflush(stdout);
    dup2(saved, 1);
    close(saved);
    std::string text;
    std::rewind(sink);
    char buffer[4096];
    std::size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, sink)) > 0) text.append(buffer, n);
    std::fclose(sink);
    return text;
}

std::string binaryStl(const std::vector<float>& corners, unsigned char filler) {
    const std::uint32_t count = static_cast<std::uint32_t>(corners.size() / 9);
    std::string bytes(80, static_cast<char>(filler));
    for (int i = 0; i < 4; ++i) bytes.push_back(static_cast<char>((count >> (8 * i)) & 0xFF));
    for (std::uint32_t f = 0; f < count; ++f) {
        const float normal[3] = {static_cast<float>(filler), 0.0f, 0.0f};
        bytes.append(reinterpret_cast<const char*>(normal), 12);
        bytes.append(reinterpret_cast<const char*>(&corners[9 * f]), 36);
        bytes.push_back(static_cast<char>(filler));
        bytes.push_back(static_cast<char>(filler));
    }
    return bytes;
}

std::wstring widePath(const std::filesystem::path& path) {
    // Test paths are UTF-8; decoded here rather than through the C library,
    // whose conversion depends on the process locale.
    const std::string bytes = path.string();
    std::wstring wide;
    for (std::size_t i = 0; i < bytes.size();) {
        const auto lead = static_cast<unsigned char>(bytes[i]);
        const int extra = lead < 0x80 ? 0 : lead < 0xE0 ? 1 : lead < 0xF0 ? 2 : 3;
        char32_t c = extra == 0 ? lead : lead & (0x3F >> extra);
        for (int k = 1; k <= extra && i + k < bytes.size(); ++k) {
            c = (c << 6) | (static_cast<unsigned char>(bytes[i + k]) & 0x3F);
        }
        wide.push_back(static_cast<wchar_t>(c));
        i += static_cast<std::size_t>(extra) + 1;
    }
    return wide;
}

std::string withFacetCount(std::string file, std::uint32_t count) {
    for (int i = 0; i < 4; ++i) file[80 + i] = static_cast<char>((count >> (8 * i)) & 0xFF);
    return file;
}

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> result;
    std::istringstream stream(text);
    for (std::string line; std::getline(stream, line);) result.push_back(line);
    return result;
}

}  // namespace testing_support
