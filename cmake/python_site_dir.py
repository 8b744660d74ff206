"""Prints where to install a pure Python package under an install prefix,
relative to that prefix, so that this interpreter imports it from there:

    python3 python_site_dir.py PREFIX

That is the first folder under PREFIX that the interpreter searches: its site
folders (Debian's python3: lib/python3/dist-packages under /usr,
lib/python3.X/dist-packages under /usr/local), the user's site folder
(~/.local: lib/python3.X/site-packages), a virtual environment's. The local/
folder of a prefix is a prefix of its own (/usr/local), never a candidate.
Under any other prefix: lib/python3.X/site-packages, for PYTHONPATH.
"""

import os
import site
import sys
import sysconfig


def main(prefix):
    prefix = os.path.normpath(os.path.abspath(prefix))
    searched = [*site.getsitepackages(), site.getusersitepackages(), sysconfig.get_path("purelib")]
    for path in searched:
        folder = os.path.relpath(os.path.normpath(path), prefix)
        if not folder.startswith((os.pardir, "local" + os.sep)) and not os.path.isabs(folder):
            return folder
    purelib = sysconfig.get_path("purelib", "posix_prefix", vars={"base": "", "platbase": ""})
    return purelib.lstrip("/")


if __name__ == "__main__":
    print(main(sys.argv[1]))
