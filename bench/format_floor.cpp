// The to_chars floor of the end-to-end benchmark: the whole job done the
// plainest way, with std::to_chars for the numbers. Reads a binary STL with
// one read, splits every facet 1-to-4 ITERATIONS times as a facet soup (no
// welding: for a closed mesh whose shared corners are equal, the facets and
// their order are those the library writes), computes unit normals with the
// library's expressions and writes the ASCII STL through a 1 MiB buffer.
// bench/end_to_end.sh checks that its bytes equal the CLI's.
//
//   format_floor INPUT.stl OUTPUT.stl ITERATIONS
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "support/files.h"

namespace {

// Each facet (nine floats) becomes its children (a, m0, m2), (b, m1, m0),
// (c, m2, m1), (m0, m1, m2), in its place.
std::vector<float> splitSoup(const std::vector<float>& facets) {
    std::vector<float> out;
    out.reserve(4 * facets.size());
    for (std::size_t f = 0; f + 9 <= facets.size(); f += 9) {
        const float* a = &facets[f];
        const float* b = a + 3;
        const float* c = a + 6;
        float m[3][3];
        for (int k = 0; k < 3; ++k) {
            m[0][k] = (a[k] + b[k]) * 0.5f;
            m[1][k] = (b[k] + c[k]) * 0.5f;
            m[2][k] = (c[k] + a[k]) * 0.5f;
        }
        const float* const children[12] = {a, m[0], m[2], b, m[1], m[0], c, m[2], m[1], m[0], m[1], m[2]};
        for (const float* p : children) out.insert(out.end(), p, p + 3);
    }
    return out;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: format_floor INPUT.stl OUTPUT.stl ITERATIONS\n");
        return 2;
    }
    const std::string input = testing_support::readFile(argv[1]);
    if (input.size() < 84) return 1;
    std::uint32_t count;
    std::memcpy(&count, input.data() + 80, 4);
    std::vector<float> facets(9 * std::size_t{count});
    for (std::size_t f = 0; f < count; ++f) std::memcpy(&facets[9 * f], input.data() + 84 + 50 * f + 12, 36);
    for (int i = std::atoi(argv[3]); i > 0; --i) facets = splitSoup(facets);

    std::FILE* out = std::fopen(argv[2], "wb");
    if (!out) return 1;
    constexpr std::size_t Block = std::size_t{1} << 20;
    const std::unique_ptr<char[]> buffer(new char[Block + 512]);
    char* end = buffer.get();
    const auto text = [&](const char* s) {
        end = static_cast<char*>(std::memcpy(end, s, std::strlen(s))) + std::strlen(s);
    };
    const auto triple = [&](const char* keyword, const float* v) {
        text(keyword);
        for (int k = 0; k < 3; ++k) {
            *end++ = ' ';
            end = std::to_chars(end, end + 32, v[k], std::chars_format::general, 6).ptr;
        }
        *end++ = '\n';
    };
    text("solid\n");
    for (std::size_t f = 0; f + 9 <= facets.size(); f += 9) {
        const float* p = &facets[f];
        const float e1x = p[3] - p[0], e1y = p[4] - p[1], e1z = p[5] - p[2];
        const float e2x = p[6] - p[0], e2y = p[7] - p[1], e2z = p[8] - p[2];
        float n[3] = {e1y * e2z - e1z * e2y, e1z * e2x - e1x * e2z, e1x * e2y - e1y * e2x};
        const float length = std::sqrt((n[0] * n[0] + n[1] * n[1]) + n[2] * n[2]);
        for (float& v : n) v = v / length;
        triple("facet normal", n);
        text("outer loop\n");
        for (int k = 0; k < 3; ++k) triple("vertex", p + 3 * k);
        text("endloop\nendfacet\n");
        if (static_cast<std::size_t>(end - buffer.get()) >= Block) {
            std::fwrite(buffer.get(), 1, static_cast<std::size_t>(end - buffer.get()), out);
            end = buffer.get();
        }
    }
    text("endsolid");
    std::fwrite(buffer.get(), 1, static_cast<std::size_t>(end - buffer.get()), out);
    return std::fclose(out) == 0 ? 0 : 1;
}
