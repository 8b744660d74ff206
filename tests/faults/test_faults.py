"""Faults around the files of a call: a full or failing file system, a read
error, a process killed mid-write, links, FIFOs, devices and permissions.

  python3 test_faults.py LIBRARY CLI SHIM

Every call runs in a child process (the library through ctypes, or the CLI)
in a fresh folder, so that the fault shim (fail_io.c) can be preloaded and
permission cases can run as nobody. Cases that mount a file system or change
user need root and are skipped otherwise.
"""
import os
import pathlib
import shutil
import signal
import subprocess
import sys
import tempfile
import threading
import time
import unittest

LIB, CLI, SHIM = map(os.path.abspath, sys.argv[1:4])
TORUS = str(pathlib.Path(__file__).resolve().parents[2] / "examples" / "torus.stl")
ROOT = os.geteuid() == 0
# The library is loaded before the runner turns into nobody, so that only the
# case's own files need to be reachable by nobody.
RUNNER = ("import ctypes, os, sys\nf = ctypes.CDLL(sys.argv[1]).subdivision_noWeight\n"
          "f.argtypes = [ctypes.c_wchar_p, ctypes.c_wchar_p, ctypes.c_int]\n"
          "if sys.argv[5] == 'nobody': os.setgroups([]); os.setgid(65534); os.setuid(65534)\n"
          "sys.exit(f(sys.argv[2], sys.argv[3], int(sys.argv[4])))")
OK = ["stl file: output success!!", "output ascii stl file success", "subdivision triangle done!!"]
OPEN = ["start output ascii stl file...", "- Error, unable open file to save",
        "output ascii stl file success", "subdivision triangle done!!"]
READ = ["it binary_stl !!", "error: cannot read {input}: Input/output error, mesh not refined"]
ENOSPC, EIO = "No space left on device", "Input/output error"
OLD = b"old\n"
IN = "../torus.stl"  # a copy beside the case folders, where nobody can read it
MOUNT = "mkdir fs; mount -t tmpfs -o size=1m stlrefine-faults fs; "


def not_written(reason):
    return ["start output ascii stl file...", "error: cannot write {output}: %s, mesh not saved" % reason]


def fault(op, path, after=100_000, hang=False):
    env = {"LD_PRELOAD": SHIM, "FAULT_OP": op, "FAULT_PATH": path, "FAULT_AFTER": str(after)}
    return {**env, "FAULT_HANG": "1"} if hang else env


def as_nobody():
    os.setgroups([])
    os.setgid(65534)
    os.setuid(65534)


def command(tool, input, output, n=2, nobody=False):
    if tool == "cli":
        return [CLI, "-n", str(n), input, output]
    return [sys.executable, "-c", RUNNER, LIB, input, output, str(n), "nobody" if nobody else "caller"]


def call(tool, folder, input, output, env=None, nobody=False, n=2):
    # The CLI itself must be reachable by nobody for its runs as nobody.
    done = subprocess.run(command(tool, input, output, n, nobody), cwd=folder, env={**os.environ, **(env or {})},
                          preexec_fn=as_nobody if nobody and tool == "cli" else None, capture_output=True,
                          timeout=120)
    return done.returncode, done.stdout.decode()


def listing(folder):
    return {os.path.relpath(os.path.join(top, name), folder)
            for top, dirs, files in os.walk(folder) for name in dirs + files}


# name, setup (sh, as root, in a fresh folder), input, output, fault, as nobody,
# result, last transcript lines, then what files hold: their bytes (links
# followed; "NEW" the refined mesh, "TORUS" the input), permission bits (an
# int) or a symbolic link's target (another str). No other file may appear.
CASES = [
    ("new output", "", IN, "out.stl", None, False, 1, OK, [("out.stl", "NEW")]),
    ("writable file of another user in a sticky folder", "chmod 1777 .; printf 'old\\n' >out.stl; chmod 666 out.stl",
     IN, "out.stl", None, True, 1, OK, [("out.stl", "NEW")]),
    ("name of 250 bytes", "", IN, "a" * 246 + ".stl", None, False, 1, OK, [("a" * 246 + ".stl", "NEW")]),
    ("existing output replaced, its 0640 kept", "printf 'old\\n' >out.stl; chmod 640 out.stl",
     IN, "out.stl", None, False, 1, OK, [("out.stl", "NEW"), ("out.stl", 0o640)]),
    ("relative symlink from another folder", "mkdir a b; printf 'old\\n' >b/t.stl; ln -s ../b/t.stl a/l.stl",
     IN, "a/l.stl", None, False, 1, OK, [("a/l.stl", "../b/t.stl"), ("b/t.stl", "NEW")]),
    ("hard link written in place", "printf 'old\\n' >out.stl; ln out.stl other.stl",
     IN, "out.stl", None, False, 1, OK, [("out.stl", "NEW"), ("other.stl", "NEW")]),
    ("full tmpfs, existing output", MOUNT + "printf 'old\\n' >fs/out.stl", IN, "fs/out.stl", None, False,
     0, not_written(ENOSPC), [("fs/out.stl", OLD)]),
    ("full tmpfs, new output", MOUNT, IN, "fs/out.stl", None, False, 0, not_written(ENOSPC), []),
    ("full tmpfs, refined in place", MOUNT + "cp ../torus.stl fs/in.stl", "fs/in.stl", "fs/in.stl", None,
     False, 0, not_written(ENOSPC), [("fs/in.stl", "TORUS")]),
    ("/dev/full", "", IN, "/dev/full", None, False, 0, not_written(ENOSPC), []),
    ("EIO after 100 kB", "printf 'old\\n' >out.stl", IN, "out.stl", fault("write", "out.stl"), False,
     0, not_written(EIO), [("out.stl", OLD)]),
    ("EIO after 100 kB, hard link emptied", "printf 'old\\n' >out.stl; ln out.stl other.stl", IN,
     "out.stl", fault("write", "out.stl"), False, 0, not_written(EIO), [("out.stl", b""), ("other.stl", b"")]),
    ("EIO reading the input", "cp ../torus.stl in.stl", "in.stl", "out.stl", fault("read", "in.stl", 1000),
     False, 0, READ, []),
    ("missing folder", "", IN, "none/out.stl", None, False, 1, OPEN, []),
    ("folder as output", "mkdir out.stl", IN, "out.stl", None, False, 1, OPEN, []),
    ("read-only file in a writable folder", "chmod 777 .; printf 'old\\n' >out.stl", IN, "out.stl", None,
     True, 1, OPEN, [("out.stl", OLD)]),
    ("read-only folder", "mkdir ro", IN, "ro/out.stl", None, True, 1, OPEN, []),
    ("writable file in a read-only folder", "mkdir ro; printf 'old\\n' >ro/f.stl; chmod 666 ro/f.stl", IN,
     "ro/f.stl", None, True, 1, OK, [("ro/f.stl", "NEW")]),
]


