// A host of the DLL as a C program on Windows writes one: the library is
// loaded at run time by its wide path, and the call goes through the
// function pointers resolved by name, which must be the ones at ordinals 1
// and 2. One call per run, its result as the exit status, as
// tests/golden/run_cases.py expects of a host:
//
//   host DLL INPUT OUTPUT ITERATIONS [MAX_HEIGHT]
//
// MAX_HEIGHT ("nan" for not-a-number) selects the height-limited function.
// Standard output holds the library's lines only. Exit status 2 on a usage
// error, 3 when the DLL does not load or resolve. With HOST_FAIL_CLOSE set,
// the DLL's first CloseHandle of a handle to the existing OUTPUT closes it
// but reports failure (a write error the file system defers to the close).
#include <math.h>
#include <stdio.h>
#include <stdlib.h>
#include <wchar.h>
#include <windows.h>

#include "stlrefine.h"

typedef int(STLREFINE_CALL* PlainFunction)(const wchar_t*, const wchar_t*, int);
typedef int(STLREFINE_CALL* HeightFunction)(const wchar_t*, const wchar_t*, int, float);

static BOOL(WINAPI* realClose)(HANDLE);
static BY_HANDLE_FILE_INFORMATION output;
static int armed;

static BOOL WINAPI failingClose(HANDLE handle) {
    BY_HANDLE_FILE_INFORMATION info;
    const int fail = armed && GetFileInformationByHandle(handle, &info) && info.nFileIndexLow == output.nFileIndexLow &&
                     info.nFileIndexHigh == output.nFileIndexHigh;
    const BOOL closed = realClose(handle);
    if (!fail) return closed;
    armed = 0;
    SetLastError(ERROR_DISK_FULL);
    return FALSE;
}

// Points the library's import of CloseHandle at failingClose.
static int failCloseOf(HMODULE library, const wchar_t* path) {
    HANDLE file = CreateFileW(path, 0, 7, NULL, OPEN_EXISTING, 0, NULL);
    if (!GetFileInformationByHandle(file, &output) || !CloseHandle(file)) return 0;
    const ULONG_PTR close = (ULONG_PTR)GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "CloseHandle");
    BYTE* base = (BYTE*)library;
    IMAGE_NT_HEADERS* headers = (IMAGE_NT_HEADERS*)(base + ((IMAGE_DOS_HEADER*)base)->e_lfanew);
    DWORD imports = headers->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT].VirtualAddress;
    for (IMAGE_IMPORT_DESCRIPTOR* d = (IMAGE_IMPORT_DESCRIPTOR*)(base + imports); d->Name; ++d) {
        for (IMAGE_THUNK_DATA* slot = (IMAGE_THUNK_DATA*)(base + d->FirstThunk); slot->u1.Function; ++slot) {
            DWORD old;
            if (slot->u1.Function != close || !VirtualProtect(&slot->u1.Function, sizeof close, PAGE_READWRITE, &old)) {
                continue;
            }
            realClose = (BOOL(WINAPI*)(HANDLE))slot->u1.Function;
            slot->u1.Function = (ULONG_PTR)failingClose;
            return armed = 1;
        }
    }
    return 0;
}

int wmain(int argc, wchar_t** argv) {
    if (argc != 5 && argc != 6) {
        fputs("usage: host DLL INPUT OUTPUT ITERATIONS [MAX_HEIGHT]\n", stderr);
        return 2;
    }
    HMODULE library = LoadLibraryW(argv[1]);
    if (library == NULL) {
        fprintf(stderr, "host: LoadLibraryW failed, error %lu\n", (unsigned long)GetLastError());
        return 3;
    }
    FARPROC plain = GetProcAddress(library, "subdivision_noWeight");
    FARPROC height = GetProcAddress(library, "subdivision_noWeight_heightDetect");
    if (plain == NULL || height == NULL || plain != GetProcAddress(library, MAKEINTRESOURCEA(1)) ||
        height != GetProcAddress(library, MAKEINTRESOURCEA(2))) {
        fputs("host: the two functions are not exported by name at ordinals 1 and 2\n", stderr);
        return 3;
    }
    if (getenv("HOST_FAIL_CLOSE") != NULL && !failCloseOf(library, argv[3])) {
        fputs("host: cannot make the close of the output fail\n", stderr);
        return 3;
    }
    const int iterations = (int)wcstol(argv[4], NULL, 10);
    int result;
    if (argc == 5) {
        result = ((PlainFunction)(void (*)(void))plain)(argv[2], argv[3], iterations);
    } else {
        const float threshold = wcscmp(argv[5], L"nan") == 0 ? NAN : wcstof(argv[5], NULL);
        result = ((HeightFunction)(void (*)(void))height)(argv[2], argv[3], iterations, threshold);
    }
    fflush(stdout);
    return result;
}
