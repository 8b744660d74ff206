/* A host program of the shared library, written as a C host on Windows would
 * write it: the library is loaded at run time, both functions are resolved by
 * name (and on Windows also by ordinal), and every call goes through those
 * pointers. The same source builds on Linux, so the two transcripts and the
 * files that the calls write can be compared.
 *
 *   host LIBRARY
 *   host LIBRARY INPUT OUTPUT ITERATIONS [MAX_HEIGHT]     (Windows only)
 *
 * The second form makes one call, the height-limited one when MAX_HEIGHT is
 * given ("nan" for not-a-number), and writes "result N" to standard error;
 * run-tests.sh runs the cases of tests/golden/ with it.
 *
 * Runs in a directory prepared by run-tests.sh (inputs under "entrée ü/",
 * outputs under "sortie 日本/"). Standard output holds only lines that must
 * be the same on both platforms; problems go to standard error and make the
 * exit status 1. */
#include <math.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <wchar.h>

#include "stlrefine.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <dlfcn.h>
#include <sys/stat.h>
#endif

typedef int(STLREFINE_CALL* PlainFunction)(const wchar_t*, const wchar_t*, int);
typedef int(STLREFINE_CALL* HeightFunction)(const wchar_t*, const wchar_t*, int, float);

static PlainFunction plainFunction;
static HeightFunction heightFunction;
static int problems;

static void problem(const char* what) {
    fprintf(stderr, "host: %s\n", what);
    ++problems;
}

/* Both runs use relative paths with '/'; Windows gets its own separator, so
 * the library sees native paths there. */
static void nativePath(const wchar_t* path, wchar_t* out, size_t capacity) {
    size_t i = 0;
    for (; path[i] != 0 && i + 1 < capacity; ++i) {
#if defined(_WIN32)
        out[i] = path[i] == L'/' ? L'\\' : path[i];
#else
        out[i] = path[i];
#endif
    }
    out[i] = 0;
}

