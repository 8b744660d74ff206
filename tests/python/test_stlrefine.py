"""The Python module: arguments reach the library intact, the result and the
errors say what the call did, the progress lines are passed on or dropped,
and the library is found (or a clear error is raised). Its command line is
checked with the native one by tests/cli_cases.py.

Run by ctest with STLREFINE_LIBRARY naming the freshly built library and
PYTHONPATH holding python/.
"""

import errno
import os
import pathlib
import re
import shutil
import subprocess
import sys
import threading

import pytest

import stlrefine

ROOT = pathlib.Path(__file__).resolve().parents[2]
TORUS = ROOT / "examples" / "torus.stl"
PACKAGE = ROOT / "python" / "stlrefine"


def facet_count(path):
    """Facets of an ASCII STL as the library writes it; fails on any other shape."""
    text = pathlib.Path(path).read_bytes().decode("ascii")
    assert text.startswith("solid\n") and text.endswith("\nendsolid"), text[:40]
    facets = len(re.findall(r"^facet normal \S+ \S+ \S+$", text, re.M))
    assert len(re.findall(r"^vertex \S+ \S+ \S+$", text, re.M)) == 3 * facets
    return facets


@pytest.fixture(autouse=True)
def fresh_module(monkeypatch):
    # Each test looks the library up again under its own environment.
    monkeypatch.setattr(stlrefine, "_library", None)


class PathLike:
    def __init__(self, path):
        self.path = path

    def __fspath__(self):
        return str(self.path)


@pytest.mark.parametrize("kind", [str, pathlib.Path, PathLike, os.fsencode])
def test_every_kind_of_path_and_name_reaches_the_library(tmp_path, kind):
    # Wide strings on Linux are UTF-32: a non-BMP character checks the whole
    # range, and U+DCE9 stands for a byte 0xE9 that is not UTF-8.
    folder = tmp_path / "m\u00e9sh \u4e09\u89d2 \U0001f9ca"
    folder.mkdir()
    source = folder / "caf\udce9.stl"
    shutil.copyfile(TORUS, source)
    output = folder / "r\u00e9sultat \U0001f9ca \udcff.stl"
    assert stlrefine.refine(kind(source), kind(output), iterations=0, quiet=True).facets_out == 576
    assert sorted(os.listdir(os.fsencode(folder))) == sorted(map(os.fsencode, [source.name, output.name]))
    facet_count(output)


@pytest.mark.parametrize("content, arguments, expected", [
    (None, dict(iterations=0), ("binary", 576, 576, 0, None)),
    (None, dict(iterations=2), ("binary", 576, 9216, 2, None)),
    (None, dict(iterations=10), ("binary", 576, 147456, 4, "vertex limit")),
    (None, dict(iterations=-5), ("binary", 576, 576, 0, None)),
    # The torus's tallest triangle is 0.375 along z. A threshold passed as a
    # double would arrive as garbage (1e6 reads as 0.0f) and refine anyway.
    (None, dict(iterations=3, max_height=0.2), ("binary", 576, 2304, 1, "height")),
    (None, dict(iterations=3, max_height=1e6), ("binary", 576, 576, 0, "height")),
    (None, dict(iterations=1, max_height=float("nan")), ("binary", 576, 576, 0, "height")),
    (None, dict(iterations=1, max_height=-1.0), ("binary", 576, 2304, 1, None)),
    (b"hello\n", dict(iterations=1), ("not stl", 0, 0, 1, None)),
    (bytes(84), dict(iterations=2), ("binary", 0, 0, 2, None)),
    (b"solid t\nvertex 0 0 0\nvertex 1 0 0\n", dict(iterations=1, max_height=0), ("ascii", 0, 0, 0, "height")),
])
def test_result_tells_what_was_written(tmp_path, capfd, content, arguments, expected):
    source = TORUS
    if content is not None:
        source = tmp_path / "in.stl"
        source.write_bytes(content)
    output = tmp_path / "out.stl"
    assert stlrefine.refine(source, output, **arguments) == expected
    assert facet_count(output) == expected[2]
    out = capfd.readouterr().out
    assert f"\ntotal face after: {expected[2]}\n" in out and out.endswith("subdivision triangle done!!\n")


@pytest.mark.parametrize("quiet", [False, True])
def test_progress_lines_follow_our_own_output_unless_quiet(tmp_path, capfd, quiet):
    print("ours")  # buffered by Python: must come out first
    stlrefine.refine(TORUS, tmp_path / "out.stl", quiet=quiet)
    out = capfd.readouterr().out
    assert out == "ours\n" if quiet else out.startswith("ours\nit binary_stl !!\n")
    assert stlrefine.refine(TORUS, tmp_path / "out.stl", quiet=quiet).facets_out == 2304


def test_concurrent_calls_get_their_own_counts(tmp_path):
    results = {}

    def call(n):
        results[n] = stlrefine.refine(TORUS, tmp_path / f"{n}.stl", iterations=n, quiet=True)

    threads = [threading.Thread(target=call, args=(n,)) for n in range(4)]
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join()
    assert {n: r.facets_out for n, r in results.items()} == {n: 576 * 4**n for n in range(4)}


def without_the_lines(function, arguments):
    # A library whose progress lines cannot be caught (another C runtime).
    return function(*arguments), b""


