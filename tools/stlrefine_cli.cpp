// stlrefine: the command-line tool. It runs the same pipeline as the two
// exported functions (linked in statically), so the progress lines on
// standard output are theirs byte for byte, and it learns from the call's
// report what happened to each file: its own messages go to standard error
// and its exit status tells which side failed.
//
//   stlrefine [OPTIONS] INPUT [OUTPUT]
//   stlrefine [OPTIONS] -d DIR INPUT...
//
// "-" as INPUT is standard input and as OUTPUT standard output, also after
// "--" ("./-" names a file). A batch (-d) runs its files on up to -j threads
// of this program, one call each, and prints each file's lines together, in
// the order of the inputs.
//
// Exit status (of a batch: its most serious one, in the order 1, 3, 4, 0):
//   0  the refined mesh was written
//   1  the input could not be opened or read, or the mesh could not be
//      refined (out of memory, too many facets for 32-bit counts)
//   2  usage error; nothing was run
//   3  the output could not be opened, written or put in place
//   4  the input holds no mesh (not STL, or no complete facet); an empty
//      solid was written
#include <algorithm>
#include <atomic>
#include <charconv>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <limits>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <thread>
#include <vector>

#include "api/pipeline.h"
#include "common/c_number.h"
#include "common/float_format.h"
#include "common/utf8.h"
#include "platform/platform.h"
#include "run_report.h"
#include "subdivision/subdivision.h"

#ifndef STLREFINE_VERSION
#  define STLREFINE_VERSION "unknown"
#endif

namespace {

using stlrefine::RefineOutcome;
using stlrefine::RefineReport;
using stlrefine::RefineRequest;

enum Exit : int { Written = 0, InputFailed = 1, Usage = 2, OutputFailed = 3, NoMesh = 4 };

constexpr const char* UsageLines =
    "usage: stlrefine [OPTIONS] INPUT [OUTPUT]\n"
    "   or: stlrefine [OPTIONS] -d DIR INPUT...\n";

constexpr const char* Help =
    "\n"
    "Refines the triangle mesh of an STL file (ASCII or binary): every triangle\n"
    "is split into four through its edge midpoints, N times (iterations stop\n"
    "once the mesh has more than 50000 vertices). Writes an ASCII STL file.\n"
    "\n"
    "  INPUT                 STL file to read; - reads standard input\n"
    "  OUTPUT                STL file to write (default: <input stem>.refined.stl\n"
    "                        in the current directory; for INPUT -, standard\n"
    "                        output); - writes standard output, and the progress\n"
    "                        lines then go to standard error\n"
    "  -d, --output-dir=DIR  refine every INPUT into DIR/<input stem>.refined.stl\n"
    "                        (standard input: DIR/stdin.refined.stl)\n"
    "  -j, --jobs=N          refine up to N files at once (default: the number of\n"
    "                        processors this process may use)\n"
    "  -n, --iterations=N    number of iterations, 0 or more (default 1; with\n"
    "                        --max-height: until it stops them)\n"
    "      --max-height=H    stop as soon as no triangle is taller along z than H\n"
    "      --binary          write binary STL instead of ASCII\n"
    "  -q, --quiet           no progress lines on standard output\n"
    "      --stats           print figures of the input and the refined mesh on\n"
    "                        standard error\n"
    "      --json            one JSON object per INPUT on standard output\n"
    "                        (JSON Lines); implies -q\n"
    "  -h, --help            show this help\n"
    "      --version         show the version\n"
    "\n"
    "Exit status: 0 written; 1 input not opened, read or refined; 2 usage error;\n"
    "3 output not opened, written or put in place; 4 input holds no mesh (an\n"
    "empty solid was written). With several INPUTs, the most serious of the\n"
    "files' statuses, in the order 1, 3, 4, 0.\n";

// --- Messages -------------------------------------------------------------

// One message, as a line for standard error.
std::string said(const std::string& message) { return "stlrefine: " + message + "\n"; }

void say(const std::string& message) { stlrefine::platform::writeError(said(message)); }

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
    std::optional<std::int32_t> iterations;  // none: 1, or no limit with --max-height
    std::optional<float> maxHeight;
    std::optional<std::wstring> outputDir;
    std::int32_t jobs = 0;  // 0: one per usable processor
    bool quiet = false;
    bool binary = false;
    bool stats = false;
    bool json = false;
    bool help = false;
    bool version = false;
    std::vector<std::wstring> files;
};

