"""Midpoint refinement of STL triangle meshes, through the stlrefine shared library.

    import stlrefine
    result = stlrefine.refine("part.stl", "part-fine.stl", iterations=2)
    print(result.facets_in, result.facets_out)

The library is loaded with ctypes on first use, from the first of:

1. the file named by the environment variable STLREFINE_LIBRARY;
2. the directory of this package (libstlrefine.so, stlrefine.dll, ...);
3. the library directory of the installation this package belongs to;
4. the system's library search path (ld.so cache, LD_LIBRARY_PATH, PATH on Windows).

The library reports what a call did only through its result (1 when the
input opened) and its progress lines on the process's standard output (file
descriptor 1). `refine` therefore catches those lines at the descriptor
level while the call runs, reads the outcome and the facet counts from them
(`_outcome`, which lists the lines), and passes them on to standard output
afterwards unless asked to be quiet.
"""

import collections as _collections
import ctypes as _ctypes
import ctypes.util as _ctypes_util
import errno as _errno
import glob as _glob
import operator as _operator
import os as _os
import re as _re
import sys as _sys
import tempfile as _tempfile
import threading as _threading

__all__ = ["refine", "RefineResult", "RefineError", "InputError", "OutputError",
           "library_path", "LibraryNotFoundError"]
# The project's version, project(VERSION) in CMakeLists.txt: the ctest `cli`
# fails when `--version` prints another one here than from the native tool.
__version__ = "0.1.0"

# File names of the library on this platform, as glob patterns: the
# development link first, then the versioned names (libstlrefine.so.0, ...).
_PATTERNS = (("stlrefine.dll", "libstlrefine.dll") if _sys.platform == "win32"
             else ("libstlrefine.so", "libstlrefine.so.*"))
_INT32_MIN, _INT32_MAX = -(2**31), 2**31 - 1


class LibraryNotFoundError(OSError):
    """The stlrefine shared library could not be found or loaded."""


class RefineError(OSError):
    """A call that wrote no refined mesh. `filename` is the file at fault and
    `strerror` the system's reason as the library gave it, or None when it
    gives none (a file that did not open). `errno` is None: the library
    reports reasons as text only."""

    def __init__(self, message, filename, reason=None):
        super().__init__(None, reason, filename)
        self.message = message

    def __str__(self):
        return self.message


class InputError(RefineError):
    """The input could not be opened or read, or its mesh not refined (out of memory)."""


class OutputError(RefineError):
    """The output could not be opened, written or put in place. A file that
    was there before keeps its old bytes (a device, FIFO or multiply-linked
    file written in place is left empty)."""


RefineResult = _collections.namedtuple(
    "RefineResult", "input_type facets_in facets_out iterations_run stopped")
RefineResult.__doc__ = """What a call wrote.

input_type: "ascii", "binary" or "not stl". facets_in, facets_out: facets of
the welded input mesh and of the output (facets_in is 0 when the input held
no mesh: the output is then an empty solid). iterations_run: iterations
done. stopped: None, "vertex limit" (the mesh passed 50000 vertices) or
"height" (no triangle was taller than max_height). All are None when the
progress lines could not be caught (see the module's documentation)."""

_library = None
# The progress lines are caught by pointing file descriptor 1 elsewhere, which
# is the whole process's: calls through this module take turns.
_capture_lock = _threading.Lock()


def _open(path):
    # The exports use the platform's standard calling convention: stdcall on
    # Windows (the same as cdecl on 64-bit), cdecl elsewhere.
    loader = _ctypes.WinDLL if _sys.platform == "win32" else _ctypes.CDLL
    library = loader(path)
    wide = _ctypes.c_wchar_p
    library.subdivision_noWeight.argtypes = (wide, wide, _ctypes.c_int)
    library.subdivision_noWeight.restype = _ctypes.c_int
    library.subdivision_noWeight_heightDetect.argtypes = (wide, wide, _ctypes.c_int,
                                                          _ctypes.c_float)
    library.subdivision_noWeight_heightDetect.restype = _ctypes.c_int
    return library


