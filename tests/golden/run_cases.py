#!/usr/bin/env python3
"""run_cases.py [--crlf] cli|library COMMAND...: every case of this folder
through one host, a command line or a library's host (see README.md)."""
import pathlib
import subprocess
import sys
import tempfile
import zlib

HERE = pathlib.Path(__file__).resolve().parent


def unix(data, crlf):
    """`data` with CR LF line ends made LF, or None when a line end is not CR LF."""
    if not crlf:
        return data
    plain = data.replace(b"\r\n", b"\n")
    return plain if plain.replace(b"\n", b"\r\n") == data else None


def check_output(case, folder, target, crlf):
    expected = case["output"]
    there = sorted(folder.rglob("*"))
    if there != ([] if expected == "none" else [target]):
        return [f"the folder holds {[str(p.relative_to(folder)) for p in there]}"]
    if expected == "none":
        return []
    data = target.read_bytes()
    if expected != case.get("existing"):  # not the old file left untouched: the host's
        data = unix(data, crlf)
        if data is None:
            return ["output line ends are not all CR LF"]
        if expected.startswith("crc32 "):
            actual = f"crc32 {zlib.crc32(data):08x} {len(data)}"
            return [] if actual == expected else [f"output is {actual}, expected {expected}"]
    return [] if data == (HERE / expected).read_bytes() else ["output bytes differ"]


def cli_iterations(case):
    """The command lines refuse a negative -n; the library refines by a negative count as by 0."""
    return str(max(int(case["iterations"]), 0))


def main():
    crlf = sys.argv[1:2] == ["--crlf"]
    kind, *host = sys.argv[1 + crlf:] or [None]
    if kind not in ("cli", "library") or not host:
        sys.exit(__doc__)
    failed = 0
    cases = sorted(HERE.glob("*.case"))
    for path in cases:
        case = dict(line.split(": ", 1) for line in path.read_text().splitlines()
                    if ": " in line and not line.startswith("#"))
        height = ["--max-height", case["max-height"]] if "max-height" in case else []
        with tempfile.TemporaryDirectory() as temporary:
            folder = pathlib.Path(temporary)
            source = folder / "missing.stl" if case["input"] == "none" else HERE / case["input"]
            target = folder / case.get("output-path", "out.stl")
            if "existing" in case:
                target.write_bytes((HERE / case["existing"]).read_bytes())
            command = ([*host, "-n", cli_iterations(case), *height, "--", source, target] if kind == "cli"
                       else [*host, source, target, case["iterations"], *height[1:]])
            status = int(case["exit" if kind == "cli" else "result"])
            done = subprocess.run(command, capture_output=True, timeout=300)
            problems = [f"exit status {done.returncode}, expected {status}: {done.stderr!r}"] if done.returncode != status else []
            if unix(done.stdout, crlf) != (HERE / f"{path.stem}.transcript").read_bytes():
                problems.append("transcript differs:\n" + done.stdout.decode(errors="replace"))
            problems += check_output(case, folder, target, crlf)
        failed += bool(problems)
        print(("FAIL  " if problems else "ok    ") + path.stem)
        for problem in problems:
            print("      " + problem.replace("\n", "\n      "))
    print(f"{len(cases) - failed} of {len(cases)} cases passed")
    return 1 if failed or not cases else 0


if __name__ == "__main__":
    sys.exit(main())
