// The command-line tool: argument handling, exit status, default paths.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "support/files.h"
#include "support/meshes.h"

using namespace testing_support;

namespace {

struct CliRun { int status; std::string out, err; };

// Runs the CLI with `arguments` (shell syntax) in `directory`.
CliRun runCli(const std::filesystem::path& directory, const std::string& arguments) {
    const std::string command = "cd '" + directory.string() + "' && '" STLREFINE_CLI_PATH "' " +
                                arguments + " >stdout.txt 2>stderr.txt";
    const int raw = std::system(command.c_str());
    return {WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, readFile(directory / "stdout.txt"),
            readFile(directory / "stderr.txt")};
}

}  // namespace

TEST(Cli, UsageErrorsExitTwoAndRunNothing) {
    TempDir dir;
    const char* bad[] = {"-n", "-n x", "-n 1.5", "--iterations 99999999999", "--max-height",
                         "--max-height 1,5", "--bogus", "a b c"};
    for (const char* args : bad) {
        const CliRun run = runCli(dir.path(), args);
        EXPECT_EQ(run.status, 2) << args;
        EXPECT_EQ(run.out, "") << args;
        EXPECT_NE(run.err.find("usage: stlrefine"), std::string::npos) << args;
    }
    EXPECT_FALSE(std::filesystem::exists(dir / "torus.refined.stl"));
}

TEST(Cli, OptionsReachTheLibrary) {
    TempDir dir;
    writeFile(dir / "tet.stl", binaryStl(facetCorners(tetrahedron())));
    const CliRun plain = runCli(dir.path(), "-n 2 tet.stl");
    EXPECT_EQ(plain.status, 0);
    EXPECT_NE(plain.out.find("total face after: 64\n"), std::string::npos);
    EXPECT_TRUE(std::filesystem::exists(dir / "tet.refined.stl"));

    const CliRun height = runCli(dir.path(), "--iterations 5 --max-height 1 tet.stl 'out put.stl'");
    EXPECT_EQ(height.status, 0);
    EXPECT_NE(height.out.find("-------max hight in triangles: 1------\n"), std::string::npos);
    EXPECT_NE(height.out.find("total face after: 16\n"), std::string::npos);
    EXPECT_TRUE(std::filesystem::exists(dir / "out put.stl"));

    const CliRun missing = runCli(dir.path(), "nothing.stl");
    EXPECT_EQ(missing.status, 1);
    EXPECT_EQ(missing.out, "I/O fail\n");
}
