// The output floor: formats the numbers of an ASCII STL file with a bare
// std::to_chars loop (general, six digits) and writes them in 1 MiB blocks,
// nothing else. Prints the seconds that formatting and writing took, so the
// end-to-end benchmark can set every run against the cost of its output.
//
//   format_floor REFINED.stl SCRATCH_OUTPUT
#include <fcntl.h>
#include <unistd.h>

#include <charconv>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "support/files.h"

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: format_floor REFINED.stl SCRATCH_OUTPUT\n");
        return 2;
    }
    // Every blank-separated token that is wholly a number is an output float
    // (the keywords are not).
    const std::string text = testing_support::readFile(argv[1]);
    std::vector<float> numbers;
    std::size_t i = 0;
    while (i < text.size()) {
        const std::size_t end = text.find_first_of(" \n", i);
        const std::string token = text.substr(i, end == std::string::npos ? std::string::npos : end - i);
        char* stop = nullptr;
        const float value = std::strtof(token.c_str(), &stop);
        if (!token.empty() && *stop == '\0') numbers.push_back(value);
        if (end == std::string::npos) break;
        i = end + 1;
    }
    const int fd = ::open(argv[2], O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0) return 1;
    constexpr std::size_t Block = std::size_t{1} << 20;
    const std::unique_ptr<char[]> buffer(new char[Block + 64]);
    const auto start = std::chrono::steady_clock::now();
    char* out = buffer.get();
    for (const float value : numbers) {
        out = std::to_chars(out, out + 32, static_cast<double>(value), std::chars_format::general, 6).ptr;
        *out++ = ' ';
        if (static_cast<std::size_t>(out - buffer.get()) >= Block) {
            if (::write(fd, buffer.get(), static_cast<std::size_t>(out - buffer.get())) < 0) return 1;
            out = buffer.get();
        }
    }
    if (::write(fd, buffer.get(), static_cast<std::size_t>(out - buffer.get())) < 0) return 1;
    ::close(fd);
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("%.6f %zu\n", seconds, numbers.size());
    return 0;
}
