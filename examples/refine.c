/* A C host of the stlrefine library: refines an STL file N times.
 *
 *   refine INPUT OUTPUT [ITERATIONS]
 *
 * Build against an installed library with pkg-config:
 *   cc refine.c -o refine $(pkg-config --cflags --libs stlrefine)
 * or with CMake: find_package(stlrefine CONFIG REQUIRED) and
 *   target_link_libraries(refine PRIVATE stlrefine::stlrefine) */
#include <locale.h>
#include <stdio.h>
#include <stdlib.h>
#include <wchar.h>

#include <stlrefine.h>

/* The library takes wide-character paths; command-line arguments arrive in
 * the locale's multibyte encoding (UTF-8 on most systems). */
static wchar_t* widen(const char* text) {
    size_t length = mbstowcs(NULL, text, 0);
    if (length == (size_t)-1) return NULL;
    wchar_t* wide = malloc((length + 1) * sizeof *wide);
    if (wide) mbstowcs(wide, text, length + 1);
    return wide;
}

int main(int argc, char** argv) {
    if (argc < 3 || argc > 4) {
        fprintf(stderr, "usage: %s INPUT OUTPUT [ITERATIONS]\n", argv[0]);
        return 2;
    }
    setlocale(LC_CTYPE, "");
    const int iterations = argc == 4 ? atoi(argv[3]) : 1;
    wchar_t* input = widen(argv[1]);
    wchar_t* output = widen(argv[2]);
    if (!input || !output) {
        fprintf(stderr, "a path is not valid in this locale's encoding\n");
        free(input);
        free(output);
        return 2;
    }

    /* 1: the input was read and the output written (progress lines, including
     * any write failure, go to standard output); 0: the input did not open. */
    const int result = subdivision_noWeight(input, output, iterations);
    free(input);
    free(output);
    if (result != 1) {
        fprintf(stderr, "cannot open %s\n", argv[1]);
        return 1;
    }
    return 0;
}
