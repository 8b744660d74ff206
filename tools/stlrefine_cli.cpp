// stlrefine: the command-line tool. It runs the same pipeline as the two
// exported functions (linked in statically), so the progress lines on
// standard output are theirs byte for byte, and it learns from the call's
// report what happened to each file: its own messages go to standard error
// and its exit status tells which side failed.
//
//   stlrefine [-n N] [--max-height H] [-q] [--binary] [INPUT [OUTPUT]]
//
// Exit status:
//   0  the refined mesh was written
//   1  the input could not be opened or read, or the mesh could not be
//      refined (out of memory, too many facets for 32-bit counts)
//   2  usage error; nothing was run
//   3  the output could not be opened, written or put in place
//   4  the input holds no mesh (not STL, or no complete facet); an empty
//      solid was written
#include <charconv>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <limits>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "api/pipeline.h"
#include "common/c_number.h"
#include "common/float_format.h"
#include "common/utf8.h"
#include "platform/platform.h"
#include "subdivision/subdivision.h"

#ifndef STLREFINE_VERSION
#  define STLREFINE_VERSION "unknown"
#endif
#ifndef STLREFINE_EXAMPLE_MESH
#  define STLREFINE_EXAMPLE_MESH "examples/torus.stl"
#endif

namespace {

using stlrefine::RefineOutcome;
using stlrefine::RefineReport;
using stlrefine::RefineRequest;

enum Exit : int { Written = 0, InputFailed = 1, Usage = 2, OutputFailed = 3, NoMesh = 4 };

constexpr const char* Help =
    "usage: stlrefine [OPTIONS] [INPUT [OUTPUT]]\n"
    "\n"
    "Refines the triangle mesh of an STL file (ASCII or binary): every triangle\n"
    "is split into four through its edge midpoints, N times (iterations stop\n"
    "once the mesh has more than 50000 vertices). Writes an ASCII STL file.\n"
    "\n"
    "  INPUT                 STL file to read (default: the bundled example mesh)\n"
    "  OUTPUT                STL file to write (default: <input stem>.refined.stl\n"
    "                        in the current directory)\n"
    "  -n, --iterations=N    number of iterations (default 1)\n"
    "      --max-height=H    stop as soon as no triangle is taller along z than H\n"
    "      --binary          write binary STL instead of ASCII\n"
    "  -q, --quiet           no progress lines on standard output\n"
    "  -h, --help            show this help\n"
    "      --version         show the version\n"
    "\n"
    "Exit status: 0 written; 1 input not opened, read or refined; 2 usage error;\n"
    "3 output not opened, written or put in place; 4 input holds no mesh (an\n"
    "empty solid was written).\n";

// --- Messages -------------------------------------------------------------

// One message on standard error.
void say(const std::string& message) { stlrefine::platform::writeError("stlrefine: " + message + "\n"); }

int usageError(const std::string& problem) {
    say(problem);
    std::fputs("Try 'stlrefine --help' for more information.\n", stderr);
    return Usage;
}

std::string inQuotes(std::string_view text) {
    std::string out(1, '\'');
    out.append(text);
    out.push_back('\'');
    return out;
}

// --- Text of arguments ----------------------------------------------------

struct Argument {
    std::wstring path;  // as the library gets it
    std::string text;   // UTF-8, for options, numbers and messages
};

// --- Numbers --------------------------------------------------------------

// Numbers are read as strtol (base 10) and strtof read them in the "C"
// locale, the whole text consumed: leading white space and a sign are
// allowed; floats may be hexadecimal, inf or nan. from_chars does the
// conversion, so the process's locale never matters.
enum class Number { Ok, Invalid, OutOfRange };

Number parseInt32(std::string_view text, std::int32_t& value) {
    const char* first = text.data();
    const char* const last = first + text.size();
    const bool negative = stlrefine::skipSpaceAndSign(first, last);
    if (first == last || !stlrefine::isDigit(*first)) return Number::Invalid;
    std::uint32_t magnitude = 0;
    const auto [end, error] = std::from_chars(first, last, magnitude);
    if (end != last) return Number::Invalid;
    const std::uint32_t limit = negative ? 0x80000000u : 0x7FFFFFFFu;
    if (error == std::errc::result_out_of_range || magnitude > limit) return Number::OutOfRange;
    value = static_cast<std::int32_t>(negative ? -static_cast<std::int64_t>(magnitude) : magnitude);
    return Number::Ok;
}

Number parseFloat32(std::string_view text, float& value) {
    const char* first = text.data();
    const char* const last = first + text.size();
    const bool negative = stlrefine::skipSpaceAndSign(first, last);
    const bool hex = last - first >= 2 && first[0] == '0' && (first[1] | 0x20) == 'x';
    if (hex) first += 2;
    // from_chars takes a minus sign of its own and, in hexadecimal form, inf
    // and nan: neither may follow what was read above.
    if (first == last || *first == '-' || *first == '+' ||
        (hex && !stlrefine::isHexDigit(*first) && *first != '.')) {
        return Number::Invalid;
    }
    float parsed = 0.0f;
    const auto [end, error] =
        std::from_chars(first, last, parsed, hex ? std::chars_format::hex : std::chars_format::general);
    if (end != last || error == std::errc::invalid_argument) return Number::Invalid;
    // Overflow gives infinity and underflow zero, as strtof's results do.
    if (error == std::errc::result_out_of_range) {
        parsed = stlrefine::beyondLargest(first, last, hex) ? std::numeric_limits<float>::infinity() : 0.0f;
    }
    value = negative ? -parsed : parsed;
    return Number::Ok;
}

// --- Command line ---------------------------------------------------------

struct Options {
    std::int32_t iterations = 1;
    std::optional<float> maxHeight;
    bool quiet = false;
    bool binary = false;
    bool help = false;
    bool version = false;
    std::vector<std::wstring> files;
};

// Applies one option (`spelled` as the user wrote it); the problem, or "".
std::string apply(char option, const std::string& spelled, const std::string& value, Options& options) {
    const std::string invalid = "invalid value " + inQuotes(value) + " for " + spelled;
    switch (option) {
        case 'n':
            switch (parseInt32(value, options.iterations)) {
                case Number::Ok: return "";
                case Number::Invalid: return invalid + ": not an integer";
                case Number::OutOfRange: return invalid + ": out of the 32-bit range";
            }
            break;
        case 'H': {
            float height = 0.0f;
            if (parseFloat32(value, height) != Number::Ok) return invalid + ": not a number";
            options.maxHeight = height;
            return "";
        }
        case 'q': options.quiet = true; return "";
        case 'b': options.binary = true; return "";
        case 'h': options.help = true; return "";
        case 'V': options.version = true; return "";
    }
    return "";
}

// Reads the arguments in the conventional way: "-n2", "-n 2", "-qn2",
// "--iterations=2", "--iterations 2", "--" before file names that start
// with '-'. --help and --version act where they stand. The problem, or "".
std::string parse(const std::vector<Argument>& args, Options& options) {
    struct Long {
        std::string_view name;
        char option;
        bool takesValue;
    };
    constexpr Long Longs[] = {{"--iterations", 'n', true}, {"--max-height", 'H', true},
                              {"--quiet", 'q', false},     {"--binary", 'b', false},
                              {"--help", 'h', false},      {"--version", 'V', false}};
    bool filesOnly = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i].text;
        if (filesOnly || arg.size() < 2 || arg[0] != '-') {
            options.files.push_back(args[i].path);
            continue;
        }
        if (arg == "--") {
            filesOnly = true;
            continue;
        }
        std::string problem;
        if (arg[1] == '-') {
            const std::size_t equals = arg.find('=');
            const std::string name = arg.substr(0, equals);
            const Long* match = nullptr;
            for (const Long& candidate : Longs) {
                if (candidate.name == name) match = &candidate;
            }
            if (match == nullptr) return "unknown option " + inQuotes(name);
            std::string value;
            if (equals != std::string::npos) {
                if (!match->takesValue) return "option " + inQuotes(name) + " takes no value";
                value = arg.substr(equals + 1);
            } else if (match->takesValue) {
                if (i + 1 == args.size()) return "option " + inQuotes(name) + " needs a value";
                value = args[++i].text;
            }
            problem = apply(match->option, name, value, options);
        } else {
            // A cluster of short options; -n takes the rest, or the next argument.
            for (std::size_t k = 1; k < arg.size() && problem.empty() && !options.help; ++k) {
                const char c = arg[k];
                if (c == 'n') {
                    if (k + 1 == arg.size() && i + 1 == args.size()) return "option '-n' needs a value";
                    problem =
                        apply('n', "-n", k + 1 < arg.size() ? arg.substr(k + 1) : args[++i].text, options);
                    break;
                }
                if (c != 'q' && c != 'h') {
                    const bool printable = c > ' ' && c < 0x7F;
                    return "unknown option " + inQuotes(printable ? std::string{'-', c} : arg);
                }
                problem = apply(c, std::string{'-', c}, "", options);
            }
        }
        if (!problem.empty()) return problem;
        if (options.help || options.version) return "";
    }
    if (options.files.size() > 2) {
        return "unexpected third file name " + inQuotes(stlrefine::platform::displayPath(options.files[2]));
    }
    return "";
}

