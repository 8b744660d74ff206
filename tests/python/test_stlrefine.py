"""The Python module: arguments reach the library intact, results map to
bool, the library is found (or a clear error is raised), the CLI's exit
statuses, and the example script.

Run by ctest with STLREFINE_LIBRARY naming the freshly built library and
PYTHONPATH holding python/.
"""

import os
import pathlib
import re
import shutil
import subprocess
import sys

import pytest

import stlrefine

ROOT = pathlib.Path(__file__).resolve().parents[2]
TORUS = ROOT / "examples" / "torus.stl"
PACKAGE = ROOT / "python" / "stlrefine"


def facet_count(path):
    """Facets of an ASCII STL as the library writes it; fails on any other shape."""
    data = pathlib.Path(path).read_bytes()
    assert data.startswith(b"solid\n") and data.endswith(b"\nendsolid"), data[:40]
    text = data.decode("ascii")
    facets = len(re.findall(r"^facet normal \S+ \S+ \S+$", text, re.M))
    assert facets > 0
    assert len(re.findall(r"^vertex \S+ \S+ \S+$", text, re.M)) == 3 * facets
    assert text.count("\nendfacet\n") == facets
    return facets


def counts(transcript):
    """(faces before, faces after, height lines) from the library's progress lines."""
    before = int(re.search(r"^total face before: (\d+)$", transcript, re.M).group(1))
    after = int(re.search(r"^total face after: (\d+)$", transcript, re.M).group(1))
    return before, after, len(re.findall(r"^-------max hight in triangles: ", transcript, re.M))


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
def test_refine_accepts_str_and_pathlike(tmp_path, capfd, kind):
    output = tmp_path / "out.stl"
    assert stlrefine.refine(kind(TORUS), kind(output)) is True
    assert "subdivision triangle done!!" in capfd.readouterr().out
    assert facet_count(output) > 0


def test_non_ascii_paths_reach_the_library_intact(tmp_path):
    # Wide strings on Linux are UTF-32: a non-BMP character checks the whole range.
    folder = tmp_path / "m\u00e9sh \u4e09\u89d2 \U0001f9ca"
    folder.mkdir()
    source = folder / "t\u00f8rus.stl"
    shutil.copyfile(TORUS, source)
    output = folder / "r\u00e9sultat \U0001f9ca.stl"
    assert stlrefine.refine(source, output, iterations=0)
    assert sorted(p.name for p in folder.iterdir()) == sorted([source.name, output.name])
    facet_count(output)


def test_missing_input_returns_false_and_writes_nothing(tmp_path, capfd):
    output = tmp_path / "out.stl"
    assert stlrefine.refine(tmp_path / "missing.stl", output) is False
    assert capfd.readouterr().out == "I/O fail\n"
    assert not output.exists()


def test_iterations_reach_the_library(tmp_path, capfd):
    output = tmp_path / "out.stl"
    assert stlrefine.refine(TORUS, output, iterations=0)
    before, after, heights = counts(capfd.readouterr().out)
    assert (after, heights) == (before, 0)
    assert facet_count(output) == before

    assert stlrefine.refine(TORUS, output, iterations=1)
    before, after, heights = counts(capfd.readouterr().out)
    assert after > before and heights == 0


@pytest.mark.parametrize("max_height, refines", [(1e6, False), (0.5, False), (0.2, True)])
def test_max_height_reaches_the_library_as_float(tmp_path, capfd, max_height, refines):
    # The torus's tallest triangle is 0.375 along z. A threshold passed as a
    # double would arrive as garbage (1e6 reads as 0.0f) and refine anyway.
    assert stlrefine.refine(TORUS, tmp_path / "out.stl", iterations=3, max_height=max_height)
    before, after, heights = counts(capfd.readouterr().out)
    assert heights >= 1
    assert (after > before) == refines


@pytest.mark.parametrize("max_height", [float("inf"), float("nan"), -1.0, 0])
def test_any_threshold_is_accepted(tmp_path, max_height):
    assert stlrefine.refine(TORUS, tmp_path / "out.stl", iterations=1, max_height=max_height)


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


@pytest.mark.parametrize("args, status, stream, text", [
    (["IN", "out.stl", "-n", "2"], 0, "stdout", "subdivision triangle done!!"),
    (["IN", "out.stl", "--max-height", "0.5"], 0, "stdout", "max hight in triangles: 0.375"),
    (["missing.stl", "out.stl"], 1, "stdout", "I/O fail"),
    (["IN"], 2, "stderr", "usage:"),
    (["IN", "out.stl", "-n", "x"], 2, "stderr", "invalid int value"),
    (["IN", "out.stl", "-n", "99999999999"], 2, "stderr", "32-bit"),
])
def test_cli(tmp_path, args, status, stream, text):
    args = [str(TORUS) if a == "IN" else a for a in args]
    run = run_python(["-m", "stlrefine", *args], ROOT / "python", tmp_path,
                     library=os.environ["STLREFINE_LIBRARY"])
    assert run.returncode == status, run.stderr
    assert text in getattr(run, stream)
    if status == 0:
        facet_count(tmp_path / "out.stl")
    else:
        assert not (tmp_path / "out.stl").exists()


def test_cli_without_library_exits_3(tmp_path):
    run = run_python(["-m", "stlrefine", str(TORUS), "out.stl"], ROOT / "python", tmp_path,
                     library=str(tmp_path / "nothing.so"))
    assert run.returncode == 3
    assert "STLREFINE_LIBRARY" in run.stderr and "Traceback" not in run.stderr


def test_example_script(tmp_path):
    run = run_python([str(ROOT / "examples" / "refine.py"), "refined.stl", "-n", "1"],
                     ROOT / "python", tmp_path, library=os.environ["STLREFINE_LIBRARY"])
    assert run.returncode == 0, run.stderr
    facets = facet_count(tmp_path / "refined.stl")
    assert f"{facets} facets written to refined.stl" in run.stdout