def _installed_library_dir(here):
    try:
        from . import _installed  # written by `cmake --install`
    except ImportError:
        return None
    return _os.path.normpath(_os.path.join(here, _installed.LIBRARY_DIR))


def _candidates():
    """(where, path) pairs to try, in order, when STLREFINE_LIBRARY is not set."""
    here = _os.path.dirname(_os.path.abspath(__file__))
    places = [("beside the module", here)]
    installed = _installed_library_dir(here)
    if installed:
        places.append(("installation", installed))
    found = [(where, path) for where, directory in places for pattern in _PATTERNS
             for path in sorted(_glob.glob(_os.path.join(_glob.escape(directory), pattern)))]
    # A bare name: the dynamic loader searches its own path (LD_LIBRARY_PATH,
    # its cache); find_library also knows the versioned names.
    found.append(("system", _PATTERNS[0]))
    system = _ctypes_util.find_library("stlrefine")
    if system:
        found.append(("system", system))
    return found


def _load():
    global _library
    if _library is not None:
        return _library
    explicit = _os.environ.get("STLREFINE_LIBRARY")
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
        ".deb), put it beside this module, or set STLREFINE_LIBRARY to its path "
        "(from a source tree: STLREFINE_LIBRARY=build/libstlrefine.so).\nTried:\n"
        + "\n".join(tried))


def library_path():
    """The path of the loaded library (loading it if needed)."""
    return _load()._name


def _wide_path(path, role):
    # Bytes become str with surrogateescape, and ctypes hands every code
    # point to the library as it is, so names that are not UTF-8 still work.
    text = _os.fsdecode(_os.fspath(path))
    if "\0" in text:
        raise ValueError(f"{role} path contains a NUL character")
    return text


def _is_file_of(path, fd):
    try:
        named = _os.stat(path)
    except (OSError, ValueError):
        return False
    opened = _os.fstat(fd)
    return (named.st_dev, named.st_ino) == (opened.st_dev, opened.st_ino)


def _call_catching_stdout(function, arguments):
    """Runs the call with file descriptor 1 pointing at a temporary file;
    returns its result and what it printed."""
    with _capture_lock, _tempfile.TemporaryFile() as sink:
        for stream in (_sys.stdout, _sys.stderr):
            if stream is not None:
                stream.flush()  # our own buffered lines belong before the call's
        try:
            saved = _os.dup(1)
        except OSError as error:
            if error.errno != _errno.EBADF:
                raise
            saved = None  # no standard output at all
        if saved is not None and _os.name == "posix" and _is_file_of(arguments[1], saved):
            # The mesh itself goes to standard output (/dev/stdout, say): it
            # must reach the real one, not the sink that catches the lines.
            arguments = (arguments[0], f"/dev/fd/{saved}") + arguments[2:]
        _os.dup2(sink.fileno(), 1)
        try:
            result = function(*arguments)
        finally:
            if saved is None:
                _os.close(1)
            else:
                _os.dup2(saved, 1)
                _os.close(saved)
        sink.seek(0)
        return result, sink.read()


def _emit(data):
    """The caught lines, on to standard output as the library would have written them."""
    while data:
        try:
            data = data[_os.write(1, data):]
        except OSError:
            return  # the library ignores a standard output it cannot write too


# What a call did. The library's result says little (1: the input opened,
# though a write may still have failed), so the outcome is read from the
# fixed progress lines; each outcome has a line of its own:
#
#   stl file: output success!!                           written
#   I/O fail                                             input not opened
#   error: cannot read PATH: REASON, mesh not refined    input not read
#   error: REASON, mesh not refined                      not refined (out of memory)
#   - Error, unable open file to save                    output not opened
#   error: cannot write PATH: REASON, mesh not saved     output not written
#
# An "error: " line is always the call's last and the only one that can hold
# a file name, so it runs to the end whatever the name holds; REASON, the
# system's text, holds no ": ". A file that did not open comes with no
# reason. A written mesh's facts are in the detection line, "total face
# before: N", "total face after: N" and one "-------max hight in triangles:
# H------" line per height test.
_DETECTED = {b"it ascii_stl": "ascii", b"it binary_stl !!": "binary", b"it not stl data...": "not stl"}


