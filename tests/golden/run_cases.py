#!/usr/bin/env python3
"""Runs every case of this folder (format in README.md) through a host:

    run_cases.py --cli PATH     the command-line tool: stdout, exit status, output bytes
    run_cases.py --module       stlrefine.refine(): stdout at fd level, output bytes

The module is found through PYTHONPATH and loads the library named by
STLREFINE_LIBRARY. Exit status 1 when any case fails.
"""
import os
import pathlib
import subprocess
import sys
import tempfile
import zlib

HERE = pathlib.Path(__file__).resolve().parent


def load(path):
    pairs = (line.split(": ", 1) for line in path.read_text().splitlines()
             if ": " in line and not line.startswith("#"))
    return dict(pairs)


def run_cli(cli, case, source, target):
    command = [cli, "-n", case["iterations"]]
    if "max-height" in case:
        command += ["--max-height", case["max-height"]]
    done = subprocess.run(command + ["--", source, target], capture_output=True, timeout=300)
    wrong = done.returncode != int(case["exit"])
    return done.stdout, [f"exit status {done.returncode}, expected {case['exit']}"] if wrong else []


def run_module(case, source, target, writes):
    import stlrefine
    options = {"iterations": int(case["iterations"])}
    if "max-height" in case:
        options["max_height"] = float(case["max-height"])
    problems = []
    with tempfile.TemporaryFile() as sink:
        sys.stdout.flush()
        saved = os.dup(1)
        os.dup2(sink.fileno(), 1)
        try:
            value = stlrefine.refine(source, target, **options)
            if isinstance(value, bool) and value != (case["result"] == "1"):
                problems.append(f"returned {value}, library result {case['result']}")
        except OSError as error:  # allowed when no output was written
            if writes:
                problems.append(f"raised {error!r} although the output was written")
        finally:
            os.dup2(saved, 1)
            os.close(saved)
        sink.seek(0)
        return sink.read(), problems


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
    cli = sys.argv[2] if len(sys.argv) == 3 and sys.argv[1] == "--cli" else None
    if not cli and sys.argv[1:] != ["--module"]:
        sys.exit(__doc__)
    failed = 0
    cases = sorted(HERE.glob("*.case"))
    for path in cases:
        case = load(path)
        with tempfile.TemporaryDirectory() as temporary:
            folder = pathlib.Path(temporary)
            source = folder / "missing.stl" if case["input"] == "none" else HERE / case["input"]
            target = folder / case.get("output-path", "out.stl")
            if "existing" in case:
                target.write_bytes((HERE / case["existing"]).read_bytes())
            if cli:
                transcript, problems = run_cli(cli, case, source, target)
            else:
                writes = case["output"] not in ("none", case.get("existing"))
                transcript, problems = run_module(case, source, target, writes)
            if transcript != (HERE / f"{path.stem}.transcript").read_bytes():
                problems.append("transcript differs:\n" + transcript.decode(errors="replace"))
            problems += check_output(case, folder, target)
        failed += bool(problems)
        print(("FAIL  " if problems else "ok    ") + path.stem)
        for problem in problems:
            print("      " + problem.replace("\n", "\n      "))
    print(f"{len(cases) - failed} of {len(cases)} cases passed")
    return 1 if failed or not cases else 0


if __name__ == "__main__":
    sys.exit(main())