// --- Paths ----------------------------------------------------------------

// The bundled example mesh: where an install puts it beside this program
// (<prefix>/bin and <prefix>/share/doc/stlrefine/examples), else in the
// source tree this program was built from.
std::wstring exampleMesh() {
    const std::filesystem::path program = stlrefine::platform::programPath();
    if (!program.empty()) {
        const std::filesystem::path installed =
            program.parent_path().parent_path() / "share" / "doc" / "stlrefine" / "examples" / "torus.stl";
        std::error_code error;
        if (std::filesystem::is_regular_file(installed, error))
            return stlrefine::platform::widePath(installed);
    }
    return stlrefine::wideName(STLREFINE_EXAMPLE_MESH);
}

// "<stem>.refined.stl" in the current directory, for the last component of
// `input`; the stem keeps every character of the input's name, escaped bytes
// included, so that the output name round-trips as well.
std::wstring defaultOutput(const std::wstring& input) {
    const std::size_t slash = input.find_last_of(stlrefine::platform::PathSeparators);
    std::wstring name = input.substr(slash == std::wstring::npos ? 0 : slash + 1);
    const std::size_t dot = name.find_last_of(L'.');
    if (dot != std::wstring::npos && dot > 0) name.resize(dot);
    if (name.empty()) name = L"output";
    return name + L".refined.stl";
}

