// Cleanup on signals for programs (the command-line tool). Kept apart from
// the files code so that the library, which lives in its host's process and
// installs no handlers, links none of it.
#include <signal.h>

#include <atomic>

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

}  // namespace stlrefine::platform
