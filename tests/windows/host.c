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
// error, 3 when the DLL does not load or resolve.
#include <math.h>
#include <stdio.h>
#include <wchar.h>
#include <windows.h>

#include "stlrefine.h"

typedef int(STLREFINE_CALL* PlainFunction)(const wchar_t*, const wchar_t*, int);
typedef int(STLREFINE_CALL* HeightFunction)(const wchar_t*, const wchar_t*, int, float);

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