// An integer option's value, at least `least`; the problem, or "".
std::string count(const std::string& invalid, const std::string& text, std::int32_t least,
                  std::int32_t& value) {
    switch (parseInt32(text, value)) {
        case Number::Ok: break;
        case Number::Invalid: return invalid + ": not an integer";
        case Number::OutOfRange: return invalid + ": out of the 32-bit range";
    }
    return value < least ? invalid + ": less than " + std::to_string(least) : "";
}

// Applies one option (`spelled` as the user wrote it); the problem, or "".
std::string apply(char option, const std::string& spelled, const Argument& value, Options& options) {
    const std::string invalid = "invalid value " + inQuotes(value.text) + " for " + spelled;
    switch (option) {
        case 'n': return count(invalid, value.text, 0, options.iterations.emplace());
        case 'j': return count(invalid, value.text, 1, options.jobs);
        case 'd':
            if (value.path.empty()) return invalid + ": no folder";
            options.outputDir = value.path;
            return "";
        case 'H': {
            float height = 0.0f;
            if (parseFloat32(value.text, height) != Number::Ok) return invalid + ": not a number";
            options.maxHeight = height;
            return "";
        }
        case 'q': options.quiet = true; return "";
        case 'b': options.binary = true; return "";
        case 's': options.stats = true; return "";
        case 'J': options.json = options.quiet = true; return "";
        case 'h': options.help = true; return "";
        case 'V': options.version = true; return "";
    }
    return "";
}

// The text and the path of an argument from `at` on; `at` counts ASCII
// characters (option letters, a long name and '='), which are one unit in both.
Argument tail(const Argument& arg, std::size_t at) { return {arg.path.substr(at), arg.text.substr(at)}; }

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
                              {"--output-dir", 'd', true}, {"--jobs", 'j', true},
                              {"--quiet", 'q', false},     {"--binary", 'b', false},
                              {"--stats", 's', false},     {"--json", 'J', false},
                              {"--help", 'h', false},      {"--version", 'V', false}};
    constexpr std::string_view ShortWithValue = "njd";
    bool filesOnly = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i].text;
        // "-" alone is a file name (standard input or output).
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
            Argument value;
            if (equals != std::string::npos) {
                if (!match->takesValue) return "option " + inQuotes(name) + " takes no value";
                value = tail(args[i], equals + 1);
            } else if (match->takesValue) {
                if (i + 1 == args.size()) return "option " + inQuotes(name) + " needs a value";
                value = args[++i];
            }
            problem = apply(match->option, name, value, options);
        } else {
            // A cluster of short options; -n, -j and -d take the rest, or the next argument.
            for (std::size_t k = 1; k < arg.size() && problem.empty() && !options.help; ++k) {
                const char c = arg[k];
                const std::string spelled{'-', c};
                if (ShortWithValue.find(c) != std::string_view::npos) {
                    if (k + 1 == arg.size() && i + 1 == args.size())
                        return "option " + inQuotes(spelled) + " needs a value";
                    problem =
                        apply(c, spelled, k + 1 < arg.size() ? tail(args[i], k + 1) : args[++i], options);
                    break;
                }
                if (c != 'q' && c != 'h') {
                    const bool printable = c > ' ' && c < 0x7F;
                    return "unknown option " + inQuotes(printable ? spelled : arg);
                }
                problem = apply(c, spelled, {}, options);
            }
        }
        if (!problem.empty()) return problem;
        if (options.help || options.version) return "";
    }
    if (!options.outputDir && options.files.size() > 2) {
        return "unexpected third file name " + inQuotes(stlrefine::platform::displayPath(options.files[2]));
    }
    return "";
}

