// ASCII STL output of about 400k facets (what one iteration makes of a
// 100k-face mesh): the writer against the floor (a bare std::to_chars loop
// over the same floats, writing its text in the same blocks) and against the
// naive way (std::ofstream, operator<< per number).
//
//   bench_writer --benchmark_min_time=2
//
// Facets per second are reported as items, text bytes as bytes; the runs
// that write files are timed by the wall clock (writing waits for the disk).
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <charconv>
#include <cmath>
#include <cstdio>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <memory>
#include <vector>

#include "common/float_format.h"
#include "platform/platform.h"
#include "stl/stl.h"
#include "support/files.h"
#include "support/meshes.h"

namespace {

constexpr std::size_t BlockSize = std::size_t{1} << 20;

struct Facets {
    std::vector<float> corners;  // nine floats per facet
    std::vector<float> normals;  // three floats per facet
    std::size_t facetCount() const { return normals.size() / 3; }
};

// A torus of 200,000 vertices and 400,000 faces with its unit normals, its
// faces in order or shuffled (then a vertex's corners lie far apart).
Facets makeFacets(bool shuffled) {
    Facets f;
    const testing_support::Mesh torus = testing_support::torus(500, 400);
    f.corners = testing_support::facetCorners(shuffled ? testing_support::shuffledFaces(torus, 3)
                                                       : testing_support::copyOf(torus));
    for (std::size_t i = 0; i < f.corners.size(); i += 9) {
        const float* p = &f.corners[i];
        const float u[3] = {p[3] - p[0], p[4] - p[1], p[5] - p[2]};
        const float v[3] = {p[6] - p[0], p[7] - p[1], p[8] - p[2]};
        const float n[3] = {u[1] * v[2] - u[2] * v[1], u[2] * v[0] - u[0] * v[2], u[0] * v[1] - u[1] * v[0]};
        const float length = std::sqrt(n[0] * n[0] + n[1] * n[1] + n[2] * n[2]);
        for (const float c : n) f.normals.push_back(c / length);
    }
    return f;
}

const Facets& facets(bool shuffled = false) {
    if (shuffled) {
        static const Facets data = makeFacets(true);
        return data;
    }
    static const Facets data = makeFacets(false);
    return data;
}

// The twelve numbers of each facet in the order they are written.
template <class Visit>
void forEachNumber(const Facets& f, Visit&& visit) {
    for (std::size_t i = 0; i < f.facetCount(); ++i) {
        for (int c = 0; c < 3; ++c) visit(f.normals[3 * i + c]);
        for (int c = 0; c < 9; ++c) visit(f.corners[9 * i + c]);
    }
}

void report(benchmark::State& state, std::uintmax_t bytes) {
    state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(facets().facetCount()));
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(bytes));
}

void writeAll(benchmark::State& state, const Facets& f) {
    testing_support::TempDir dir;
    const std::wstring path = testing_support::widePath(dir / "out.stl");
    for (auto _ : state) {
        stlrefine::platform::OutputFile file;
        if (!file.open(path, stlrefine::platform::OutputFile::Mode::Text)) state.SkipWithError("cannot open");
        stlrefine::StlWriter writer(file, stlrefine::StlFormat::Ascii,
                                    static_cast<std::uint32_t>(f.facetCount()));
        if (!writer.writeFacets(f.corners.data(), f.normals.data(), f.facetCount()) || !writer.finish() ||
            !file.commit()) {
            state.SkipWithError("cannot write");
        }
    }
    report(state, std::filesystem::file_size(dir / "out.stl"));
}

void BM_WriteAsciiStl(benchmark::State& state) { writeAll(state, facets()); }
void BM_WriteAsciiStlShuffled(benchmark::State& state) { writeAll(state, facets(true)); }
BENCHMARK(BM_WriteAsciiStl)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_WriteAsciiStlShuffled)->Unit(benchmark::kMillisecond)->UseRealTime();

