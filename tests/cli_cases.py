"""python3 tests/cli_cases.py NATIVE_CLI LIBRARY: both command lines, the native stlrefine and
`python3 -m stlrefine`, over one table of argument lists."""
import os
import pathlib
import re
import shlex
import subprocess
import sys
import tempfile

ROOT = pathlib.Path(__file__).resolve().parents[1]
NATIVE, LIBRARY = map(os.path.abspath, sys.argv[1:3])
PYTHON = [sys.executable, "-m", "stlrefine"]
ODD = "caf\udce9.stl"  # a name whose byte 0xE9 is not UTF-8

# Arguments ("< F" feeds file F to standard input, "> F" sends standard output to it), exit status, the message
# on standard error (a pattern after "stlrefine: ", progress lines before it allowed; None: none), the files written
# with their facet counts ("-": standard output). python3 -m stlrefine does the same byte for byte, or what the row
# adds (docs/python.md says why): NO_REASON (no reason for an unopened file), ARGPARSE (a usage error in
# argparse's words), NATIVE_ONLY (an option the module refuses) or (status, message, files).
NO_REASON, ARGPARSE = "no reason", "argparse"
NATIVE_ONLY = (2, r".*needs the native stlrefine", {})
LONG = "L" * 250 + ".stl"  # its output name is too long for the file system
CASES = [
    ("-n2 t.stl", 0, r"wrote t\.refined\.stl: 576 facets in, 9216 out, 2 of 2 iterations", {"t.refined.stl": 9216}),
    ("t.stl -qn 0 o.stl", 0, r"wrote o\.stl: 576 facets in, 576 out, 0 of 0 iterations", {"o.stl": 576}),
    ("--iterations=+1 t.stl o.stl", 0, r"wrote o\.stl: 576 facets in, 2304 out", {"o.stl": 2304}),
    ("-q --iterations 10 t.stl", 0, r".* 4 of 10 iterations \(stopped: over 50000 vertices\)", {"t.refined.stl": 147456}),
    ("-q --max-height ' +1e99' -n 3 t.stl", 0, r".* 0 of 3 iterations \(stopped: no triangle taller than inf\)",
     {"t.refined.stl": 576}),
    ("-q --max-height 1e-50 t.stl", 0, r".* 4 iterations \(stopped: over 50000 vertices\)$", {"t.refined.stl": 147456}),
    ("-q --max-height=-nan t.stl", 0, r".* 0 iterations .* taller than -nan\)$", {"t.refined.stl": 576}),
    ("-q --max-height -1e9 -n1 t.stl", 0, r".* 1 of 1 iterations$", {"t.refined.stl": 2304}, ARGPARSE),  # an option to argparse
    ("-q -- -t.stl", 0, r"wrote -t\.refined\.stl", {"-t.refined.stl": 2304}),
    (f"-q -n0 {ODD}", 0, r"wrote caf\udce9\.refined\.stl", {"caf\udce9.refined.stl": 576}),
    ("", 2, r"usage: stlrefine \[OPTIONS\] INPUT \[OUTPUT\]\n   or: ", {}),
    ("-q -n -3 t.stl", 2, r"invalid value '-3' for -n: less than 0", {}, ARGPARSE),
    # Standard streams: "-" is one even after "--"; "./-" names a file.
    ("-n2 - - < t.stl", 0, r"wrote -: 576 facets in, 9216 out, 2 of 2 iterations", {"-": 9216}, NATIVE_ONLY),
    ("-q -- - o.stl < not.stl", 4, r"- holds no mesh .*; wrote an empty solid to o\.stl", {"o.stl": 0}, NATIVE_ONLY),
    ("-q ./- o.stl", 1, r"cannot open \./-: No such file or directory", {}, NO_REASON),
    ("-q t.stl - > /dev/full", 3, r"cannot write -: No space left on device", {}, NATIVE_ONLY),
    ("--json t.stl -", 2, r"--json writes to standard output", {}, NATIVE_ONLY),
    # Batches: lines in the order of the inputs; the status of the worst failure (1, 3, 4, 0); usage errors first.
    ("-j2 -d . t.stl missing.stl -- -t.stl not.stl", 1, r"wrote \./t\.refined\.stl: .*\nstlrefine: cannot open missing\.stl: "
     r".*\nstlrefine: wrote \./-t\.refined\.stl: .*\nstlrefine: not\.stl holds no mesh",
     {"t.refined.stl": 2304, "-t.refined.stl": 2304, "not.refined.stl": 0}, NATIVE_ONLY),
    (f"-qj1 --output-dir=. not.stl {LONG}", 3, r"not\.stl holds no mesh .*\nstlrefine: cannot open \./L+\.refined\.stl for "
     r"writing: File name too long", {"not.refined.stl": 0}, NATIVE_ONLY),
    ("-q -d. - t.stl < t.stl", 0, r"wrote \./stdin\.refined\.stl.*\nstlrefine: wrote \./t\.refined", {"stdin.refined.stl": 2304,
     "t.refined.stl": 2304}, NATIVE_ONLY),
    ("-q -d . t.stl ./t.stl", 2, r"inputs 't\.stl' and '\./t\.stl' would both write '\./t\.refined\.stl'", {}, NATIVE_ONLY),
    ("-q -d . - t.stl -", 2, r"standard input '-' given more than once", {}, NATIVE_ONLY),
    ("-q -j 0 -d . t.stl", 2, r"invalid value '0' for -j: less than 1", {}, NATIVE_ONLY),
    ("--version", 0, None, {}),
    ("-q t.stl /dev/stdout", 0, r"wrote /dev/stdout: 576 facets in, 2304 out", {"/dev/stdout": 2304}),
    ("-q t.stl /dev/full", 3, r"cannot write /dev/full: No space left on device", {}),
    ("-q not.stl", 4, r"not\.stl holds no mesh \(the first five bytes are not 'solid' .*\); wrote an empty solid "
     r"to not\.refined\.stl", {"not.refined.stl": 0}),
    ("-q empty.stl e.stl", 4, r"empty\.stl holds no mesh \(no complete facet\)", {"e.stl": 0}),
    ("a b c", 2, r"unexpected third file name 'c'", {}),
    ("-q missing.stl o.stl", 1, r"cannot open missing\.stl: No such file or directory", {}, NO_REASON),
    ("-q . o.stl", 1, r"cannot open \.: Is a directory", {}, NO_REASON),
    ("-q t.stl nowhere/o.stl", 3, r"cannot open nowhere/o\.stl for writing: No such file or directory", {}, NO_REASON),
    ("-q t.stl .", 3, r"cannot open \. for writing: Is a directory", {}, NO_REASON),
    ("-n", 2, r"option '-n' needs a value", {}, ARGPARSE),
    ("t.stl --iterations", 2, r"option '--iterations' needs a value", {}, ARGPARSE),
    ("-n 1.5 t.stl", 2, r"invalid value '1\.5' for -n: not an integer", {}, ARGPARSE),
    ("-n 2147483648 t.stl", 2, r"invalid value '2147483648' for -n: out of the 32-bit range", {}, ARGPARSE),
    ("--max-height 1,5 t.stl", 2, r"invalid value '1,5' for --max-height: not a number", {}, ARGPARSE),
    ("--quiet=yes t.stl", 2, r"option '--quiet' takes no value", {}, ARGPARSE),
    ("-qx t.stl", 2, r"unknown option '-x'", {}, ARGPARSE),
    ("--bogus --help", 2, r"unknown option '--bogus'", {}, (0, None, {})),  # argparse acts on --help at once
    # Numbers: strtol and strtof against Python's int() and float().
    ("-q --max-height=0x1.99999ap-3 -n5 t.stl", 0, r".* 1 of 5 .* than 0\.2\)", {"t.refined.stl": 2304}, ARGPARSE),
    ("-q --max-height '1 ' t.stl", 2, r"invalid value '1 ' for --max-height: not a number", {},
     (0, r".* 0 iterations \(stopped: no triangle taller than 1\)$", {"t.refined.stl": 576})),
    ("-q -n 0_0 t.stl", 2, r"invalid value '0_0' for -n: not an integer", {},
     (0, r".* 0 of 0 iterations$", {"t.refined.stl": 576})),
]


