// ASCII STL parsing throughput on about 100 MB of text, against the same
// line walk converting each number with strtod.
//
//   bench_ascii_reader [--benchmark_filter=...]
#include <benchmark/benchmark.h>

#include <charconv>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>

#include "common/float_format.h"
#include "stl/stl.h"
#include "support/files.h"
#include "support/meshes.h"

namespace {

constexpr std::size_t TargetBytes = 100'000'000;

enum Style { Writer, Indented };

void appendFloat(std::string& out, float value, Style style) {
    char text[40];
    char* end = style == Writer ? stlrefine::formatFloat(text, value)
                                : std::to_chars(text, text + sizeof text, static_cast<double>(value),
                                                std::chars_format::general, 9)
                                      .ptr;
    out += ' ';
    out.append(text, end);
}

// Torus facets, repeated with an offset until the text reaches TargetBytes.
// Writer: our own output (six significant digits, no indentation, no final
// line feed). Indented: nine significant digits and indentation, as many
// exporters write.
std::string makeText(Style style) {
    const std::vector<float> corners = testing_support::facetCorners(testing_support::torus(400, 300));
    static const char* const flat[] = {"", "", "", ""};
    static const char* const indented[] = {"  ", "    ", "      ", "    "};
    const char* const* pad = style == Writer ? flat : indented;
    std::string text = "solid torus\n";
    text.reserve(TargetBytes + 1000);
    for (int copy = 0; text.size() < TargetBytes; ++copy) {
        const float offset = 0.37f * static_cast<float>(copy);
        for (std::size_t f = 0; f < corners.size() / 9 && text.size() < TargetBytes; ++f) {
            const float* c = &corners[9 * f];
            const float u[3] = {c[3] - c[0], c[4] - c[1], c[5] - c[2]};
            const float v[3] = {c[6] - c[0], c[7] - c[1], c[8] - c[2]};
            float n[3] = {u[1] * v[2] - u[2] * v[1], u[2] * v[0] - u[0] * v[2], u[0] * v[1] - u[1] * v[0]};
            const float length = std::sqrt(n[0] * n[0] + n[1] * n[1] + n[2] * n[2]);
            text += pad[0];
            text += "facet normal";
            for (float& x : n) appendFloat(text, length > 0 ? x / length : 0.0f, style);
            text += '\n';
            text += pad[1];
            text += "outer loop\n";
            for (int k = 0; k < 9; k += 3) {
                text += pad[2];
                text += "vertex";
                for (int axis = 0; axis < 3; ++axis) appendFloat(text, c[k + axis] + offset, style);
                text += '\n';
            }
            text += pad[3];
            text += "endloop\n";
            text += pad[0];
            text += "endfacet\n";
        }
    }
    text += "endsolid torus";
    return text;
}

const std::string& textOf(Style style) {
    static const std::string writer = makeText(Writer);
    static const std::string indented = makeText(Indented);
    return style == Writer ? writer : indented;
}

// The comparison: the same line and token walk, each number through strtod.
// (Tokens end at a blank or line feed, where strtod stops anyway.)
bool parseWithStrtod(const char* data, std::size_t size, stlrefine::StlPointList& list) {
    const char* const end = data + size;
    list.reserve(list.size() + size / 48);  // as the parser does
    const char* line = data;
    for (;;) {
        const char* feed = static_cast<const char*>(std::memchr(line, '\n', end - line));
        const char* stop = feed ? feed : end;
        if (feed && stop > line && stop[-1] == '\r') --stop;
        const char* p = line;
        while (p < stop && *p == ' ') ++p;
        if (p == stop) return false;
        const char* token = p;
        while (p < stop && *p != ' ') ++p;
        bool vertex = p - token == 6;
        for (int i = 0; vertex && i < 6; ++i) vertex = (token[i] | 0x20) == "vertex"[i];
        if (vertex) {
            float xyz[3] = {0, 0, 0};
            for (float& coordinate : xyz) {
                while (p < stop && *p == ' ') ++p;
                if (p == stop) break;
                coordinate = static_cast<float>(std::strtod(p, nullptr));
                while (p < stop && *p != ' ') ++p;
            }
            list.insert(list.end(), xyz, xyz + 3);
        }
        if (!feed) return true;
        line = feed + 1;
    }
}

void BM_ParseAsciiStl(benchmark::State& state) {
    const std::string& text = textOf(static_cast<Style>(state.range(0)));
    for (auto _ : state) {
        stlrefine::StlPointList list;
        benchmark::DoNotOptimize(stlrefine::parseAsciiStl(text.data(), text.size(), list));
        benchmark::DoNotOptimize(list.data());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * text.size()));
    state.SetLabel(state.range(0) == Writer ? "writer style" : "indented, 9 digits");
}

void BM_StrtodPerToken(benchmark::State& state) {
    const std::string& text = textOf(static_cast<Style>(state.range(0)));
    for (auto _ : state) {
        stlrefine::StlPointList list;
        benchmark::DoNotOptimize(parseWithStrtod(text.data(), text.size(), list));
        benchmark::DoNotOptimize(list.data());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * text.size()));
    state.SetLabel(state.range(0) == Writer ? "writer style" : "indented, 9 digits");
}

// The file wrapper: reading the file (from the page cache) plus the parse.
// The text ends with a line feed here, so no success line is printed.
void BM_ReadAsciiStlFile(benchmark::State& state) {
    testing_support::TempDir dir;
    const std::string& text = textOf(Writer);
    testing_support::writeFile(dir / "in.stl", text + "\n");
    const std::wstring path = testing_support::widePath(dir / "in.stl");
    for (auto _ : state) {
        stlrefine::platform::InputFile input;
        stlrefine::StlHead head;
        stlrefine::StlPointList list;
        if (!input.open(path) || !stlrefine::detectStlFile(input, head)) state.SkipWithError("cannot read");
        stlrefine::parseStlFile(input, head, list);
        benchmark::DoNotOptimize(list.data());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * (text.size() + 1)));
}

BENCHMARK(BM_ParseAsciiStl)->Arg(Writer)->Arg(Indented)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_StrtodPerToken)->Arg(Writer)->Arg(Indented)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReadAsciiStlFile)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