// --- Files ----------------------------------------------------------------

const std::wstring Stream = L"-";

// One input and where its mesh goes.
struct Job {
    std::wstring input, output;
    stlrefine::cli::FileRun run;
    std::string transcript;  // its progress lines, when they are printed later
    std::string messages;    // its lines for standard error
};

// "<stem>.refined.stl" for the last component of `input`; the stem keeps
// every character of the input's name, escaped bytes included, so that the
// output name round-trips as well.
std::wstring defaultOutput(const std::wstring& input) {
    if (input == Stream) return L"stdin.refined.stl";
    const std::size_t slash = input.find_last_of(stlrefine::platform::PathSeparators);
    std::wstring name = input.substr(slash == std::wstring::npos ? 0 : slash + 1);
    const std::size_t dot = name.find_last_of(L'.');
    if (dot != std::wstring::npos && dot > 0) name.resize(dot);
    if (name.empty()) name = L"output";
    return name + L".refined.stl";
}

// The files to refine, or a usage problem: the single INPUT [OUTPUT] (INPUT
// "-" writes standard output unless told otherwise), or every INPUT into
// the folder of -d.
std::string plan(const Options& options, std::vector<Job>& jobs) {
    const auto quoted = [](const std::wstring& path) {
        return inQuotes(stlrefine::platform::displayPath(path));
    };
    if (!options.outputDir) {
        const std::wstring& input = options.files[0];
        jobs.push_back({input,
                        options.files.size() > 1 ? options.files[1]
                        : input == Stream        ? Stream
                                                 : defaultOutput(input),
                        {},
                        {},
                        {}});
    } else {
        std::wstring folder = *options.outputDir;
        if (stlrefine::platform::PathSeparators.find(folder.back()) == std::wstring_view::npos)
            folder.push_back(stlrefine::platform::PathSeparators.front());
        for (const std::wstring& input : options.files)
            jobs.push_back({input, folder + defaultOutput(input), {}, {}, {}});
    }
    const auto readsStandardInput = [](const Job& job) { return job.input == Stream; };
    if (std::count_if(jobs.begin(), jobs.end(), readsStandardInput) > 1)
        return "standard input '-' given more than once";
    std::map<std::wstring, const Job*> writers;
    for (const Job& job : jobs) {
        if (options.json && job.output == Stream)
            return "--json writes to standard output: the mesh cannot go there too (give an OUTPUT file)";
        const auto [first, isNew] = writers.emplace(job.output, &job);
        if (!isNew) {
            return "inputs " + quoted(first->second->input) + " and " + quoted(job.input) +
                   " would both write " + quoted(job.output);
        }
    }
    return "";
}

std::string floatText(float value) {
    char text[stlrefine::MaxFloatTextLength];
    return std::string(text, stlrefine::formatFloat(text, value));
}

// What the call did, as lines for standard error; returns the exit status.
int summarize(const stlrefine::cli::FileRun& run, std::string& messages) {
    const RefineReport& report = run.report;
    const std::string& input = run.input;
    const std::string& output = run.output;
    switch (report.outcome) {
        case RefineOutcome::InputNotOpened:
            messages += said("cannot open " + input + ": " + report.reason);
            return InputFailed;
        case RefineOutcome::InputNotRead:
            messages += said("cannot read " + input + ": " + report.reason);
            return InputFailed;
        case RefineOutcome::Failed:
            messages += said("cannot refine " + input + ": " + report.reason);
            return InputFailed;
        case RefineOutcome::OutputNotOpened:
            messages += said("cannot open " + output + " for writing: " + report.reason);
            return OutputFailed;
        case RefineOutcome::OutputNotWritten:
            messages += said("cannot write " + output + ": " + report.reason);
            return OutputFailed;
        case RefineOutcome::Written: break;
    }
    if (report.facetsIn == 0) {
        const char* why =
            report.inputFormat == stlrefine::StlFormat::NotStl
                ? "the first five bytes are not 'solid' and the size does not match a binary STL"
                : "no complete facet";
        messages += said(input + " holds no mesh (" + why + "); wrote an empty solid to " + output);
        return NoMesh;
    }

    std::string summary = "wrote " + output + ": " + std::to_string(report.facetsIn) + " facets in, " +
                          std::to_string(report.facetsOut) + " out, " + std::to_string(report.iterationsRun);
    if (run.iterationsAsked >= 0) summary += " of " + std::to_string(run.iterationsAsked);
    summary += " iterations";
    if (report.stoppedAtVertexLimit) {
        summary += " (stopped: over " + std::to_string(stlrefine::IterationVertexLimit) + " vertices)";
    } else if (report.stoppedByHeight) {
        summary += " (stopped: no triangle taller than " + floatText(*run.maxHeight) + ")";
    }
    messages += said(summary);
    return Written;
}

