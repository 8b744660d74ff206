// What a program (the command-line tool) needs from the system beyond
// files, on POSIX systems: its arguments, its own path, standard error and
// cleanup on signals. Kept apart from the files code so that the library,
// which lives in its host's process and installs no handlers, links none of
// it.
#include <signal.h>

#include <atomic>
#include <cstdio>
#include <system_error>

#include "common/utf8.h"
#include "platform/platform.h"

namespace stlrefine::platform {

namespace {

constexpr int Signals[] = {SIGINT, SIGTERM, SIGHUP, SIGPIPE};

std::atomic<PendingOutput*> watched{nullptr};

extern "C" void cleanUpAndDie(int signal) {
    if (PendingOutput* pending = watched.load()) pending->cleanUp();
    // The default action is back (SA_RESETHAND): the signal raised again ends
    // the process as soon as this handler returns, as if never caught.
    ::raise(signal);
}

}  // namespace

void cleanUpOnSignals(PendingOutput& pending) {
    watched.store(&pending);
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

std::vector<std::wstring> programArguments(int argc, char** argv) {
    std::vector<std::wstring> args;
    for (int i = 1; i < argc; ++i) args.push_back(wideName(argv[i]));
    return args;
}

std::filesystem::path programPath() {
    std::error_code error;
    return std::filesystem::read_symlink("/proc/self/exe", error);
}

std::wstring widePath(const std::filesystem::path& path) { return wideName(path.native()); }

void writeError(std::string_view text) {
    std::fwrite(text.data(), 1, text.size(), stderr);
    std::fflush(stderr);
}

}  // namespace stlrefine::platform