static int fileExists(const wchar_t* path) {
#if defined(_WIN32)
    return GetFileAttributesW(path) != INVALID_FILE_ATTRIBUTES;
#else
    /* UTF-32 to UTF-8 for the file system. */
    char name[4096];
    size_t n = 0;
    for (; *path != 0 && n + 4 < sizeof name; ++path) {
        const unsigned long c = (unsigned long)*path;
        if (c < 0x80) {
            name[n++] = (char)c;
        } else if (c < 0x800) {
            name[n++] = (char)(0xC0 | (c >> 6));
            name[n++] = (char)(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            name[n++] = (char)(0xE0 | (c >> 12));
            name[n++] = (char)(0x80 | ((c >> 6) & 0x3F));
            name[n++] = (char)(0x80 | (c & 0x3F));
        } else {
            name[n++] = (char)(0xF0 | (c >> 18));
            name[n++] = (char)(0x80 | ((c >> 12) & 0x3F));
            name[n++] = (char)(0x80 | ((c >> 6) & 0x3F));
            name[n++] = (char)(0x80 | (c & 0x3F));
        }
    }
    name[n] = 0;
    struct stat info;
    return stat(name, &info) == 0;
#endif
}

/* A directory name of 120 characters; three of them make a path longer than
 * the classic Windows limit of 260 characters. */
#define LONG_NAME                                                                  \
    L"a very long directory name with spaces and accents \u00e9\u00e8 to pass the " \
    L"classic limit of two hundred and sixty characters 0123456789"
#define LONG_DIR LONG_NAME L"/" LONG_NAME L"/" LONG_NAME

struct Case {
    const char* name;
    int height; /* 0: subdivision_noWeight, 1: subdivision_noWeight_heightDetect */
    const wchar_t* input;
    const wchar_t* output;
    int iterations;
    float threshold;
    int expectedResult; /* -1: either result; the transcripts are compared anyway */
    int expectOutput;   /* whether the output file must exist afterwards; -1: either */
};

static const struct Case cases[] = {
    {"binary torus, one iteration", 0, L"entr\u00e9e \u00fc/tore \u00e0 trous.stl",
     L"sortie \u65e5\u672c/tore raffin\u00e9.stl", 1, 0.0f, 1, 1},
    {"binary torus, no iteration", 0, L"entr\u00e9e \u00fc/tore \u00e0 trous.stl",
     L"sortie \u65e5\u672c/tore z\u00e9ro.stl", 0, 0.0f, 1, 1},
    {"binary torus, height-limited", 1, L"entr\u00e9e \u00fc/tore \u00e0 trous.stl",
     L"sortie \u65e5\u672c/tore hauteur.stl", 4, 0.3f, 1, 1},
    {"binary torus, negative threshold", 1, L"entr\u00e9e \u00fc/tore \u00e0 trous.stl",
     L"sortie \u65e5\u672c/tore n\u00e9gatif.stl", 1, -1.0f, 1, 1},
    {"ascii with CR LF line ends", 0, L"entr\u00e9e \u00fc/crlf \u00f1.stl",
     L"sortie \u65e5\u672c/crlf \u00f1.stl", 2, 0.0f, 1, 1},
    {"ascii without final line end", 1, L"entr\u00e9e \u00fc/sans fin.stl",
     L"sortie \u65e5\u672c/sans fin.stl", 1, 0.5f, 1, 1},
    {"degenerate facet (NaN normal)", 0, L"entr\u00e9e \u00fc/plat \u5e73.stl",
     L"sortie \u65e5\u672c/plat \u5e73.stl", 1, 0.0f, 1, 1},
    {"extreme coordinates", 0, L"entr\u00e9e \u00fc/extr\u00eames.stl",
     L"sortie \u65e5\u672c/extr\u00eames.stl", 1, 0.0f, 1, 1},
    {"existing output is replaced", 0, L"entr\u00e9e \u00fc/sans fin.stl",
     L"sortie \u65e5\u672c/existant.stl", 0, 0.0f, 1, 1},
    {"not an STL file", 0, L"entr\u00e9e \u00fc/texte.txt", L"sortie \u65e5\u672c/texte.stl", 1,
     0.0f, -1, -1},
    {"missing input", 0, L"entr\u00e9e \u00fc/absent \u00f8.stl", L"sortie \u65e5\u672c/jamais.stl",
     1, 0.0f, 0, 0},
    {"directory as input", 1, L"entr\u00e9e \u00fc", L"sortie \u65e5\u672c/dossier.stl", 1, 1.0f, 0,
     0},
    {"output directory missing", 0, L"entr\u00e9e \u00fc/sans fin.stl",
     L"pas de dossier \u00f8/sortie.stl", 1, 0.0f, 1, 0},
    {"paths longer than 260 characters", 0, L"entr\u00e9e \u00fc/" LONG_DIR L"/tore.stl",
     L"sortie \u65e5\u672c/" LONG_DIR L"/tore raffin\u00e9.stl", 1, 0.0f, 1, 1},
};

static void runCase(const struct Case* c) {
    wchar_t input[2048];
    wchar_t output[2048];
    nativePath(c->input, input, sizeof input / sizeof input[0]);
    nativePath(c->output, output, sizeof output / sizeof output[0]);
    printf("=== %s\n", c->name);
    fflush(stdout);
    const int result = c->height ? heightFunction(input, output, c->iterations, c->threshold)
                                 : plainFunction(input, output, c->iterations);
    const int exists = fileExists(output);
    printf("=== result %d, output %s\n", result, exists ? "written" : "absent");
    fflush(stdout);
    if (c->expectedResult >= 0 && result != c->expectedResult) {
        fprintf(stderr, "host: %s: result %d, expected %d\n", c->name, result, c->expectedResult);
        ++problems;
    }
    if (c->expectOutput >= 0 && exists != c->expectOutput) {
        fprintf(stderr, "host: %s: output %s\n", c->name, exists ? "written" : "missing");
        ++problems;
    }
}

#if defined(_WIN32)
/* One call from a thread of its own: the library sees thread attach and
 * detach notifications, which must change nothing. */
static DWORD WINAPI threadCase(LPVOID argument) {
    runCase((const struct Case*)argument);
    return 0;
}

static void runCaseOnThread(const struct Case* c) {
    HANDLE thread = CreateThread(NULL, 0, threadCase, (LPVOID)c, 0, NULL);
    if (thread == NULL) {
        problem("CreateThread failed");
        return;
    }
    WaitForSingleObject(thread, INFINITE);
    CloseHandle(thread);
}

/* Loads the library and resolves both functions by name and by ordinal; the
 * two ways must give the same addresses, and nothing else may be exported. */
static HMODULE load(const wchar_t* path) {
    HMODULE library = LoadLibraryW(path);
    if (library == NULL) {
        fprintf(stderr, "host: LoadLibraryW failed, error %lu\n", (unsigned long)GetLastError());
        return NULL;
    }
    FARPROC byName1 = GetProcAddress(library, "subdivision_noWeight");
    FARPROC byName2 = GetProcAddress(library, "subdivision_noWeight_heightDetect");
    FARPROC byOrdinal1 = GetProcAddress(library, MAKEINTRESOURCEA(1));
    FARPROC byOrdinal2 = GetProcAddress(library, MAKEINTRESOURCEA(2));
    if (byName1 == NULL || byName2 == NULL) problem("a function is not exported by name");
    if (byOrdinal1 != byName1) problem("ordinal 1 is not subdivision_noWeight");
    if (byOrdinal2 != byName2) problem("ordinal 2 is not subdivision_noWeight_heightDetect");
    if (GetProcAddress(library, MAKEINTRESOURCEA(3)) != NULL) problem("ordinal 3 is exported");
    static const char* const hidden[] = {"DllMain", "_subdivision_noWeight@12", "runPipeline",
                                         "subdivision_noWeight@12"};
    for (size_t i = 0; i < sizeof hidden / sizeof hidden[0]; ++i) {
        if (GetProcAddress(library, hidden[i]) != NULL) {
            fprintf(stderr, "host: %s is exported\n", hidden[i]);
            ++problems;
        }
    }
    /* The calls go through the ordinal-resolved pointers. */
    plainFunction = (PlainFunction)(void (*)(void))byOrdinal1;
    heightFunction = (HeightFunction)(void (*)(void))byOrdinal2;
    return library;
}

/* One call with the arguments of the command line. */
static int callOnce(int argc, wchar_t** argv) {
    if (load(argv[1]) == NULL || plainFunction == NULL || heightFunction == NULL) return 1;
    wchar_t input[2048];
    wchar_t output[2048];
    nativePath(argv[2], input, sizeof input / sizeof input[0]);
    nativePath(argv[3], output, sizeof output / sizeof output[0]);
    const int iterations = (int)wcstol(argv[4], NULL, 10);
    const float threshold =
        argc == 5 ? 0.0f : wcscmp(argv[5], L"nan") == 0 ? NAN : wcstof(argv[5], NULL);
    const int result = argc == 5 ? plainFunction(input, output, iterations)
                                 : heightFunction(input, output, iterations, threshold);
    fflush(stdout);
    fprintf(stderr, "result %d\n", result);
    return problems == 0 ? 0 : 1;
}

int wmain(int argc, wchar_t** argv) {
    if (argc == 5 || argc == 6) return callOnce(argc, argv);
    if (argc != 2) {
        fprintf(stderr, "usage: host LIBRARY\n");
        return 2;
    }
    /* Load, unload and load again: process attach and detach report success. */
    HMODULE library = load(argv[1]);
    if (library == NULL) return 1;
    if (!FreeLibrary(library)) problem("FreeLibrary failed");
    library = load(argv[1]);
    if (library == NULL) return 1;
    if (plainFunction == NULL || heightFunction == NULL) return 1;
#else
static void runCaseOnThread(const struct Case* c) { runCase(c); }

int main(int argc, char** argv) {
    if (argc != 2) {
        fprintf(stderr, "usage: host LIBRARY\n");
        return 2;
    }
    void* library = dlopen(argv[1], RTLD_NOW | RTLD_LOCAL);
    if (library == NULL) {
        fprintf(stderr, "host: %s\n", dlerror());
        return 1;
    }
    *(void**)&plainFunction = dlsym(library, "subdivision_noWeight");
    *(void**)&heightFunction = dlsym(library, "subdivision_noWeight_heightDetect");
    if (plainFunction == NULL || heightFunction == NULL) {
        problem("a function is not exported");
        return 1;
    }
#endif
    const size_t count = sizeof cases / sizeof cases[0];
    for (size_t i = 0; i < count; ++i) {
        if (i == 1) {
            runCaseOnThread(&cases[i]);
        } else {
            runCase(&cases[i]);
        }
    }
#if defined(_WIN32)
    if (!FreeLibrary(library)) problem("FreeLibrary failed");
#else
    dlclose(library);
#endif
    printf("=== %u cases\n", (unsigned)count);
    return problems == 0 ? 0 : 1;
}
