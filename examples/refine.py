"""A Python host of the stlrefine library: refines the bundled torus.

    python3 refine.py [OUTPUT] [-n N]

Needs the stlrefine module on the import path (installed by the .deb, or
PYTHONPATH=python from a source tree) and the library (found by the module;
STLREFINE_LIBRARY overrides).
"""

import argparse
import pathlib
import sys

import stlrefine


def main():
    parser = argparse.ArgumentParser(description="Refine the bundled torus mesh.")
    parser.add_argument("output", nargs="?", default="torus.refined.stl", type=pathlib.Path)
    parser.add_argument("-n", "--iterations", type=int, default=2)
    args = parser.parse_args()

    torus = pathlib.Path(__file__).with_name("torus.stl")
    try:
        result = stlrefine.refine(torus, args.output, iterations=args.iterations, quiet=True)
    except stlrefine.RefineError as error:  # an OSError: the file and the reason
        print(error, file=sys.stderr)
        return 1
    print(f"{result.facets_in} facets in, {result.facets_out} written to {args.output}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