// The floor: each number through std::to_chars with a separator, in blocks
// written to a file as the writer does, with no keywords at all.
void BM_ToCharsFloor(benchmark::State& state) {
    const Facets& f = facets();
    testing_support::TempDir dir;
    const std::wstring path = testing_support::widePath(dir / "floor.txt");
    const auto buffer = std::make_unique<char[]>(BlockSize);
    std::size_t bytes = 0;
    for (auto _ : state) {
        stlrefine::platform::OutputFile file;
        file.open(path, stlrefine::platform::OutputFile::Mode::Text);
        char* out = buffer.get();
        bytes = 0;
        forEachNumber(f, [&](float value) {
            if (out - buffer.get() > static_cast<std::ptrdiff_t>(BlockSize - 64)) {
                file.write(buffer.get(), static_cast<std::size_t>(out - buffer.get()));
                bytes += static_cast<std::size_t>(out - buffer.get());
                out = buffer.get();
            }
            out = std::to_chars(out, out + 32, static_cast<double>(value), std::chars_format::general, 6).ptr;
            *out++ = ' ';
        });
        file.write(buffer.get(), static_cast<std::size_t>(out - buffer.get()));
        bytes += static_cast<std::size_t>(out - buffer.get());
        file.commit();
    }
    report(state, bytes);
}
BENCHMARK(BM_ToCharsFloor)->Unit(benchmark::kMillisecond)->UseRealTime();

// Formatting alone, into a block that is reused: std::to_chars, then ours.
template <char* (*Format)(char*, float)>
void formatOnly(benchmark::State& state) {
    const Facets& f = facets();
    const auto buffer = std::make_unique<char[]>(BlockSize);
    std::size_t bytes = 0;
    for (auto _ : state) {
        char* out = buffer.get();
        bytes = 0;
        forEachNumber(f, [&](float value) {
            if (out - buffer.get() > static_cast<std::ptrdiff_t>(BlockSize - 64)) {
                bytes += static_cast<std::size_t>(out - buffer.get());
                out = buffer.get();
            }
            out = Format(out, value);
            *out++ = ' ';
        });
        bytes += static_cast<std::size_t>(out - buffer.get());
        benchmark::DoNotOptimize(buffer.get());
        benchmark::ClobberMemory();
    }
    report(state, bytes);
}

char* toChars(char* out, float value) {
    return std::to_chars(out, out + 32, static_cast<double>(value), std::chars_format::general, 6).ptr;
}

void BM_FormatOnly_ToChars(benchmark::State& state) { formatOnly<toChars>(state); }
void BM_FormatOnly_FormatFloat(benchmark::State& state) { formatOnly<stlrefine::formatFloat>(state); }
BENCHMARK(BM_FormatOnly_ToChars)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FormatOnly_FormatFloat)->Unit(benchmark::kMillisecond);

// The naive writer: the same file through std::ofstream and operator<<.
void BM_OfstreamNaive(benchmark::State& state) {
    const Facets& f = facets();
    testing_support::TempDir dir;
    const std::filesystem::path path = dir / "naive.stl";
    for (auto _ : state) {
        std::ofstream out(path);
        out << "solid\n";
        for (std::size_t i = 0; i < f.facetCount(); ++i) {
            const float* n = &f.normals[3 * i];
            out << "facet normal" << ' ' << n[0] << ' ' << n[1] << ' ' << n[2] << "\n"
                << "outer loop\n";
            for (int k = 0; k < 3; ++k) {
                const float* p = &f.corners[9 * i + 3 * static_cast<std::size_t>(k)];
                out << "vertex" << ' ' << p[0] << ' ' << p[1] << ' ' << p[2] << "\n";
            }
            out << "endloop\n"
                << "endfacet\n";
        }
        out << "endsolid";
    }
    report(state, std::filesystem::file_size(path));
}
BENCHMARK(BM_OfstreamNaive)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
