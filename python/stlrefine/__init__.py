"""Midpoint refinement of STL triangle meshes, through the stlrefine shared library.

    import stlrefine
    ok = stlrefine.refine("part.stl", "part-fine.stl", iterations=2)

The library is loaded with ctypes on first use, from the first of:

1. the file named by the environment variable STLREFINE_LIBRARY;
2. the directory of this package (libstlrefine.so, stlrefine.dll, ...);
3. the library directory of the installation this package belongs to;
4. the system's library search path (ld.so cache, LD_LIBRARY_PATH, PATH on Windows).

The library writes its progress lines straight to the process's standard
output (file descriptor 1), not through sys.stdout.
"""

import ctypes
import ctypes.util
import glob
import operator
import os
import sys

__all__ = ["refine", "library_path", "LibraryNotFoundError"]

# File names of the library on this platform, as glob patterns: the
# development link first, then the versioned names (libstlrefine.so.0, ...).
if sys.platform == "win32":
    _PATTERNS = ("stlrefine.dll", "libstlrefine.dll")
elif sys.platform == "darwin":
    _PATTERNS = ("libstlrefine.dylib", "libstlrefine.*.dylib")
else:
    _PATTERNS = ("libstlrefine.so", "libstlrefine.so.*")
_INT32_MIN, _INT32_MAX = -(2**31), 2**31 - 1


class LibraryNotFoundError(OSError):
    """The stlrefine shared library could not be found or loaded."""


_library = None


def _open(path):
    # The exports use the platform's standard calling convention: stdcall on
    # Windows (the same as cdecl on 64-bit), cdecl elsewhere.
    loader = ctypes.WinDLL if sys.platform == "win32" else ctypes.CDLL
    library = loader(path)
    wide = ctypes.c_wchar_p
    library.subdivision_noWeight.argtypes = (wide, wide, ctypes.c_int)
    library.subdivision_noWeight.restype = ctypes.c_int
    library.subdivision_noWeight_heightDetect.argtypes = (wide, wide, ctypes.c_int,
                                                          ctypes.c_float)
    library.subdivision_noWeight_heightDetect.restype = ctypes.c_int
    return library


def _installed_library_dir(here):
    try:
        from . import _installed  # written by `cmake --install`
    except ImportError:
        return None
    return os.path.normpath(os.path.join(here, _installed.LIBRARY_DIR))


def _candidates():
    """(where, path) pairs to try, in order, when STLREFINE_LIBRARY is not set."""
    here = os.path.dirname(os.path.abspath(__file__))
    places = [("beside the module", here)]
    installed = _installed_library_dir(here)
    if installed:
        places.append(("installation", installed))
    found = [(where, path) for where, directory in places for pattern in _PATTERNS
             for path in sorted(glob.glob(os.path.join(glob.escape(directory), pattern)))]
    # A bare name: the dynamic loader searches its own path (LD_LIBRARY_PATH,
    # its cache); find_library also knows the versioned names.
    found.append(("system", _PATTERNS[0]))
    system = ctypes.util.find_library("stlrefine")
    if system:
        found.append(("system", system))
    return found


def _load():
    global _library
    if _library is not None:
        return _library
    explicit = os.environ.get("STLREFINE_LIBRARY")
    if explicit:
        # An explicit choice is never silently replaced by another library.
        try:
            _library = _open(explicit)
        except (OSError, AttributeError) as error:
            raise LibraryNotFoundError(
                f"cannot load the stlrefine library named by STLREFINE_LIBRARY={explicit!r}: "
                f"{error}") from None
        return _library
    tried = []
    for where, path in _candidates():
        try:
            _library = _open(path)
            return _library
        except (OSError, AttributeError) as error:
            tried.append(f"  {path} ({where}): {error}")
    raise LibraryNotFoundError(
        "cannot find the stlrefine shared library. Install it (for example the stlrefine "
        ".deb), put it beside this module, or set STLREFINE_LIBRARY to its path.\nTried:\n"
        + "\n".join(tried))


def library_path():
    """The path of the loaded library (loading it if needed)."""
    return _load()._name


def _wide_path(path, role):
    text = os.fsdecode(os.fspath(path))
    if "\0" in text:
        raise ValueError(f"{role} path contains a NUL character")
    return text


def refine(input, output, iterations=1, max_height=None):
    """Refines the STL mesh `input` and writes it to `output` as ASCII STL.

    Every triangle is split into four through its edge midpoints, `iterations`
    times (iterations stop once the mesh has more than 50000 vertices; 0 or a
    negative count writes the welded mesh unchanged). With `max_height`, an
    iteration runs only while some triangle is taller along z than it.

    Returns True when the input file was opened (the output is then written
    unless the library reported otherwise on standard output), False when it
    could not be opened. Paths are str or os.PathLike.
    """
    source = _wide_path(input, "input")
    target = _wide_path(output, "output")
    if isinstance(iterations, bool):
        raise TypeError("iterations must be an integer, not bool")
    count = operator.index(iterations)
    if not _INT32_MIN <= count <= _INT32_MAX:
        raise OverflowError(f"iterations {count} does not fit in a 32-bit integer")
    library = _load()
    # Our own buffered output must come before the library's lines.
    sys.stdout.flush()
    if max_height is None:
        result = library.subdivision_noWeight(source, target, count)
    else:
        result = library.subdivision_noWeight_heightDetect(source, target, count,
                                                           float(max_height))
    return result == 1