def _outcome(result, data, source, target, iterations, height_limited):
    """The RefineResult of a call that returned `result` and printed `data`;
    raises the RefineError of a call that wrote nothing."""
    if not data:
        # Nothing caught: a library whose C runtime keeps its own handle on
        # standard output (a MinGW DLL under a Windows Python) prints
        # straight to the console, and only the result is left.
        if result == 1:
            return RefineResult(None, None, None, None, None)
        raise RefineError(f"cannot refine {source} into {target}: the library "
                          "reported a failure; its progress lines could not be read", source)
    lines, _, error = (b"\n" + data.replace(b"\r\n", b"\n")).partition(b"\nerror: ")
    if error:
        text = error.rstrip(b"\n").decode("utf-8", "replace")
        if text.startswith("cannot write "):
            kind, action, path, tail = OutputError, "cannot write", target, ", mesh not saved"
        else:
            action = "cannot read" if text.startswith("cannot read ") else "cannot refine"
            kind, path, tail = InputError, source, ", mesh not refined"
        reason = text.removesuffix(tail).rpartition(": ")[2]
        raise kind(f"{action} {path}: {reason}", path, reason)
    lines = lines.split(b"\n")
    if b"I/O fail" in lines:
        raise InputError(f"cannot open {source}", source)
    if b"- Error, unable open file to save" in lines:
        raise OutputError(f"cannot open {target} for writing", target)
    if b"stl file: output success!!" not in lines:
        raise OutputError(f"cannot write {target}: the library did not report it written", target)

    counts = dict(_re.findall(rb"^total face (before|after): (-?[0-9]+)$", b"\n".join(lines), _re.M))
    before, after = int(counts[b"before"]), int(counts[b"after"])
    heights = sum(line.startswith(b"-------max hight in triangles: ") for line in lines)
    # Each iteration makes four faces of one. An empty mesh shows no change:
    # the plain refinement runs all its iterations on it, the height-limited
    # one stops at its first test.
    if before > 0:
        run = ((after // before).bit_length() - 1) // 2
    else:
        run = 0 if height_limited else max(iterations, 0)
    stopped = None
    if height_limited and heights > run:
        stopped = "height"
    elif run < iterations:
        stopped = "vertex limit"
    kind = next((_DETECTED[line] for line in lines if line in _DETECTED), None)
    return RefineResult(kind, before, after, run, stopped)


def refine(input, output, iterations=1, max_height=None, quiet=False):
    """Refines the STL mesh `input` and writes it to `output` as ASCII STL.

    Every triangle is split into four through its edge midpoints, `iterations`
    times (iterations stop once the mesh has more than 50000 vertices; 0 or a
    negative count writes the welded mesh unchanged). With `max_height`, an
    iteration runs only while some triangle is taller along z than it.

    Returns a RefineResult. Raises InputError when the input cannot be opened
    or read (or the call runs out of memory) and OutputError when the output
    cannot be opened, written or put in place; both are RefineError, an
    OSError. An input that holds no mesh is not an error: the output is an
    empty solid and facets_in is 0.

    Paths are str, bytes or os.PathLike. The library's progress lines go to
    file descriptor 1 once the call is over; quiet=True drops them.
    """
    source = _wide_path(input, "input")
    target = _wide_path(output, "output")
    if isinstance(iterations, bool):
        raise TypeError("iterations must be an integer, not bool")
    count = _operator.index(iterations)
    if not _INT32_MIN <= count <= _INT32_MAX:
        raise OverflowError(f"iterations {count} does not fit in a 32-bit integer")
    library = _load()
    if max_height is None:
        function, arguments = library.subdivision_noWeight, (source, target, count)
    else:
        function = library.subdivision_noWeight_heightDetect
        arguments = (source, target, count, float(max_height))
    result, data = _call_catching_stdout(function, arguments)
    if not quiet:
        _emit(data)
    return _outcome(result, data, source, target, count, max_height is not None)