TORUS = (ROOT / "examples" / "torus.stl").read_bytes()
FIXTURES = {"t.stl": TORUS, "-t.stl": TORUS, ODD: TORUS, LONG: TORUS, "not.stl": b"hello\n", "empty.stl": bytes(84)}  # empty: no facet


def facets(data):
    return data.count(b"\nfacet normal ") if data.startswith(b"solid\n") and data.endswith(b"endsolid") else data


def run(command, args, folder, library=LIBRARY, stdin=None, stdout=subprocess.PIPE):
    env = dict(os.environ, PYTHONPATH=str(ROOT / "python"), STLREFINE_LIBRARY=library)
    return subprocess.run(command + args, cwd=folder, env=env, stdin=stdin, stdout=stdout, stderr=subprocess.PIPE)


def outcome(command, args):
    streams = {"<": None, ">": None}
    for sign in streams:
        if sign in args:
            streams[sign] = args.pop(args.index(sign) + 1)
            args.remove(sign)
    with tempfile.TemporaryDirectory() as temp:
        for name, data in FIXTURES.items():
            pathlib.Path(temp, name).write_bytes(data)
        with open(os.path.join(temp, streams["<"] or os.devnull), "rb") as stdin, open(streams[">"] or os.devnull, "wb") as out:
            done = run(command, args, temp, stdin=stdin, stdout=out if streams[">"] else subprocess.PIPE)
        done.stdout = done.stdout or b""
        written = {p.name: p.read_bytes() for p in pathlib.Path(temp).iterdir() if p.name not in FIXTURES}
        if done.stdout and ("/dev/stdout" in args or args[-1:] == ["-"]):  # a pipe, written through its name or "-"
            written[args[-1]], done.stdout = done.stdout, b""
    return done.returncode, done.stdout, os.fsdecode(done.stderr).replace("python3 -m stlrefine", "stlrefine"), written