// --- Running ----------------------------------------------------------------

std::string floatText(float value) {
    char text[stlrefine::MaxFloatTextLength];
    return std::string(text, stlrefine::formatFloat(text, value));
}

// Tells what the call did; returns the exit status.
int summarize(const Options& options, const std::wstring& inputPath, const std::wstring& outputPath,
              const RefineReport& report) {
    const std::string input = stlrefine::platform::displayPath(inputPath);
    const std::string output = stlrefine::platform::displayPath(outputPath);
    switch (report.outcome) {
        case RefineOutcome::InputNotOpened:
            say("cannot open " + input + ": " + report.reason);
            return InputFailed;
        case RefineOutcome::InputNotRead:
            say("cannot read " + input + ": " + report.reason);
            return InputFailed;
        case RefineOutcome::Failed: say("cannot refine " + input + ": " + report.reason); return InputFailed;
        default: break;
    }
    if (report.outcome == RefineOutcome::OutputNotOpened) {
        say("cannot open " + output + " for writing: " + report.reason);
        return OutputFailed;
    }
    if (report.outcome != RefineOutcome::Written) {
        say("cannot write " + output + ": " + report.reason);
        return OutputFailed;
    }
    if (report.facetsIn == 0) {
        const char* why =
            report.inputFormat == stlrefine::StlFormat::NotStl
                ? "the first five bytes are not 'solid' and the size does not match a binary STL"
                : "no complete facet";
        say(input + " holds no mesh (" + why + "); wrote an empty solid to " + output);
        return NoMesh;
    }

    std::string summary = "wrote " + output + ": " + std::to_string(report.facetsIn) + " facets in, " +
                          std::to_string(report.facetsOut) + " out, " + std::to_string(report.iterationsRun) +
                          " of " + std::to_string(options.iterations) + " iterations";
    if (report.stoppedAtVertexLimit) {
        summary += " (stopped: over " + std::to_string(stlrefine::IterationVertexLimit) + " vertices)";
    } else if (report.stoppedByHeight) {
        summary += " (stopped: no triangle taller than " + floatText(*options.maxHeight) + ")";
    }
    say(summary);
    return Written;
}

int run(const std::vector<Argument>& args) {
    Options options;
    const std::string problem = parse(args, options);
    if (!problem.empty()) return usageError(problem);
    if (options.help) {
        std::fputs(Help, stdout);
        return Written;
    }
    if (options.version) {
        std::puts("stlrefine " STLREFINE_VERSION);
        return Written;
    }
    if (options.files.empty()) {
        options.files.push_back(exampleMesh());
        say("no INPUT given: refining the bundled example " +
            stlrefine::platform::displayPath(options.files[0]));
    }
    if (options.files.size() == 1) options.files.push_back(defaultOutput(options.files[0]));

    RefineRequest request;
    request.inputPath = options.files[0];
    request.outputPath = options.files[1];
    request.iterations = options.iterations;
    request.heightThreshold = options.maxHeight;
    request.format = options.binary ? stlrefine::StlFormat::Binary : stlrefine::StlFormat::Ascii;
    request.progress =
        options.quiet ? stlrefine::Console::Target::None : stlrefine::Console::Target::StandardOutput;
    // A signal while the output is written removes its temporary file (or
    // empties an output written in place) before the process ends.
    static stlrefine::platform::PendingOutput pending;
    stlrefine::platform::cleanUpOnSignals(pending);
    request.pending = &pending;
    std::fflush(stdout);
    const RefineReport report = stlrefine::refine(request);
    return summarize(options, options.files[0], options.files[1], report);
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<Argument> args;
    for (std::wstring& path : stlrefine::platform::programArguments(argc, argv)) {
        args.push_back({path, stlrefine::platform::displayPath(path)});
    }
    return run(args);
}
