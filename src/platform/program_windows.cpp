// What a program (the command-line tool) needs from the system beyond
// files, on Windows: its arguments, its own path and standard error, all in
// UTF-16 so that no text passes through a narrow code page, and cleanup on
// Ctrl+C and the console's other stop events. Kept apart from the files code
// so that the library links none of it.
#ifndef WIN32_LEAN_AND_MEAN
#  define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#include <shellapi.h>

#include <atomic>
#include <cstdio>
#include <thread>

#include "platform/platform.h"

namespace stlrefine::platform {

namespace {

std::atomic<PendingOutput*> watched{nullptr};
std::atomic<std::size_t> watchedCount{0};

// Runs on a thread of its own; the process then ends as it would have.
BOOL WINAPI cleanUpAndDie(DWORD) {
    PendingOutput* const pending = watched.load();
    const std::size_t count = watchedCount.load();
    for (std::size_t i = 0; pending != nullptr && i < count; ++i) pending[i].cleanUp();
    return FALSE;
}

}  // namespace

void cleanUpOnSignals(PendingOutput* pending, std::size_t count) {
    watchedCount.store(0);
    watched.store(pending);
    watchedCount.store(count);
    SetConsoleCtrlHandler(cleanUpAndDie, TRUE);
}

void reportBrokenPipes() {}

unsigned usableProcessors() {
    DWORD_PTR process = 0, system = 0;
    if (GetProcessAffinityMask(GetCurrentProcess(), &process, &system) && process != 0) {
        unsigned count = 0;
        for (; process != 0; process &= process - 1) ++count;
        return count;
    }
    const unsigned count = std::thread::hardware_concurrency();
    return count > 0 ? count : 1;
}

bool standardErrorIsTerminal() {
    DWORD mode = 0;
    const HANDLE console = GetStdHandle(STD_ERROR_HANDLE);
    return console != nullptr && console != INVALID_HANDLE_VALUE && GetConsoleMode(console, &mode);
}

std::vector<std::wstring> programArguments(int, char**) {
    int count = 0;
    wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), &count);
    std::vector<std::wstring> args;
    for (int i = 1; wide != nullptr && i < count; ++i) args.emplace_back(wide[i]);
    LocalFree(wide);
    return args;
}

void writeError(std::string_view text) {
    const HANDLE console = GetStdHandle(STD_ERROR_HANDLE);
    DWORD mode = 0;
    if (console != nullptr && console != INVALID_HANDLE_VALUE && GetConsoleMode(console, &mode)) {
        const int size = static_cast<int>(text.size());
        std::wstring wide(
            static_cast<std::size_t>(MultiByteToWideChar(CP_UTF8, 0, text.data(), size, nullptr, 0)), L'\0');
        MultiByteToWideChar(CP_UTF8, 0, text.data(), size, wide.data(), static_cast<int>(wide.size()));
        DWORD written = 0;
        WriteConsoleW(console, wide.data(), static_cast<DWORD>(wide.size()), &written, nullptr);
        return;
    }
    std::fwrite(text.data(), 1, text.size(), stderr);
    std::fflush(stderr);
}

}  // namespace stlrefine::platform
