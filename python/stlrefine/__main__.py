"""python3 -m stlrefine INPUT OUTPUT [-n N] [--max-height H]

Exit status: 0 when the input was opened and refined, 1 when it could not be
opened, 2 for a usage error, 3 when the library cannot be loaded.
"""

import argparse
import sys

from . import LibraryNotFoundError, refine


def main(argv=None):
    parser = argparse.ArgumentParser(
        prog="python3 -m stlrefine",
        description="Refine the triangle mesh of an STL file (ASCII or binary): every "
                    "triangle is split into four through its edge midpoints, N times. "
                    "Writes an ASCII STL file.")
    parser.add_argument("input", help="STL file to read")
    parser.add_argument("output", help="ASCII STL file to write")
    parser.add_argument("-n", "--iterations", type=int, default=1, metavar="N",
                        help="number of iterations (default 1)")
    parser.add_argument("--max-height", type=float, metavar="H",
                        help="stop as soon as no triangle is taller along z than H")
    args = parser.parse_args(argv)
    try:
        ok = refine(args.input, args.output, args.iterations, args.max_height)
    except LibraryNotFoundError as error:
        print(f"stlrefine: {error}", file=sys.stderr)
        return 3
    except (OverflowError, ValueError) as error:
        parser.error(str(error))
    return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main())
