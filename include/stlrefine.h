/* stlrefine: midpoint refinement of STL triangle meshes.
 *
 * Both functions read an STL file (ASCII or binary), weld shared corners,
 * split every triangle into four through its edge midpoints `iterations`
 * times (no smoothing; iterations stop once the mesh has more than 50000
 * vertices) and write the result as an ASCII STL file. Progress lines go to
 * the process's standard output.
 *
 * Result 1: the input was read and the output file written completely; or
 * the output could not be opened at all (a missing folder, no permission),
 * which the progress line "- Error, unable open file to save" reports, and
 * nothing was created or replaced.
 * Result 0: the input could not be opened ("I/O fail") or read, or the
 * output could not be written completely or put in place (a full disk, an
 * I/O error), or memory ran out; one line beginning "error: " says which.
 * No partial output is left behind then, and an existing output keeps its
 * old bytes, unless it had to be written in place (below): then it is left
 * empty rather than holding part of a mesh.
 *
 * The output path is opened as the caller's own open() would open it, so
 * the system judges it: a file the caller may not write, a link that the
 * kernel will not follow (such as one another user planted in a shared,
 * sticky folder like /tmp), a loop of links or a folder is refused as an
 * output that cannot be opened, and nothing is created or replaced.
 *
 * A regular file is written to a temporary file in the folder that holds it
 * (at the end of its links, which stay links) and renamed over it once
 * complete, so a crash of the process or a full disk never leaves a
 * half-written file at the output path. The temporary file is readable by
 * its owner only until it is complete; the new file then keeps the old
 * one's owner, group, permission bits, POSIX ACL and user.* extended
 * attributes, and a new output gets the permissions of any new file (0666
 * less the umask, or the folder's default ACL). The data is not flushed to
 * the disk (no fsync): a power loss may still lose it. An output that cannot
 * be replaced that way is written in place, under an exclusive flock() so
 * that two calls never mix their bytes: a file with several hard links, a
 * device or FIFO, a file in a folder where no new file can be made, another
 * user's file whose owner or attributes could not be kept.
 *
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
STLREFINE_API int STLREFINE_CALL subdivision_noWeight(const wchar_t* inputPath, const wchar_t* outputPath,
                                                      int iterations);

/* As subdivision_noWeight, but each iteration runs only while some triangle
 * is taller along z than `heightThreshold`. */
STLREFINE_API int STLREFINE_CALL subdivision_noWeight_heightDetect(const wchar_t* inputPath,
                                                                   const wchar_t* outputPath, int iterations,
                                                                   float heightThreshold);

#ifdef __cplusplus
}
#endif

#endif /* STLREFINE_H */