class Faults(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.top = tempfile.mkdtemp(prefix="stlrefine-faults-")
        os.chmod(cls.top, 0o755)  # nobody must reach the case folders
        shutil.copy(TORUS, cls.top)
        result, text = call("lib", cls.top, "torus.stl", "reference.stl")
        cls.files = {"NEW": pathlib.Path(cls.top, "reference.stl").read_bytes(),
                     "TORUS": pathlib.Path(TORUS).read_bytes()}
        assert result == 1 and cls.files["NEW"].startswith(b"solid\n"), text

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.top)

    def folder(self, setup=""):
        folder = tempfile.mkdtemp(dir=self.top)
        os.chmod(folder, 0o755)
        self.addCleanup(lambda: os.path.ismount(folder + "/fs") and subprocess.run(["umount", folder + "/fs"]))
        subprocess.run(["sh", "-ec", setup], cwd=folder, check=True)
        return folder

    def test_cases(self):
        for name, setup, input, output, env, nobody, result, tail, after in CASES:
            for tool in ("lib", "cli"):
                with self.subTest(name, tool=tool):
                    if not ROOT and (nobody or "mount" in setup):
                        self.skipTest("needs root: mounts a file system or runs as nobody")
                    folder = self.folder(setup)
                    before = listing(folder)
                    status, text = call(tool, folder, input, output, env, nobody)
                    cli = 0 if tail is OK else 1 if tail is READ else 3  # the CLI: output failures exit 3
                    self.assertEqual(status, result if tool == "lib" else cli, text)
                    lines = [line.format(input=input, output=output) for line in tail]
                    self.assertEqual(text.splitlines()[-len(lines):], lines, text)
                    for path, want in after:
                        path = os.path.join(folder, path)
                        if isinstance(want, int):
                            self.assertEqual(os.stat(path).st_mode & 0o7777, want, path)
                        elif isinstance(want, str) and want not in self.files:
                            self.assertEqual(os.readlink(path), want, path)
                        else:
                            self.assertEqual(pathlib.Path(path).read_bytes(), self.files.get(want, want), path)
                    self.assertEqual(listing(folder), before | {p for p, _ in after}, "files made or left")

    def test_fifo_output_gets_the_mesh(self):
        folder = self.folder("mkfifo out.stl")
        got = []
        reader = threading.Thread(target=lambda: got.append(pathlib.Path(folder, "out.stl").read_bytes()),
                                  daemon=True)
        reader.start()
        result, text = call("lib", folder, IN, "out.stl")
        reader.join(30)
        self.assertEqual((result, text.splitlines()[-3:], got), (1, OK, [self.files["NEW"]]), text)
        self.assertEqual(listing(folder), {"out.stl"})

    def test_killed_mid_write(self):
        # Stopped by the shim after 100 kB of the temporary file, or killed as
        # soon as that file shows up: the output holds the old or the new mesh.
        call("lib", self.top, "torus.stl", "reference3.stl", n=3)
        meshes = (OLD, pathlib.Path(self.top, "reference3.stl").read_bytes())
        for hang in (True, False):
            with self.subTest(stopped_by_shim=hang):
                folder = self.folder("printf 'old\\n' >out.stl")
                env = fault("write", "out.stl", hang=True) if hang else {}
                child = subprocess.Popen(command("cli", IN, "out.stl", n=3), cwd=folder,
                                         env={**os.environ, **env}, stdout=subprocess.DEVNULL)
                deadline = time.monotonic() + 30
                while child.poll() is None and time.monotonic() < deadline:
                    temporary = [os.path.join(folder, n) for n in os.listdir(folder) if n.endswith(".tmp")]
                    if temporary and (not hang or os.path.getsize(temporary[0]) >= 100_000):
                        break
                    time.sleep(0.001)
                child.send_signal(signal.SIGKILL)
                child.wait()
                data = pathlib.Path(folder, "out.stl").read_bytes()
                self.assertIn(data, meshes[:1] if hang else meshes)
                if hang:
                    self.assertEqual(child.returncode, -signal.SIGKILL)


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1])
