/* stlrefine: midpoint refinement of STL triangle meshes.
 *
 * Both functions read an STL file (ASCII or binary), weld shared corners,
 * split every triangle into four through its edge midpoints `iterations`
 * times (no smoothing; iterations stop once the mesh has more than 50000
 * vertices) and write the result as an ASCII STL file. Progress lines go to
 * the process's standard output.
 *
 * Result: 1 when the input file could be opened (whatever happened after),
 * 0 when it could not, or when the call could not finish for lack of memory.
 * No exception ever leaves these functions; each call runs entirely on the
 * calling thread and keeps no state, so calls on different files may run
 * concurrently. */
#ifndef STLREFINE_H
#define STLREFINE_H

#include <wchar.h>

#if defined(_WIN32)
#  define STLREFINE_CALL __stdcall
#  if defined(STLREFINE_BUILDING)
#    define STLREFINE_API __declspec(dllexport)
#  else
#    define STLREFINE_API __declspec(dllimport)
#  endif
#else
#  define STLREFINE_CALL
#  if defined(STLREFINE_BUILDING)
#    define STLREFINE_API __attribute__((visibility("default")))
#  else
#    define STLREFINE_API
#  endif
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Refines `inputPath` `iterations` times and writes `outputPath`.
 * Paths are NUL-terminated wide strings (UTF-32 on Linux, UTF-16 on Windows). */
STLREFINE_API int STLREFINE_CALL subdivision_noWeight(const wchar_t* inputPath,
                                                      const wchar_t* outputPath,
                                                      int iterations);

/* As subdivision_noWeight, but each iteration runs only while some triangle
 * is taller along z than `heightThreshold`. */
STLREFINE_API int STLREFINE_CALL subdivision_noWeight_heightDetect(const wchar_t* inputPath,
                                                                   const wchar_t* outputPath,
                                                                   int iterations,
                                                                   float heightThreshold);

#ifdef __cplusplus
}
#endif

#endif /* STLREFINE_H */
