"""Faults around the files of a call: a full or failing file system, read
and close errors, a process killed mid-write, links, FIFOs, devices and
permissions. Usage: python3 test_faults.py LIBRARY CLI SHIM

Every call runs in a child (the library through ctypes, or the CLI) in a
fresh folder, so that the shim fail_io.c can be preloaded and permission
cases can run as nobody (as root only, like the mounts)."""
import os
import pathlib
import shutil
import signal
import subprocess
import sys
import tempfile
import threading
import time

LIB, CLI, SHIM = map(os.path.abspath, sys.argv[1:4])
# The library is loaded before the runner turns into nobody, so that only the
# case's own files need to be reachable by nobody (not Python's own).
RUNNER = ("import ctypes, os, sys\nf = ctypes.CDLL(sys.argv[1]).subdivision_noWeight\n"
          "f.argtypes = [ctypes.c_wchar_p, ctypes.c_wchar_p, ctypes.c_int]\n"
          "if sys.argv[5] == 'nobody': os.setgroups([]); os.setgid(65534); os.setuid(65534)\n"
          "sys.exit(f(sys.argv[2], sys.argv[3], int(sys.argv[4])))")
WRITTEN = ["stl file: output success!!", "output ascii stl file success", "subdivision triangle done!!"]
# The last lines of each outcome (all of them after a read error), the
# library's result and the CLI's exit status.
READ_ERROR = "error: cannot read {input}: Input/output error, mesh not refined"
OUTCOMES = {
    "OK": (WRITTEN, 1, 0),
    "OPEN": (["start output ascii stl file...", "- Error, unable open file to save", *WRITTEN[1:]], 1, 3),
    "READ": (["it binary_stl !!", READ_ERROR], 0, 1),
    "READ HEAD": ([READ_ERROR], 0, 1),
    "READ ASCII": (["it ascii_stl", READ_ERROR], 0, 1),
    **{name: (["start output ascii stl file...", f"error: cannot write {{output}}: {reason}, mesh not saved"], 0, 3)
       for name, reason in (("ENOSPC", "No space left on device"), ("EIO", "Input/output error"))},
}
OLD = "printf 'old\\n' >"
IN = "../torus.stl"  # a copy beside the case folders, where nobody can read it
MOUNT = "mkdir fs; mount -t tmpfs -o size=1m stlrefine-faults fs; "
PLANT = f"chmod 1777 .; mkdir secret; chmod 700 secret; {OLD}secret/f; chmod 600 secret/f; "


def fault(op, path, after=100_000, hang=False):
    env = {"LD_PRELOAD": SHIM, "FAULT_OP": op, "FAULT_PATH": path, "FAULT_AFTER": str(after)}
    return {**env, "FAULT_HANG": "1"} if hang else env


