"""Both command lines, the native stlrefine and `python3 -m stlrefine`, over
one table of argument lists: exit status, the message on standard error and
the files written. The two must also agree with each other byte for byte on
standard output and in every file.

    python3 tests/cli_cases.py NATIVE_CLI LIBRARY
"""
import os
import pathlib
import re
import shlex
import shutil
import subprocess
import sys
import tempfile

ROOT = pathlib.Path(__file__).resolve().parents[1]
NATIVE, LIBRARY = map(os.path.abspath, sys.argv[1:3])
PYTHON = [sys.executable, "-m", "stlrefine"]
ODD = "caf\udce9.stl"  # a name whose byte 0xE9 is not UTF-8
TRY = "Try 'stlrefine --help' for more information.\n"

# Arguments, exit status, the start of the first message (a pattern, after
# "stlrefine: "),
# and files to find afterwards with their facet counts (None: must not exist).
CASES = [
    ("-n2 t.stl", 0, r"wrote t\.refined\.stl: 576 facets in, 9216 out, 2 of 2 iterations", {"t.refined.stl": 9216}),
    ("t.stl -qn 0 o.stl", 0, r"wrote o\.stl: 576 facets in, 576 out, 0 of 0 iterations", {"o.stl": 576}),
    ("--iterations=+1 t.stl o.stl", 0, r"wrote o\.stl: 576 facets in, 2304 out", {"o.stl": 2304}),
    ("-q --iterations 10 t.stl", 0, r".* 4 of 10 iterations \(stopped: over 50000 vertices\)", {"t.refined.stl": 147456}),
    ("-q --max-height=0x1.99999ap-3 -n5 t.stl", 0,
     r".* 1 of 5 iterations \(stopped: no triangle taller than 0\.2\)", {"t.refined.stl": 2304}),
    ("-q --max-height ' +1e99' -n 3 t.stl", 0, r".* 0 of 3 iterations \(stopped: no triangle taller than inf\)", {}),
    ("-q --max-height 1e-50 t.stl", 0, r".* 1 of 1 iterations$", {}),
    ("-q -- -t.stl", 0, r"wrote -t\.refined\.stl", {"-t.refined.stl": 2304}),
    (f"-q -n0 {ODD}", 0, r"wrote caf\udce9\.refined\.stl", {"caf\udce9.refined.stl": 576}),
    ("-q", 0, r"no INPUT given: refining the bundled example .*torus\.stl", {"torus.refined.stl": 2304}),
    ("-q missing.stl o.stl", 1, r"cannot open missing\.stl: No such file or directory", {"o.stl": None}),
    ("-q . o.stl", 1, r"cannot open \.: Is a directory", {"o.stl": None}),
    ("-q t.stl nowhere/o.stl", 3, r"cannot open nowhere/o\.stl for writing: No such file or directory", {}),
    ("-q t.stl .", 3, r"cannot open \. for writing: Is a directory", {}),
    ("-q t.stl /dev/full", 3, r"cannot write /dev/full: No space left on device", {}),
    ("-q not.stl", 4, r"not\.stl holds no mesh \(the first five bytes are not 'solid' and the size does not "
     r"match a binary STL\); wrote an empty solid to not\.refined\.stl", {"not.refined.stl": 0}),
    ("-q empty.stl e.stl", 4, r"empty\.stl holds no mesh \(no complete facet\)", {"e.stl": 0}),
    ("-n", 2, r"option '-n' needs a value", {}),
    ("t.stl --iterations", 2, r"option '--iterations' needs a value", {"t.refined.stl": None}),
    ("-n 1.5 t.stl", 2, r"invalid value '1\.5' for -n: not an integer", {"t.refined.stl": None}),
    ("--iterations=2147483648 t.stl", 2, r"invalid value '2147483648' for --iterations: out of the 32-bit range", {}),
    ("--max-height 1,5 t.stl", 2, r"invalid value '1,5' for --max-height: not a number", {}),
    ("--max-height '1 ' t.stl", 2, r"invalid value '1 ' for --max-height: not a number", {}),
    ("--quiet=yes t.stl", 2, r"option '--quiet' takes no value", {}),
    ("-qx t.stl", 2, r"unknown option '-x'", {}),
    ("--bogus --help", 2, r"unknown option '--bogus'", {}),
    ("a b c", 2, r"unexpected third file name 'c'", {}),
]


def facets(path):
    data = path.read_bytes()
    assert data.startswith(b"solid\n") and data.endswith(b"endsolid"), data[:40]
    return data.count(b"\nfacet normal ")


def run(command, args, folder, library=LIBRARY):
    env = dict(os.environ, PYTHONPATH=str(ROOT / "python"), STLREFINE_LIBRARY=library)
    return subprocess.run(command + args, cwd=folder, env=env, capture_output=True)


def fixtures(folder):
    for name in ("t.stl", "-t.stl", ODD):
        shutil.copyfile(ROOT / "examples" / "torus.stl", folder / name)
    (folder / "not.stl").write_bytes(b"hello\n")
    (folder / "empty.stl").write_bytes(bytes(84))  # binary, no facet


def main():
    failures = []

    def check(ok, what):
        if not ok:
            failures.append(what)

    for args, status, message, files in CASES:
        outcomes = []
        for name, command in (("native", [NATIVE]), ("python", PYTHON)):
            with tempfile.TemporaryDirectory() as temp:
                folder = pathlib.Path(temp)
                fixtures(folder)
                done = run(command, shlex.split(args), folder)
                err = os.fsdecode(done.stderr).replace("python3 -m stlrefine", "stlrefine")
                what = f"{name} {args!r}: status {done.returncode}, stderr {err!r}"
                check(done.returncode == status, what)
                check(re.match("stlrefine: " + message, err) is not None, what)
                if status == 2:
                    check(err.count("\n") == 2 and err.endswith(TRY), what)
                if "-q" in args or status == 2:
                    check(done.stdout == b"", f"{what}: stdout {done.stdout[:80]!r}")
                for file, count in files.items():
                    path = folder / file
                    check(path.exists() if count is not None else not path.exists(), f"{what}: {file}")
                    if count is not None and path.exists():
                        check(facets(path) == count, f"{what}: {file} has {facets(path)} facets")
                written = {p.name: p.read_bytes() for p in folder.iterdir() if p.name.endswith(".stl")}
                outcomes.append((done.returncode, done.stdout, err, written))
        check(outcomes[0] == outcomes[1], f"native and python differ on {args!r}")

    with tempfile.TemporaryDirectory() as temp:
        folder = pathlib.Path(temp)
        fixtures(folder)
        # Binary output carries the same floats: read back, it gives the same ASCII file.
        steps = ["--binary -q t.stl b.stl", "-q -n0 b.stl back.stl", "-q t.stl a.stl"]
        check(all(run([NATIVE], s.split(), folder).returncode == 0 for s in steps), "binary round trip ran")
        check((folder / "b.stl").read_bytes()[80:84] == (2304).to_bytes(4, "little"), "binary facet count")
        check((folder / "back.stl").read_bytes() == (folder / "a.stl").read_bytes(), "binary round trip")
        check(run(PYTHON, ["--binary", "t.stl"], folder).returncode == 2, "python refuses --binary")
        missing = run(PYTHON, ["t.stl"], folder, library=str(folder / "none.so"))
        check(missing.returncode == 5 and b"STLREFINE_LIBRARY" in missing.stderr
              and b"Traceback" not in missing.stderr, f"no library: {missing.stderr!r}")

    for failure in failures:
        print("FAIL", failure)
    print(f"{len(CASES)} cases, both command lines: {len(failures)} failures")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
