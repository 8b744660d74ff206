#!/usr/bin/env python3
"""Runs every case of this folder (format in README.md) through a host:

    run_cases.py --cli PATH      the command-line tool: stdout, exit status, output bytes
    run_cases.py --library PATH  the shared library's exports through ctypes, in a
                                 child: stdout, the call's result, output bytes
    run_cases.py --module PATH   stlrefine.refine() of the module beside python/ on
                                 that library, in a child: stdout, the error raised

Exit status 1 when any case fails.
"""
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
# refine() raises exactly when no output was written: InputError where the
# CLI exits 1, OutputError where it exits 3.
MODULE = (f"import os, sys\nos.environ['STLREFINE_LIBRARY'] = sys.argv[1]\n"
          f"sys.path.insert(0, {str(HERE.parents[1] / 'python')!r})\nimport stlrefine\n"
          "try: stlrefine.refine(sys.argv[2], sys.argv[3], int(sys.argv[4]), *map(float, sys.argv[5:]))\n"
          "except stlrefine.InputError: sys.exit(1)\nexcept stlrefine.OutputError: sys.exit(3)")


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
    cli = sys.argv[2] if sys.argv[1] == "--cli" else None
    module = sys.argv[1] == "--module"
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
                command = [cli, "-n", case["iterations"], *height, "--", source, target]
                status = int(case["exit"])
            else:
                command = [sys.executable, "-c", MODULE if module else LIBRARY, sys.argv[2], source, target,
                           case["iterations"], *height[1:]]
                status = int(case["result"])
                if module:
                    status = int(case["exit"]) if case["output"] in ("none", case.get("existing")) else 0
            done = subprocess.run(command, capture_output=True, timeout=300)
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