# name, setup (sh, as root, in a fresh folder), input, output, the fault's
# environment or "nobody", outcome, then what files hold: their bytes (links
# followed; "NEW" the refined mesh, "TORUS" the input), permission bits (an
# int) or a symbolic link's target (another str). No other file may appear.
CASES = [
    ("new output", "", IN, "out.stl", None, "OK", [("out.stl", "NEW")]),
    ("writable file of another user in a sticky folder", f"chmod 1777 .; {OLD}out.stl; chmod 666 out.stl", IN,
     "out.stl", "nobody", "OK", [("out.stl", "NEW")]),
    ("non-ASCII name refined in place", "cp ../torus.stl 'm\u00e9sh \U0010FFFD.stl'", "m\u00e9sh \U0010FFFD.stl",
     "m\u00e9sh \U0010FFFD.stl", None, "OK", [("m\u00e9sh \U0010FFFD.stl", "NEW")]),
    ("name of 250 bytes", "", IN, "a" * 246 + ".stl", None, "OK", [("a" * 246 + ".stl", "NEW")]),
    ("existing output replaced, its 0640 kept", f"{OLD}out.stl; chmod 640 out.stl", IN, "out.stl", None, "OK",
     [("out.stl", "NEW"), ("out.stl", 0o640)]),
    ("relative symlink from another folder", f"mkdir a b; {OLD}b/t.stl; ln -s ../b/t.stl a/l.stl", IN, "a/l.stl",
     None, "OK", [("a/l.stl", "../b/t.stl"), ("b/t.stl", "NEW")]),
    ("hard link written in place", f"{OLD}out.stl; ln out.stl other.stl", IN, "out.stl", None, "OK",
     [("out.stl", "NEW"), ("other.stl", "NEW")]),
    ("full tmpfs, existing output", f"{MOUNT}{OLD}fs/out.stl", IN, "fs/out.stl", None, "ENOSPC", [("fs/out.stl", b"old\n")]),
    ("full tmpfs, new output", MOUNT, IN, "fs/out.stl", None, "ENOSPC", []),
    ("full tmpfs, refined in place", MOUNT + "cp ../torus.stl fs/in.stl", "fs/in.stl", "fs/in.stl", None, "ENOSPC",
     [("fs/in.stl", "TORUS")]),
    ("EIO after 100 kB", f"{OLD}out.stl", IN, "out.stl", fault("write", "out.stl"), "EIO", [("out.stl", b"old\n")]),
    ("write taking no bytes after 100 kB", f"{OLD}out.stl", IN, "out.stl", {**fault("write", "out.stl"), "FAULT_ZERO": "1"},
     "EIO", [("out.stl", b"old\n")]),
    ("EIO at close", f"{OLD}out.stl", IN, "out.stl", fault("close", "out.stl", 0), "EIO", [("out.stl", b"old\n")]),
    ("write interrupted by a signal after 100 kB", f"{OLD}out.stl", IN, "out.stl",
     {**fault("write", "out.stl"), "FAULT_EINTR": "1"}, "OK", [("out.stl", "NEW")]),
    ("read interrupted by a signal", "cp ../torus.stl in.stl", "in.stl", "out.stl",
     {**fault("read", "in.stl", 1000), "FAULT_EINTR": "1"}, "OK", [("in.stl", "TORUS"), ("out.stl", "NEW")]),
    ("EIO after 100 kB, hard link emptied", f"{OLD}out.stl; ln out.stl other.stl", IN, "out.stl",
     fault("write", "out.stl"), "EIO", [("out.stl", b""), ("other.stl", b"")]),
    ("EIO reading the input", "cp ../torus.stl in.stl", "in.stl", "out.stl", fault("read", "in.stl", 1000), "READ", []),
    ("EIO reading an ASCII input", "cp ../NEW.stl in.stl", "in.stl", "out.stl", fault("read", "in.stl", 100_000),
     "READ ASCII", []),
    ("EIO reading its first bytes", "cp ../torus.stl in.stl", "in.stl", "out.stl", fault("read", "in.stl", 0), "READ HEAD", []),
    ("missing folder", "", IN, "none/out.stl", None, "OPEN", []),
    ("folder as output", "mkdir out.stl", IN, "out.stl", None, "OPEN", []),
    ("read-only file in a writable folder", f"chmod 777 .; {OLD}out.stl", IN, "out.stl", "nobody", "OPEN",
     [("out.stl", b"old\n")]),
    ("read-only folder", "mkdir ro", IN, "ro/out.stl", "nobody", "OPEN", []),
    ("writable file in a read-only folder", f"mkdir ro; {OLD}ro/f.stl; chmod 666 ro/f.stl", IN, "ro/f.stl",
     "nobody", "OK", [("ro/f.stl", "NEW")]),
    # Links that another user planted in a sticky folder are the system's to
    # judge (fs.protected_symlinks is on for the whole run): refused.
    ("link planted by another user", f"{PLANT}ln -s secret/f out.stl; chown -h nobody out.stl", IN, "out.stl", None,
     "OPEN", [("out.stl", "secret/f"), ("secret/f", b"old\n"), ("secret/f", 0o600)]),
    ("dangling link planted by another user", f"{PLANT}ln -s secret/new out.stl; chown -h nobody out.stl", IN,
     "out.stl", None, "OPEN", [("out.stl", "secret/new")]),
    ("own dangling link", "ln -s new.stl out.stl", IN, "out.stl", None, "OK", [("out.stl", "new.stl"), ("new.stl", "NEW")]),
    ("loop of links", "ln -s b a; ln -s a b", IN, "a", None, "OPEN", [("a", "b"), ("b", "a")]),
    ("ACL and user attribute kept", f"{OLD}out.stl; chmod 640 out.stl; setfacl -m u:nobody:r out.stl; "
     "python3 -c \"import os; os.setxattr('out.stl', 'user.origin', b'scan 7')\"", IN, "out.stl", None, "OK",
     [("out.stl", "NEW")]),
]


