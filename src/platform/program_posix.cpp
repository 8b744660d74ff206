// What a program (the command-line tool) needs from the system beyond
// files, on POSIX systems: its arguments, its own path, standard error and
// cleanup on signals. Kept apart from the files code so that the library,
// which lives in its host's process and installs no handlers, links none of
// it.
#include <sched.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <thread>

#include "common/utf8.h"
#include "platform/platform.h"

namespace stlrefine::platform {

namespace {

constexpr int Signals[] = {SIGINT, SIGTERM, SIGHUP, SIGPIPE};

std::atomic<PendingOutput*> watched{nullptr};
std::atomic<std::size_t> watchedCount{0};

extern "C" void cleanUpAndDie(int signal) {
    PendingOutput* const pending = watched.load();
    const std::size_t count = watchedCount.load();
    for (std::size_t i = 0; pending != nullptr && i < count; ++i) pending[i].cleanUp();
    // The default action is back (SA_RESETHAND): the signal raised again ends
    // the process as soon as this handler returns, as if never caught.
    ::raise(signal);
}

}  // namespace

void cleanUpOnSignals(PendingOutput* pending, std::size_t count) {
    watchedCount.store(0);
    watched.store(pending);
    watchedCount.store(count);
    for (const int signal : Signals) {
        struct sigaction current {};
        // A signal the process was told to ignore (nohup, a shell's trap) stays ignored.
        if (::sigaction(signal, nullptr, &current) != 0 || current.sa_handler == SIG_IGN) continue;
        struct sigaction action {};
        action.sa_handler = cleanUpAndDie;
        ::sigemptyset(&action.sa_mask);
        for (const int other : Signals) ::sigaddset(&action.sa_mask, other);  // one cleanup at a time
        action.sa_flags = SA_RESETHAND;
        ::sigaction(signal, &action, nullptr);
    }
}

void reportBrokenPipes() { ::signal(SIGPIPE, SIG_IGN); }

unsigned usableProcessors() {
#if defined(__linux__)
    cpu_set_t set;
    CPU_ZERO(&set);
    if (::sched_getaffinity(0, sizeof set, &set) == 0 && CPU_COUNT(&set) > 0)
        return static_cast<unsigned>(CPU_COUNT(&set));
#endif
    const unsigned count = std::thread::hardware_concurrency();
    return count > 0 ? count : 1;
}

bool standardErrorIsTerminal() { return ::isatty(STDERR_FILENO) == 1; }

std::vector<std::wstring> programArguments(int argc, char** argv) {
    std::vector<std::wstring> args;
    for (int i = 1; i < argc; ++i) args.push_back(wideName(argv[i]));
    return args;
}

void writeError(std::string_view text) {
    std::fwrite(text.data(), 1, text.size(), stderr);
    std::fflush(stderr);
}

}  // namespace stlrefine::platform