// Refines one file; `live` prints its progress lines as they come, else
// they are kept in the job's transcript.
void refineFile(const Options& options, bool live, Job& job, stlrefine::platform::PendingOutput& pending) {
    RefineRequest request;
    request.inputPath = job.input;
    request.outputPath = job.output;
    request.inputIsStandardInput = job.input == Stream;
    request.outputIsStandardOutput = job.output == Stream;
    // Without -n, --max-height refines until its test or the vertex limit stops it.
    request.iterations =
        options.iterations.value_or(options.maxHeight ? std::numeric_limits<std::int32_t>::max() : 1);
    request.heightThreshold = options.maxHeight;
    request.format = options.binary ? stlrefine::StlFormat::Binary : stlrefine::StlFormat::Ascii;
    using Target = stlrefine::Console::Target;
    request.progress = options.quiet                    ? Target::None
                       : !live                          ? Target::Transcript
                       : request.outputIsStandardOutput ? Target::StandardError
                                                        : Target::StandardOutput;
    request.transcript = &job.transcript;
    request.reportMeshes = options.stats;
    request.pending = &pending;

    stlrefine::cli::FileRun& run = job.run;
    run.input = stlrefine::platform::displayPath(job.input);
    run.output = stlrefine::platform::displayPath(job.output);
    run.iterationsAsked = options.iterations.value_or(options.maxHeight ? -1 : 1);
    run.maxHeight = options.maxHeight;
    const auto start = std::chrono::steady_clock::now();
    run.report = stlrefine::refine(request);
    run.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    run.exitStatus = summarize(run, job.messages);
}

// How serious an exit status is: a batch exits with its most serious file's.
int severity(int status) {
    constexpr int Order[] = {0, 3, 4, 2, 1};  // by status 0..4
    return Order[status];
}

// One line on standard error, rewritten in place while a long run goes on:
// files done and facets written per second. Only on a terminal, and only
// after the first second.
class StatusLine {
public:
    explicit StatusLine(bool wanted) : wanted_(wanted && stlrefine::platform::standardErrorIsTerminal()) {}

    void show(std::size_t done, std::size_t total, std::int64_t facets) {
        const double seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
        if (!wanted_ || seconds < 1.0) return;
        std::string text =
            "stlrefine: " + std::to_string(done) + " of " + std::to_string(total) + " files, " +
            std::to_string(static_cast<std::int64_t>(static_cast<double>(facets) / seconds)) + " facets/s";
        const std::size_t length = text.size();
        if (length < shown_) text.append(shown_ - length, ' ');
        text.insert(text.begin(), '\r');
        stlrefine::platform::writeError(text);
        shown_ = length;
    }
    void clear() {
        if (shown_ == 0) return;
        std::string blank(shown_ + 2, ' ');
        blank.front() = blank.back() = '\r';
        stlrefine::platform::writeError(blank);
        shown_ = 0;
    }

private:
    bool wanted_;
    std::size_t shown_ = 0;
    std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
};

