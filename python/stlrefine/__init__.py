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
level while the call runs, reads the outcome and the facet counts from them,
and passes them on to standard output afterwards unless asked to be quiet.
"""

import collections
import ctypes
import ctypes.util
import errno
import glob
import operator
import os
import re
import stat
import sys
import tempfile
import threading

__all__ = ["refine", "RefineResult", "RefineError", "InputError", "OutputError",
           "library_path", "LibraryNotFoundError"]

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


class RefineError(OSError):
    """A call that wrote no refined mesh. `filename` is the file at fault,
    `strerror` the reason, `errno` its code when one is known (else None)."""

    def __init__(self, action, filename, reason, code=None, after=""):
        super().__init__(code, reason, filename)
        self.message = f"{action} {os.fsdecode(filename)}{after}: {reason}"

    def __str__(self):
        return self.message


class InputError(RefineError):
    """The input could not be opened or read, or its mesh not refined (out of memory)."""


class OutputError(RefineError):
    """The output could not be opened, written or put in place. A file that
    was there before keeps its old bytes (a device, FIFO or multiply-linked
    file written in place is left empty)."""


RefineResult = collections.namedtuple(
    "RefineResult", "input_type facets_in facets_out iterations_run stopped")
RefineResult.__doc__ = """What a call wrote.

input_type: "ascii", "binary" or "not stl". facets_in, facets_out: facets of
the welded input mesh and of the output (facets_in is 0 when the input held
no mesh: the output is then an empty solid). iterations_run: iterations
done. stopped: None, "vertex limit" (the mesh passed 50000 vertices) or
"height" (no triangle was taller than max_height). All are None when the
progress lines could not be caught (see the module's documentation)."""

_library = None
# The library gives a failure's reason as the system's English text; its code back.
_ERRNO_OF = {os.strerror(code): code for code in errno.errorcode}
# The progress lines are caught by pointing file descriptor 1 elsewhere, which
# is the whole process's: calls through this module take turns.
_capture_lock = threading.Lock()


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
        ".deb), put it beside this module, or set STLREFINE_LIBRARY to its path "
        "(from a source tree: STLREFINE_LIBRARY=build/libstlrefine.so).\nTried:\n"
        + "\n".join(tried))


def library_path():
    """The path of the loaded library (loading it if needed)."""
    return _load()._name


def _wide_path(path, role):
    # Bytes become str with surrogateescape, and ctypes hands every code
    # point to the library as it is, so names that are not UTF-8 still work.
    text = os.fsdecode(os.fspath(path))
    if "\0" in text:
        raise ValueError(f"{role} path contains a NUL character")
    return text


def _stat(path):
    try:
        return os.stat(path)
    except (OSError, ValueError):
        return None


def _is_file_of(path, fd):
    named, opened = _stat(path), os.fstat(fd)
    return named is not None and (named.st_dev, named.st_ino) == (opened.st_dev, opened.st_ino)


def _call_catching_stdout(function, arguments):
    """Runs the call with file descriptor 1 pointing at a temporary file;
    returns its result and what it printed."""
    with _capture_lock, tempfile.TemporaryFile() as sink:
        for stream in (sys.stdout, sys.stderr):
            if stream is not None:
                stream.flush()  # our own buffered lines belong before the call's
        try:
            saved = os.dup(1)
        except OSError as error:
            if error.errno != errno.EBADF:
                raise
            saved = None  # no standard output at all
        if saved is not None and os.name == "posix" and _is_file_of(arguments[1], saved):
            # The mesh itself goes to standard output (/dev/stdout, say): it
            # must reach the real one, not the sink that catches the lines.
            arguments = (arguments[0], f"/dev/fd/{saved}") + arguments[2:]
        os.dup2(sink.fileno(), 1)
        try:
            result = function(*arguments)
        finally:
            if saved is None:
                os.close(1)
            else:
                os.dup2(saved, 1)
                os.close(saved)
        sink.seek(0)
        return result, sink.read()


def _emit(data):
    """The caught lines, on to standard output as the library would have written them."""
    while data:
        try:
            data = data[os.write(1, data):]
        except OSError:
            return  # the library ignores a standard output it cannot write too