def run(tool, folder, input, output, how=None, n=2, wait=True):
    """Runs one call in folder: (status, stdout), or the child when not waiting."""
    nobody = how == "nobody"
    args = [sys.executable, "-c", RUNNER, LIB, input, output, str(n), "nobody" if nobody else "caller"]
    child = subprocess.Popen([CLI, "-n", str(n), input, output] if tool == "cli" else args, cwd=folder,
                             env={**os.environ, **(how if isinstance(how, dict) else {})}, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL,
                             preexec_fn=(lambda: (os.setgroups([]), os.setgid(65534), os.setuid(65534)))
                             if nobody and tool == "cli" else None)
    return (child.communicate(timeout=120)[0].decode(), child.returncode)[::-1] if wait else child


def xattrs(path):
    return {name: os.getxattr(path, name) for name in os.listxattr(path)} if os.path.lexists(path) else {}


def listing(folder):
    return {os.path.relpath(os.path.join(top, name), folder) for top, dirs, files in os.walk(folder) for name in dirs + files}


PROTECTED = pathlib.Path("/proc/sys/fs/protected_symlinks")
protected = PROTECTED.read_text() if os.geteuid() == 0 else None
if protected is not None:
    PROTECTED.write_text("1")  # as on most systems; put back at the end
top = tempfile.mkdtemp(prefix="stlrefine-faults-")
os.chmod(top, 0o755)  # nobody must reach the case folders
failures, skipped, mounts = [], 0, []


def check(ok, what, text=""):
    failures.extend([] if ok else [f"{what}\n{text}"])


def folder(setup=""):
    path = tempfile.mkdtemp(dir=top)
    os.chmod(path, 0o755)
    mounts.append(path + "/fs")
    subprocess.run(["sh", "-ec", setup], cwd=path, check=True)
    return path