// Refines every job on up to `workers` threads and prints each file's lines
// once it and every file before it are done. Returns the exit status.
int refineAll(const Options& options, std::vector<Job>& jobs, std::size_t workers) {
    const bool live = jobs.size() == 1;
    if (std::any_of(jobs.begin(), jobs.end(), [](const Job& job) { return job.output == Stream; }))
        stlrefine::platform::reportBrokenPipes();  // a reader that goes away is an output failure
    // A signal while outputs are written removes their temporary files (or
    // empties outputs written in place) before the process ends.
    const std::unique_ptr<stlrefine::platform::PendingOutput[]> pending(
        new stlrefine::platform::PendingOutput[workers]);
    stlrefine::platform::cleanUpOnSignals(pending.get(), workers);
    std::fflush(stdout);

    std::mutex mutex;
    std::condition_variable finished;
    std::vector<char> done(jobs.size(), 0);
    std::size_t filesDone = 0;
    std::int64_t facetsDone = 0;
    std::atomic<std::size_t> next{0};
    const auto work = [&](std::size_t worker) {
        for (std::size_t k; (k = next++) < jobs.size();) {
            refineFile(options, live, jobs[k], pending[worker]);
            const std::lock_guard lock(mutex);
            done[k] = 1;
            ++filesDone;
            facetsDone += jobs[k].run.report.facetsOut;
            finished.notify_one();
        }
    };
    // A single file is refined on this thread: a thread of its own would
    // only add its start and a fresh memory arena to the call.
    std::vector<std::thread> threads;
    for (std::size_t worker = 0; worker < (jobs.size() > 1 ? workers : 0); ++worker) {
        try {
            threads.emplace_back(work, worker);
        } catch (const std::system_error&) {
            break;  // fewer threads, then
        }
    }
    if (threads.empty()) work(0);

    StatusLine status(!live || options.quiet);
    int exitStatus = Written;
    for (std::size_t printed = 0; printed < jobs.size();) {
        {
            std::unique_lock lock(mutex);
            finished.wait_for(lock, std::chrono::milliseconds(200), [&] { return done[printed] != 0; });
            if (done[printed] == 0) {
                status.show(filesDone, jobs.size(), facetsDone);
                continue;
            }
        }
        const Job& job = jobs[printed++];
        status.clear();
        std::fwrite(job.transcript.data(), 1, job.transcript.size(), stdout);
        std::fflush(stdout);
        stlrefine::platform::writeError(job.messages);
        if (options.stats) stlrefine::platform::writeError(stlrefine::cli::statsText(job.run));
        if (options.json) {
            const std::string line = stlrefine::cli::jsonLine(job.run, options.stats);
            std::fwrite(line.data(), 1, line.size(), stdout);
            std::fflush(stdout);
        }
        if (severity(job.run.exitStatus) > severity(exitStatus)) exitStatus = job.run.exitStatus;
    }
    status.clear();
    for (std::thread& thread : threads) thread.join();
    stlrefine::platform::cleanUpOnSignals(nullptr, 0);
    return exitStatus;
}

int run(const std::vector<Argument>& args) {
    Options options;
    const std::string problem = parse(args, options);
    if (!problem.empty()) return usageError(problem);
    if (options.help) {
        std::fputs(UsageLines, stdout);
        std::fputs(Help, stdout);
        return Written;
    }
    if (options.version) {
        std::puts("stlrefine " STLREFINE_VERSION);
        return Written;
    }
    if (options.files.empty()) {
        std::fputs(UsageLines, stderr);
        std::fputs("Try 'stlrefine --help' for more information.\n", stderr);
        return Usage;
    }
    std::vector<Job> jobs;
    const std::string unplanned = plan(options, jobs);
    if (!unplanned.empty()) return usageError(unplanned);
    const std::size_t jobsAtOnce =
        options.jobs > 0 ? static_cast<std::size_t>(options.jobs) : stlrefine::platform::usableProcessors();
    return refineAll(options, jobs, std::min(jobsAtOnce, jobs.size()));
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<Argument> args;
    for (std::wstring& path : stlrefine::platform::programArguments(argc, argv)) {
        args.push_back({path, stlrefine::platform::displayPath(path)});
    }
    return run(args);
}
