#!/usr/bin/env python3
"""Runs every case of this folder (format in README.md) through a host;
exit status 1 when any case fails:

    run_cases.py --cli PATH      the command-line tool: stdout, exit status, output bytes
    run_cases.py --library PATH  the shared library's exports through ctypes, in a
                                 child: stdout, the call's result, output bytes
    run_cases.py --module PATH   python3 -m stlrefine (python/, through refine()) on
                                 that library: as the CLI
"""
import os
import pathlib
import subprocess
import sys
import tempfile
import zlib

HERE = pathlib.Path(__file__).resolve().parent
# One call of the export a host would make; its result is the exit status.
LIBRARY = ("import ctypes, sys\nlib = ctypes.CDLL(sys.argv[1])\nheight = sys.argv[5:]\n"
           "f = lib.subdivision_noWeight_heightDetect if height else lib.subdivision_noWeight\n"
           "f.argtypes = [ctypes.c_wchar_p, ctypes.c_wchar_p, ctypes.c_int] + [ctypes.c_float] * len(height)\n"
           "sys.exit(f(sys.argv[2], sys.argv[3], int(sys.argv[4]), *map(float, height)))")


def load(path):
    pairs = (line.split(": ", 1) for line in path.read_text().splitlines()
             if ": " in line and not line.startswith("#"))
    return dict(pairs)


def check_output(case, folder, target):
    expected = case["output"]
    if expected == "none":
        created = sorted(str(p.relative_to(folder)) for p in folder.rglob("*"))
        return [f"created {created}"] if created else []
    if not target.is_file():
        return ["no output file"]
    data = target.read_bytes()
    if expected.startswith("crc32 "):
        actual = f"crc32 {zlib.crc32(data):08x} {len(data)}"
        return [] if actual == expected else [f"output is {actual}, expected {expected}"]
    return [] if data == (HERE / expected).read_bytes() else ["output bytes differ"]


def main():
    if len(sys.argv) != 3 or sys.argv[1] not in ("--cli", "--library", "--module"):
        sys.exit(__doc__)
    cli = {"--cli": [sys.argv[2]], "--module": [sys.executable, "-m", "stlrefine"]}.get(sys.argv[1])
    env = dict(os.environ, STLREFINE_LIBRARY=sys.argv[2], PYTHONPATH=HERE.parents[1] / "python")
    failed = 0
    cases = sorted(HERE.glob("*.case"))
    for path in cases:
        case = load(path)
        height = ["--max-height", case["max-height"]] if "max-height" in case else []
        with tempfile.TemporaryDirectory() as temporary:
            folder = pathlib.Path(temporary)
            source = folder / "missing.stl" if case["input"] == "none" else HERE / case["input"]
            target = folder / case.get("output-path", "out.stl")
            if "existing" in case:
                target.write_bytes((HERE / case["existing"]).read_bytes())
            if cli:
                command = [*cli, "-n", case["iterations"], *height, "--", source, target]
                status = int(case["exit"])
            else:
                command = [sys.executable, "-c", LIBRARY, sys.argv[2], source, target, case["iterations"], *height[1:]]
                status = int(case["result"])
            done = subprocess.run(command, capture_output=True, timeout=300, env=env)
            problems = [f"exit status {done.returncode}, expected {status}: {done.stderr!r}"] if done.returncode != status else []
            if done.stdout != (HERE / f"{path.stem}.transcript").read_bytes():
                problems.append("transcript differs:\n" + done.stdout.decode(errors="replace"))
            problems += check_output(case, folder, target)
        failed += bool(problems)
        print(("FAIL  " if problems else "ok    ") + path.stem)
        for problem in problems:
            print("      " + problem.replace("\n", "\n      "))
    print(f"{len(cases) - failed} of {len(cases)} cases passed")
    return 1 if failed or not cases else 0


if __name__ == "__main__":
    sys.exit(main())
