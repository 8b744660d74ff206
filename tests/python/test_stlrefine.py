"""The module's API beyond tests/cli_cases.py and the golden cases. Run by ctest
(STLREFINE_LIBRARY, PYTHONPATH=python/)."""
import concurrent.futures
import os
import pathlib
import shutil
import subprocess
import sys

import pytest

import stlrefine
from stlrefine import InputError, RefineError

ROOT = pathlib.Path(__file__).resolve().parents[2]
TORUS = ROOT / "examples" / "torus.stl"
FILES = {"t.stl": TORUS.read_bytes(), "empty.stl": bytes(84), "corners.stl": b"solid t\nvertex 0 0 0\nvertex 1 0 0\n"}

# input, output, keyword arguments, then a RefineResult or the error raised.
CALLS = [
    ("t.stl", "o.stl", dict(iterations=-5), ("binary", 576, 576, 0, None)),
    ("t.stl", "o.stl", dict(iterations=3, max_height=0.2), ("binary", 576, 2304, 1, "height")),
    ("t.stl", "o.stl", dict(max_height=float("nan")), ("binary", 576, 576, 0, "height")),
    ("empty.stl", "o.stl", dict(iterations=2), ("binary", 0, 0, 2, None)),
    ("corners.stl", "o.stl", dict(max_height=0), ("ascii", 0, 0, 0, "height")),
    ("t.stl", "o.stl", dict(iterations=1.5), TypeError),
    ("t.stl", "o.stl", dict(iterations=True), TypeError),
    ("t.stl", "o.stl", dict(iterations=2**31), OverflowError),
    ("t.stl", "o.stl", dict(iterations=-2**31 - 1), OverflowError),
    ("t.stl", "o\0.stl", {}, ValueError),
    (None, "o.stl", {}, TypeError),
]


@pytest.mark.parametrize("source, target, arguments, expected", CALLS)
def test_result_or_error(tmp_path, monkeypatch, source, target, arguments, expected):
    for name, data in FILES.items():
        (tmp_path / name).write_bytes(data)
    monkeypatch.chdir(tmp_path)
    stlrefine._load()
    if isinstance(expected, tuple):
        assert stlrefine.refine(source, target, **arguments) == expected
        assert pathlib.Path(target).read_bytes().count(b"\nfacet normal ") == expected[2]
        assert sorted(os.listdir()) == sorted({*FILES, target})
    else:
        with pytest.raises(expected):
            stlrefine.refine(source, target, **arguments)
        assert {name: pathlib.Path(name).read_bytes() for name in os.listdir()} == FILES


# What the library returned and printed (lines of injected faults; none caught), and what refine() makes of it.
@pytest.mark.parametrize("printed, expected", [
    ((0, b"it binary_stl !!\nerror: cannot read in: \nerror: x: Input/output error, mesh not refined\n"),
     (InputError, "cannot read in: \nerror: x: Input/output error", None)),
    ((1, b""), (None,) * 5),
    ((0, b""), (RefineError, "cannot refine in: \nerror: x into out: the library reported a failure; "
                             "its progress lines could not be read", None)),
])
def test_outcome_from_what_the_library_printed(monkeypatch, printed, expected):
    monkeypatch.setattr(stlrefine, "_call_catching_stdout", lambda function, arguments: printed)
    try:
        assert stlrefine.refine("in: \nerror: x", "out", quiet=True) == expected
    except RefineError as error:
        assert (type(error), str(error), error.errno) == expected


def test_only_the_api_is_public():
    assert [name for name in dir(stlrefine) if not name.startswith("_")] == sorted(stlrefine.__all__)


def python(args, folder, library=None, path=None):
    env = {k: v for k, v in os.environ.items() if k not in ("STLREFINE_LIBRARY", "LD_LIBRARY_PATH", "PYTHONUNBUFFERED")}
    env.update({"PYTHONPATH": str(path or folder)}, **({"STLREFINE_LIBRARY": library} if library else {}))
    return subprocess.run([sys.executable, *args], cwd=folder, env=env, capture_output=True, text=True)


def test_progress_lines_follow_our_own_output(tmp_path):
    # Standard output is a pipe: Python buffers "ours", the library writes to fd 1.
    code = f"import stlrefine; print('ours'); stlrefine.refine({str(TORUS)!r}, 'o.stl')"
    out = python(["-c", code], tmp_path, os.environ["STLREFINE_LIBRARY"], ROOT / "python").stdout
    assert out.startswith("ours\nit binary_stl !!\n") and out.endswith("subdivision triangle done!!\n")


@pytest.mark.parametrize("kind", [str, pathlib.Path, os.fsencode])
def test_every_kind_of_path_and_name_reaches_the_library(tmp_path, kind):
    # Wide strings on Linux are UTF-32: a non-BMP character checks the whole
    # range, and U+DCE9 stands for a byte 0xE9 that is not UTF-8.
    folder = tmp_path / "m\u00e9sh \u4e09\u89d2 \U0001f9ca"
    folder.mkdir()
    source, output = folder / "caf\udce9.stl", folder / "r\u00e9sultat \U0001f9ca \udcff.stl"
    shutil.copyfile(TORUS, source)
    assert stlrefine.refine(kind(source), kind(output), iterations=0, quiet=True).facets_out == 576
    assert sorted(os.listdir(os.fsencode(folder))) == sorted(map(os.fsencode, [source.name, output.name]))


def test_concurrent_calls_get_their_own_counts(tmp_path):
    with concurrent.futures.ThreadPoolExecutor(4) as pool:
        got = pool.map(lambda n: stlrefine.refine(TORUS, tmp_path / f"{n}.stl", iterations=n, quiet=True), range(4))
    assert [result.facets_out for result in got] == [576 * 4**n for n in range(4)]


def test_library_beside_the_module_is_found(tmp_path):
    shutil.copytree(ROOT / "python" / "stlrefine", tmp_path / "stlrefine", ignore=shutil.ignore_patterns("__pycache__"))
    shutil.copy(os.environ["STLREFINE_LIBRARY"], tmp_path / "stlrefine" / "libstlrefine.so")
    run = python(["-c", "import stlrefine; print(stlrefine.library_path())"], tmp_path)
    assert run.stdout == f"{tmp_path}/stlrefine/libstlrefine.so\n", run.stderr