def problems(host, args, status, message, files, got):
    code, out, err, written = got
    checks = {
        "exit status": code == status,
        "message": err == "" if message is None else re.match(r"(?:(?!stlrefine: |usage: )[^\n]*\n)*"
                                                             + ("" if message.startswith("usage") else "stlrefine: ") + message, err),
        "usage error: one line (or the usage) and the hint": status != 2 or (err.count("\n") == 2 + message.startswith("usage")
                                                                and err.endswith("Try 'stlrefine --help' for more information.\n")),
        "quiet": not out or ("-q" not in args and status != 2),
        "files written": {name: facets(data) for name, data in written.items()} == files,
    }
    return [f"{host} {args!r}: {what}: {got[:3]} {sorted(written)}" for what, ok in checks.items() if not ok]


failures = []
for args, status, message, files, *differs in CASES:
    native, module = outcome([NATIVE], shlex.split(args)), outcome(PYTHON, shlex.split(args))
    failures += problems("stlrefine", args, status, message, files, native)
    if differs in ([], [NO_REASON]):
        if differs:  # ": <the system's reason>" at the end of the message
            native = (*native[:2], re.sub(r": [^:]*\n$", "\n", native[2]), native[3])
        failures += [] if module == native else [f"python3 -m stlrefine {args!r} differs: {module[:3]}"]
    else:
        expected = (2, ".", {}) if differs[0] == ARGPARSE else differs[0]
        failures += problems("python3 -m stlrefine", args, *expected, module)

with tempfile.TemporaryDirectory() as folder:
    pathlib.Path(folder, "t.stl").write_bytes(FIXTURES["t.stl"])
    # Binary output carries the same floats: read back, it gives the same ASCII file.
    for step in ["--binary -q t.stl b.stl", "-q -n0 b.stl back.stl", "-q t.stl a.stl"]:
        run([NATIVE], step.split(), folder, LIBRARY).check_returncode()
    binary, back, ascii = (pathlib.Path(folder, name).read_bytes() for name in ("b.stl", "back.stl", "a.stl"))
    if binary[80:84] != (2304).to_bytes(4, "little") or back != ascii:
        failures.append("binary round trip")
    if run(PYTHON, ["--binary", "t.stl"], folder).returncode != 2:
        failures.append("python3 -m stlrefine accepts --binary")
    missing = run(PYTHON, ["t.stl"], folder, library="libc.so.6")  # loads, but lacks the two functions
    if missing.returncode != 5 or b"STLREFINE_LIBRARY" not in missing.stderr or b"Traceback" in missing.stderr:
        failures.append(f"no library: {missing.returncode} {missing.stderr!r}")

print("".join(f"FAIL {failure}\n" for failure in failures) + f"{len(CASES)} cases, {len(failures)} failures")
sys.exit(1 if failures else 0)