class _Transcript:
    """The facts in the fixed progress lines of one call."""

    def __init__(self, data):
        self.empty = not data
        self.input_type = None
        self.counts = {}
        self.heights = 0
        self.written = self.output_unopened = False
        self.error = None
        lines = data.split(b"\n")
        for number, line in enumerate(lines):
            line = line.rstrip(b"\r")
            if line.startswith(b"error: "):
                # Always the call's last line; only it can hold a file name,
                # whatever characters that name contains.
                self.error = b"\n".join(lines[number:]).rstrip(b"\r\n").decode("utf-8", "replace")
                break
            kind = {b"it ascii_stl": "ascii", b"it binary_stl !!": "binary",
                    b"it not stl data...": "not stl"}.get(line)
            self.input_type = self.input_type or kind
            count = re.fullmatch(rb"total face (before|after): (-?[0-9]+)", line)
            if count:
                self.counts.setdefault(count.group(1), int(count.group(2)))
            self.heights += line.startswith(b"-------max hight in triangles: ")
            self.written |= line == b"stl file: output success!!"
            self.output_unopened |= line == b"- Error, unable open file to save"

    def reason(self, tail):
        # "error: [cannot read|write <path>: ]<reason><tail>"; a reason has no ": ".
        text = self.error[len("error: "):]
        text = text[:-len(tail)] if text.endswith(tail) else text
        return text.rpartition(": ")[2] if text.startswith(("cannot read ", "cannot write ")) else text

    def result(self, iterations, height_limited):
        before, after = self.counts.get(b"before"), self.counts.get(b"after")
        if before is None or after is None:
            return RefineResult(self.input_type, before, after, None, None)
        # Each iteration makes four faces of one; an empty mesh shows nothing,
        # but the plain refinement runs all its (empty) iterations then and
        # the height-limited one stops at its first test.
        if before > 0:
            run = ((after // before).bit_length() - 1) // 2
        else:
            run = 0 if height_limited else max(iterations, 0)
        stopped = None
        if height_limited and self.heights > run:
            stopped = "height"
        elif run < iterations:
            stopped = "vertex limit"
        return RefineResult(self.input_type, before, after, run, stopped)


def _unopened_reason(path, writing, unknown="it could not be opened"):
    """(errno, text) of why `path` could not be opened, as far as it can be told afterwards."""
    code = None
    try:
        info = os.stat(path)
        if stat.S_ISDIR(info.st_mode):
            code = errno.EISDIR
        elif not os.access(path, os.W_OK if writing else os.R_OK):
            code = errno.EACCES
    except OSError as error:
        code = error.errno
        if writing and code == errno.ENOENT:
            # A new file: the folder is what must be there and writable.
            folder = os.path.dirname(path) or os.curdir
            try:
                if not stat.S_ISDIR(os.stat(folder).st_mode):
                    code = errno.ENOTDIR
                else:
                    code = None if os.access(folder, os.W_OK | os.X_OK) else errno.EACCES
            except OSError as folder_error:
                code = folder_error.errno
    except ValueError:
        code = errno.ENOENT  # a name no file can have
    return code, os.strerror(code) if code else unknown


def _new_or_changed(before, after):
    """Whether what lies at the output after the call is a written mesh, judged
    from the file alone: the library puts a regular file in place by renaming
    a new one over it, or rewrites it in place (hard links), emptying it on
    failure. Devices and FIFOs show nothing: they are trusted."""
    if after is None:
        return False
    if stat.S_ISCHR(after.st_mode) or stat.S_ISBLK(after.st_mode) or stat.S_ISFIFO(after.st_mode):
        return True
    if not stat.S_ISREG(after.st_mode):
        return False
    if after.st_size == 0:
        return False
    if before is None:
        return True
    return ((after.st_ino, after.st_dev, after.st_mtime_ns)
            != (before.st_ino, before.st_dev, before.st_mtime_ns))


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
    count = operator.index(iterations)
    if not _INT32_MIN <= count <= _INT32_MAX:
        raise OverflowError(f"iterations {count} does not fit in a 32-bit integer")
    library = _load()
    if max_height is None:
        function, arguments = library.subdivision_noWeight, (source, target, count)
    else:
        function = library.subdivision_noWeight_heightDetect
        arguments = (source, target, count, float(max_height))

    before = _stat(target)
    result, data = _call_catching_stdout(function, arguments)
    if not quiet:
        _emit(data)
    lines = _Transcript(data)
    if lines.empty:
        return _judge_by_files(result, source, target, before)

    if result == 1 and lines.written:
        return lines.result(count, max_height is not None)
    if lines.error is not None:
        if lines.error.startswith("error: cannot write "):
            reason = lines.reason(", mesh not saved")
            raise OutputError("cannot write", target, reason, _ERRNO_OF.get(reason))
        action = "cannot read" if lines.error.startswith("error: cannot read ") else "cannot refine"
        reason = lines.reason(", mesh not refined")
        raise InputError(action, source, reason, _ERRNO_OF.get(reason))
    if result != 1:
        code, reason = _unopened_reason(source, False)
        raise InputError("cannot open", source, reason, code)
    if lines.output_unopened:
        code, reason = _unopened_reason(target, True)
        raise OutputError("cannot open", target, reason, code, after=" for writing")
    raise OutputError("cannot write", target, "the library did not report the output written")


def _judge_by_files(result, source, target, before):
    """The outcome when no progress line was caught: a library whose C runtime
    keeps its own handle on standard output (a MinGW DLL under a Windows
    Python) prints straight to the console. Only the result and the files are
    left to judge by, and the facts of the result are unknown."""
    if result == 1 and _new_or_changed(before, _stat(target)):
        return RefineResult(None, None, None, None, None)
    if result != 1:
        code, reason = _unopened_reason(source, False, unknown=None)
        if code is not None:
            raise InputError("cannot open", source, reason, code)
    code, reason = _unopened_reason(target, True, unknown="the library reported a failure")
    raise OutputError("cannot write", target, reason, code)
