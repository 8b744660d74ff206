// Whole calls through the shared library that the golden cases cannot
// express: a host locale with a decimal comma, null path pointers and running
// out of memory.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <clocale>
#include <cstring>
#include <iostream>
#include <locale>

#include "support/library.h"
#include "support/meshes.h"

using namespace testing_support;

// ASCII input with decimals (the library's own output) through both exports:
// transcripts with counts in the thousands and heights with decimals.
TEST(Api, HostLocaleWithDecimalCommaChangesNoByte) {
    TempDir dir;
    writeFile(dir / "torus.stl", binaryStl(facetCorners(torus(12, 10))));
    ASSERT_EQ(callLibrary(dir / "torus.stl", dir / "in.stl", 1), 1);
    const float threshold = 0.05f;
    auto calls = [&] {
        const std::string printed = captureStdout([&] {
            EXPECT_TRUE(callLibrary(dir / "in.stl", dir / "1.stl", 1) == 1 &&
                        callLibrary(dir / "in.stl", dir / "2.stl", 2, &threshold) == 1);
        });
        return printed + readFile(dir / "1.stl") + readFile(dir / "2.stl");
    };
    const std::string reference = calls();
    const char* chosen = nullptr;
    for (const char* name : {"de_DE.UTF-8", "de_DE.utf8", "fr_FR.UTF-8", "de_DE"})
        if (!chosen && std::setlocale(LC_ALL, name) && std::strcmp(std::localeconv()->decimal_point, ",") == 0)
            chosen = name;
    if (!chosen) std::setlocale(LC_ALL, "C");
    if (!chosen) GTEST_SKIP() << "no locale with a decimal comma is installed";
    const std::locale previous = std::locale::global(std::locale(chosen)),
                      coutLocale = std::cout.imbue(std::locale(chosen));
    const std::string localised = calls();
    std::cout.imbue(coutLocale);
    std::locale::global(previous);
    std::setlocale(LC_ALL, "C");
    EXPECT_TRUE(localised == reference);
}

// A null path names no file.
TEST(Api, NullPaths) {
    TempDir dir;
    writeFile(dir / "in.stl", binaryStl(facetCorners(tetrahedron())));
    const std::wstring wideIn = widePath(dir / "in.stl");
    int result = -1;
    EXPECT_EQ(captureStdout([&] { result = subdivision_noWeight(nullptr, nullptr, 1); }), "I/O fail\n");
    EXPECT_EQ(result, 0);
    const std::string transcript = captureStdout([&] { result = subdivision_noWeight(wideIn.c_str(), nullptr, 1); });
    EXPECT_EQ(result, 1);
    EXPECT_NE(transcript.find("\n- Error, unable open file to save\n"), std::string::npos) << transcript;
}

// A child whose address space is limited, on a sparse file whose size matches
// a facet count far beyond the limit: the reader runs out (or, last case, the
// welding does); one error line ends the call, result 0, nothing written.
TEST(Api, RunningOutOfMemoryEndsTheCallCleanly) {
    if (Sanitized) GTEST_SKIP() << "sanitizers need a large address space";
    const std::string binary = "it binary_stl !!\n", error = "error: out of memory, mesh not refined\n";
    // clang-format off
    const struct { std::uint32_t count; rlim_t addressSpace; std::string printed; } cases[] = {
        {0xFFFFFFFFu, rlim_t{1} << 30, binary + error}, {20'000'000u, rlim_t{512} << 20, binary + error},
        {4'000'000u, rlim_t{400} << 20, binary + "Read binary file success!\nstart subdivision sorting\n" + error}};
    // clang-format on
    TempDir dir;
    for (const auto& c : cases) {
        writeFile(dir / "sparse.stl", std::string(80, '\0') + std::string(reinterpret_cast<const char*>(&c.count), 4));
        if (truncate((dir / "sparse.stl").c_str(), off_t(84 + 50 * std::uint64_t{c.count})) != 0)
            GTEST_SKIP() << "no sparse files";
        const pid_t child = fork();
        if (child == 0) {
            const rlimit limit{c.addressSpace, c.addressSpace};
            const int fd = open((dir / "stdout.txt").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            _exit(fd < 0 || dup2(fd, 1) < 0 || setrlimit(RLIMIT_AS, &limit) != 0
                      ? 99
                      : callLibrary(dir / "sparse.stl", dir / "out.stl", 1));
        }
        int status = -1;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "status " << status;
        EXPECT_EQ(readFile(dir / "stdout.txt"), c.printed);
        EXPECT_FALSE(std::filesystem::exists(dir / "out.stl"));
    }
}
