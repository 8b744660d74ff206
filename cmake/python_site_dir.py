"""Prints where to install a pure Python package, relative to the install
prefix, so that this interpreter imports it under every prefix given:

    python3 python_site_dir.py PREFIX...

A folder that the interpreter searches under all the prefixes comes first
(Debian's python3 searches lib/python3.X/dist-packages under both /usr and
/usr/local, but lib/python3/dist-packages under /usr only); then one that it
searches under the first prefix; else lib/python3.X/site-packages. The local/
folder of a prefix is a prefix of its own (/usr/local), never a candidate.
"""

import os
import site
import sys
import sysconfig


def main(prefixes):
    prefixes = [os.path.normpath(prefix) for prefix in prefixes]
    searched = [os.path.normpath(path) for path in site.getsitepackages()]
    searched.append(os.path.normpath(sysconfig.get_path("purelib")))
    relative = []
    for path in searched:
        for prefix in prefixes:
            if path.startswith(prefix.rstrip(os.sep) + os.sep):
                folder = os.path.relpath(path, prefix)
                if not folder.startswith("local" + os.sep):
                    relative.append(folder)
    for wanted in (prefixes, prefixes[:1]):
        for folder in relative:
            if all(os.path.join(prefix, folder) in searched for prefix in wanted):
                return folder
    purelib = sysconfig.get_path("purelib", "posix_prefix", vars={"base": "", "platbase": ""})
    return purelib.lstrip("/")


if __name__ == "__main__":
    print(main(sys.argv[1:]))
