// Cleanup on Ctrl+C and the console's other stop events, for programs (the
// command-line tool). Kept apart from the files code so that the library
// links none of it.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <atomic>

#include "platform/platform.h"

namespace stlrefine::platform {

namespace {

std::atomic<PendingOutput*> watched{nullptr};

// Runs on a thread of its own; the process then ends as it would have.
BOOL WINAPI cleanUpAndDie(DWORD) {
    if (PendingOutput* pending = watched.load()) pending->cleanUp();
    return FALSE;
}

}  // namespace

void cleanUpOnSignals(PendingOutput& pending) {
    watched.store(&pending);
    SetConsoleCtrlHandler(cleanUpAndDie, TRUE);
}

}  // namespace stlrefine::platform
