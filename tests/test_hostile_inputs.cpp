// The command-line program, in a child whose address space is limited, on a
// sparse file whose size matches a facet count far beyond that limit.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "support/files.h"
#include "support/library.h"

using namespace testing_support;

TEST(HostileInputs, MemoryExhaustionEndsTheCallCleanly) {
    if (Sanitized) GTEST_SKIP() << "sanitizers need a large address space";
    const struct Case { std::string name; std::uint32_t count; rlim_t addressSpace; bool failsInReader; } cases[] = {
        {"count 2^32-1: 215 GB", 0xFFFFFFFFu, rlim_t{1} << 30, true},
        {"1 GB of facets", 20'000'000u, rlim_t{512} << 20, true},
        // The reader manages, a later stage runs out.
        {"200 MB of facets", 4'000'000u, rlim_t{400} << 20, false},
    };
    const std::string errorLine = "error: out of memory, mesh not refined";
    TempDir dir;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const auto in = dir / "sparse.stl", out = dir / "never.stl", transcriptFile = dir / "stdout.txt";
        writeFile(in, withFacetCount(std::string(84, '\0'), c.count));
        if (truncate(in.c_str(), static_cast<off_t>(84 + 50 * std::uint64_t{c.count})) != 0) {
            GTEST_SKIP() << "no sparse file of that size here: " << std::strerror(errno);
        }
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            const rlimit limit{c.addressSpace, c.addressSpace};
            const int fd = open(transcriptFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            if (fd < 0 || dup2(fd, 1) < 0 || setrlimit(RLIMIT_AS, &limit) != 0) _exit(99);
            execl(STLREFINE_CLI_PATH, STLREFINE_CLI_PATH, in.c_str(), out.c_str(), "-n", "1",
                  static_cast<char*>(nullptr));
            _exit(98);
        }
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        ASSERT_TRUE(WIFEXITED(status)) << "ended by signal " << WTERMSIG(status);
        EXPECT_EQ(WEXITSTATUS(status), 1);  // the library's result 0
        const std::vector<std::string> printed = lines(readFile(transcriptFile));
        ASSERT_GE(printed.size(), 2u);
        EXPECT_EQ(printed.front(), "it binary_stl !!");
        EXPECT_EQ(printed.back(), errorLine);
        EXPECT_EQ(std::count(printed.begin(), printed.end(), errorLine), 1);
        if (c.failsInReader) {
            EXPECT_EQ(printed.size(), 2u);
        } else {  // the reader and the welding finished
            ASSERT_GT(printed.size(), 3u);
            EXPECT_EQ(printed[1], "Read binary file success!");
            EXPECT_EQ(printed[2], "start subdivision sorting");
        }
        EXPECT_FALSE(std::filesystem::exists(out));
        std::filesystem::remove(in);
    }
}
