// Whole calls through the shared library, compared byte for byte with the
// cases of tests/golden/ (format in its README): the result, everything the
// call printed and the file it left at the output path. One test per case.
#include <gtest/gtest.h>

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "support/files.h"
#include "support/library.h"

using namespace testing_support;
namespace fs = std::filesystem;

namespace {

const fs::path GoldenDir = fs::path(STLREFINE_SOURCE_DIR) / "tests" / "golden";

struct Case {
    std::string name;
    std::map<std::string, std::string> keys;
    bool has(const std::string& key) const { return keys.count(key) != 0; }
    const std::string& operator[](const std::string& key) const { return keys.at(key); }
};
void PrintTo(const Case& c, std::ostream* out) { *out << c.name; }

std::vector<Case> loadCases() {
    std::vector<Case> cases;
    for (const auto& entry : fs::directory_iterator(GoldenDir)) {
        if (entry.path().extension() != ".case") continue;
        Case c{entry.path().stem().string(), {}};
        std::istringstream text(readFile(entry.path()));
        for (std::string line; std::getline(text, line);) {
            const std::size_t colon = line.find(": ");
            if (line.starts_with("#") || colon == std::string::npos) continue;
            c.keys[line.substr(0, colon)] = line.substr(colon + 2);
        }
        cases.push_back(c);
    }
    std::sort(cases.begin(), cases.end(), [](const Case& a, const Case& b) { return a.name < b.name; });
    return cases;
}

// "crc32 HEX SIZE" of `bytes` (the checksum of zip and gzip), the form in
// which a case names an output too large to keep.
std::string crc32Line(const std::string& bytes) {
    std::uint32_t crc = 0xFFFFFFFFu;
    for (const unsigned char byte : bytes) {
        crc ^= byte;
        for (int bit = 0; bit < 8; ++bit) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
    }
    char text[48];
    std::snprintf(text, sizeof text, "crc32 %08x %zu", ~crc, bytes.size());
    return text;
}

class Golden : public ::testing::TestWithParam<Case> {};

TEST_P(Golden, ResultTranscriptAndOutputBytes) {
    const Case& c = GetParam();
    ASSERT_NE(library().plain, nullptr);
    TempDir dir;
    const fs::path input = c["input"] == "none" ? dir / "missing.stl" : GoldenDir / c["input"];
    const fs::path output = dir / (c.has("output-path") ? c["output-path"] : "out.stl");
    if (c.has("existing")) writeFile(output, readFile(GoldenDir / c["existing"]));
    float threshold = 0;
    if (c.has("max-height")) {
        const std::string& text = c["max-height"];
        ASSERT_EQ(std::from_chars(text.data(), text.data() + text.size(), threshold).ec, std::errc());
    }

    const Call call = callCaptured(input, output, std::stoi(c["iterations"]),
                                   c.has("max-height") ? &threshold : nullptr);

    EXPECT_EQ(call.result, std::stoi(c["result"]));
    EXPECT_EQ(call.transcript, readFile(GoldenDir / (c.name + ".transcript")));
    const std::string& expected = c["output"];
    if (expected == "none") {
        EXPECT_TRUE(fs::is_empty(dir.path())) << "the call created a file or folder";
    } else if (expected.starts_with("crc32 ")) {
        EXPECT_EQ(crc32Line(readFile(output)), expected);
    } else {
        ASSERT_TRUE(fs::exists(output));
        EXPECT_EQ(readFile(output), readFile(GoldenDir / expected));
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, Golden, ::testing::ValuesIn(loadCases()),
                         [](const ::testing::TestParamInfo<Case>& info) {
                             std::string name = info.param.name;
                             std::replace(name.begin(), name.end(), '-', '_');
                             return name;
                         });

}  // namespace