@pytest.mark.parametrize("caught", [True, False])
@pytest.mark.parametrize("source, target, error, code, message", [
    ("missing.stl", "out.stl", stlrefine.InputError, errno.ENOENT,
     r"cannot open missing\.stl: No such file or directory"),
    (".", "out.stl", stlrefine.InputError, errno.EISDIR, r"cannot open \.: Is a directory"),
    (TORUS, "nowhere/out.stl", stlrefine.OutputError, errno.ENOENT,
     r"cannot open nowhere/out\.stl for writing: No such file or directory"),
    (TORUS, ".", stlrefine.OutputError, errno.EISDIR, r"cannot open \. for writing: Is a directory"),
    # Without the lines the reason is unknown: (caught, not caught).
    (TORUS, "/dev/full", stlrefine.OutputError, (errno.ENOSPC, None),
     r"cannot write /dev/full: No space left on device"),
    (TORUS, "read-only.stl", stlrefine.OutputError, errno.EACCES,
     r"cannot open read-only\.stl for writing: Permission denied"),
])
def test_nothing_written_raises(tmp_path, monkeypatch, caught, source, target, error, code, message):
    if target == "read-only.stl":
        if os.geteuid() == 0:
            pytest.skip("root may write any file")
        (tmp_path / target).write_bytes(b"old")
        (tmp_path / target).chmod(0o444)
    if not caught:
        monkeypatch.setattr(stlrefine, "_call_catching_stdout", without_the_lines)
    monkeypatch.chdir(tmp_path)
    with pytest.raises(error) as raised:
        stlrefine.refine(source, target, quiet=True)
    code = code[not caught] if isinstance(code, tuple) else code
    assert isinstance(raised.value, OSError) and raised.value.errno == code
    if caught:
        assert re.fullmatch(message, str(raised.value))
    assert sorted(os.listdir()) == (["read-only.stl"] if target == "read-only.stl" else [])
    if target == "read-only.stl":
        assert pathlib.Path(target).read_bytes() == b"old"


@pytest.mark.parametrize("existing", [False, True])
def test_without_the_lines_a_new_file_is_a_written_one(tmp_path, monkeypatch, existing):
    monkeypatch.setattr(stlrefine, "_call_catching_stdout", without_the_lines)
    output = tmp_path / "out.stl"
    if existing:
        output.write_bytes(b"old")
    assert stlrefine.refine(TORUS, output) == (None,) * 5
    assert facet_count(output) == 2304


@pytest.mark.parametrize("arguments, error", [
    (dict(iterations="2"), TypeError),
    (dict(iterations=1.5), TypeError),
    (dict(iterations=True), TypeError),
    (dict(iterations=2**31), OverflowError),
    (dict(iterations=-2**31 - 1), OverflowError),
    (dict(max_height="high"), ValueError),
    (dict(input="in\0put.stl"), ValueError),
    (dict(output="out\0put.stl"), ValueError),
    (dict(input=None), TypeError),
])
def test_bad_arguments_raise_before_calling(tmp_path, arguments, error):
    call = dict(input=TORUS, output=tmp_path / "out.stl") | arguments
    with pytest.raises(error):
        stlrefine.refine(**call)
    assert list(tmp_path.iterdir()) == []


@pytest.mark.parametrize("named", ["/nonexistent/libstlrefine.so", "libc.so.6"])
def test_explicit_library_that_does_not_load_is_a_clear_error(monkeypatch, named):
    # libc loads but lacks the entry points: still the module's own error.
    monkeypatch.setenv("STLREFINE_LIBRARY", named)
    with pytest.raises(stlrefine.LibraryNotFoundError, match="STLREFINE_LIBRARY=.*" + re.escape(named)):
        stlrefine.refine(TORUS, "unused.stl")


def run_python(code_or_args, pythonpath, tmp_path, library=None):
    env = {k: v for k, v in os.environ.items() if k not in ("STLREFINE_LIBRARY", "LD_LIBRARY_PATH")}
    env["PYTHONPATH"] = str(pythonpath)
    if library is not None:
        env["STLREFINE_LIBRARY"] = library
    args = ["-c", code_or_args] if isinstance(code_or_args, str) else code_or_args
    return subprocess.run([sys.executable, *args], env=env, cwd=tmp_path,
                          capture_output=True, text=True)


def system_has_library():
    probe = run_python("import ctypes.util; print(ctypes.util.find_library('stlrefine') or '')",
                       ROOT, pathlib.Path.cwd())
    return bool(probe.stdout.strip())


def test_library_beside_the_module_is_found(tmp_path):
    copy = tmp_path / "site" / "stlrefine"
    shutil.copytree(PACKAGE, copy, ignore=shutil.ignore_patterns("__pycache__"))
    shutil.copy(os.environ["STLREFINE_LIBRARY"], copy / "libstlrefine.so")
    run = run_python("import stlrefine; print(stlrefine.library_path())", copy.parent, tmp_path)
    assert run.returncode == 0, run.stderr
    assert run.stdout.strip() == str(copy / "libstlrefine.so")


def test_no_library_anywhere_is_a_clear_error(tmp_path):
    if system_has_library():
        pytest.skip("an stlrefine library is installed system-wide")
    copy = tmp_path / "site" / "stlrefine"
    shutil.copytree(PACKAGE, copy, ignore=shutil.ignore_patterns("__pycache__"))
    run = run_python("import stlrefine; stlrefine.refine('a.stl', 'b.stl')", copy.parent, tmp_path)
    assert "LibraryNotFoundError" in run.stderr
    assert "cannot find the stlrefine shared library" in run.stderr
    assert "STLREFINE_LIBRARY" in run.stderr


def test_example_script(tmp_path):
    run = run_python([str(ROOT / "examples" / "refine.py"), "refined.stl", "-n", "1"],
                     ROOT / "python", tmp_path, library=os.environ["STLREFINE_LIBRARY"])
    assert run.returncode == 0, run.stderr
    facets = facet_count(tmp_path / "refined.stl")
    assert f"{facets} written to refined.stl" in run.stdout