try:
    shutil.copy(pathlib.Path(__file__).resolve().parents[2] / "examples" / "torus.stl", top)
    CLI = shutil.copy(CLI, top)  # nobody must be able to run it, wherever the build is
    FILES = {"TORUS": pathlib.Path(top, "torus.stl").read_bytes()}
    for n, key in ((2, "NEW"), (3, "NEW3")):
        check(run("lib", top, "torus.stl", f"{key}.stl", n=n)[0] == 1, "reference")
        FILES[key] = pathlib.Path(top, f"{key}.stl").read_bytes()
    for name, setup, input, output, how, outcome, after in CASES:
        if os.geteuid() != 0 and (how == "nobody" or "mount" in setup or "chown" in setup):
            skipped += 2  # needs root: mounts a file system or runs as nobody
            continue
        tail, result, exit_status = OUTCOMES[outcome]
        for tool in ("lib", "cli"):
            where = folder(setup)
            before = listing(where)
            attributes = {p: xattrs(os.path.join(where, p)) for p, want in after if want == "NEW"}
            status, text = run(tool, where, input, output, how)
            what = f"{name} ({tool})"
            check(status == (result if tool == "lib" else exit_status), f"{what}: status {status}", text)
            lines = [line.format(input=input, output=output) for line in tail]
            printed = text.splitlines()
            check(printed[-len(lines):] == lines and (len(printed) == len(lines) or "READ" not in outcome),
                  f"{what}: transcript", text)
            for path, want in after:
                path = os.path.join(where, path)
                if isinstance(want, int):
                    check(os.stat(path).st_mode & 0o7777 == want, f"{what}: mode of {path}")
                elif isinstance(want, str) and want not in FILES:
                    check(os.path.islink(path) and os.readlink(path) == want, f"{what}: target of {path}")
                else:
                    check(pathlib.Path(path).read_bytes() == FILES.get(want, want), f"{what}: bytes of {path}")
                    # A replaced file keeps its extended attributes (POSIX ACL, user.*).
                    check(want != "NEW" or xattrs(path) == attributes[os.path.relpath(path, where)],
                          f"{what}: attributes of {path}")
            check(listing(where) == before | {p for p, _ in after}, f"{what}: files made or left", listing(where))

    # A FIFO as output gets the mesh, written in place.
    where = folder("mkfifo out.stl")
    got = []
    reader = threading.Thread(target=lambda: got.append(pathlib.Path(where, "out.stl").read_bytes()), daemon=True)
    reader.start()
    result, text = run("lib", where, IN, "out.stl")
    reader.join(30)
    check((result, text.splitlines()[-3:], got, listing(where)) == (1, WRITTEN, [FILES["NEW"]], {"out.stl"}), "FIFO", text)

    def stopped(where, n=3):
        """The CLI writing out.stl, stopped by the shim once the file it writes holds 100 kB."""
        child = run("cli", where, IN, "out.stl", fault("write", "out.stl", hang=True), n, False)
        deadline = time.monotonic() + 30
        while child.poll() is None and time.monotonic() < deadline and not any(
                os.path.getsize(os.path.join(where, n)) >= 100_000 for n in os.listdir(where) if "out.stl" in n):
            time.sleep(0.001)
        return child

    # Killed outright: the output holds the old mesh or the new one, never a
    # part; a temporary file still being written is its owner's alone.
    for hang in (True, False):
        where = folder(f"{OLD}out.stl")
        child = stopped(where) if hang else run("cli", where, IN, "out.stl", None, 3, False)
        while not hang and child.poll() is None and not any(n.endswith(".tmp") for n in os.listdir(where)):
            time.sleep(0.001)
        modes = {os.stat(os.path.join(where, n)).st_mode & 0o777 for n in os.listdir(where) if n.endswith(".tmp")}
        child.send_signal(signal.SIGKILL)
        check(child.wait() == -signal.SIGKILL or not hang, "killed while stopped by the shim")
        check(modes == {0o600} or not hang, f"mode of the temporary file: {modes}")
        output = pathlib.Path(where, "out.stl").read_bytes()
        check(output == b"old\n" or (not hang and output == FILES["NEW3"]), f"killed (hang {hang}): output {output[:20]!r}")

    # Stopped by a signal: the process dies of it, after removing its
    # temporary file or emptying a file written in place.
    for sig, linked in ((signal.SIGINT, False), (signal.SIGTERM, False), (signal.SIGHUP, False),
                        (signal.SIGPIPE, False), (signal.SIGTERM, True)):
        where = folder(f"{OLD}out.stl" + ("; ln out.stl other.stl" if linked else ""))
        child = stopped(where)
        child.send_signal(sig)
        files = {n: pathlib.Path(where, n).read_bytes() for n in os.listdir(where)} if child.wait() else {}
        want = {"out.stl": b"", "other.stl": b""} if linked else {"out.stl": b"old\n"}
        check(child.returncode == -sig and files == want, f"{sig!r} (linked {linked}): {child.returncode}, {sorted(files)}")

    # Two calls writing one file in place: the second waits for the first.
    where = folder(f"{OLD}out.stl; ln out.stl other.stl")
    first = stopped(where)
    second = run("cli", where, IN, "out.stl", None, 2, False)
    time.sleep(2)
    waited = second.poll() is None
    first.send_signal(signal.SIGTERM)
    second.communicate(timeout=120)
    check(waited and second.returncode == 0 and pathlib.Path(where, "other.stl").read_bytes() == FILES["NEW"],
          f"in place at once: waited {waited}, exit {second.returncode}")
finally:
    for mount in mounts:
        if os.path.ismount(mount):
            subprocess.run(["umount", mount])
    shutil.rmtree(top)
    if protected is not None:
        PROTECTED.write_text(protected)

print("".join(f"FAIL {failure}\n" for failure in failures) + f"{len(CASES)} cases, {skipped} runs skipped, {len(failures)} failures")
sys.exit(1 if failures else 0)
