"""python3 -m stlrefine [OPTIONS] INPUT [OUTPUT]

The native stlrefine command's options and exit statuses over refine():
numbers are read by Python's int() and float(), usage errors are worded by
argparse, and the options only the native command has (--binary, "-" for a
standard stream, -d, -j, --stats, --json) are refused.
docs/python.md lists where the two commands differ.
"""

import argparse
import ctypes
import math
import os
import sys

from . import LibraryNotFoundError, OutputError, RefineError, __version__, refine

PROG = "python3 -m stlrefine"
NO_LIMIT = 2**31 - 1  # iterations of --max-height without -n: its test or the vertex limit stops them
NATIVE_ONLY = "needs the native stlrefine: the library's exported functions"
WRITTEN, INPUT_FAILED, USAGE, OUTPUT_FAILED, NO_MESH, NO_LIBRARY = range(6)


def say(message):
    """One message on standard error; file names keep their bytes, as in the native tool."""
    sys.stderr.flush()
    sys.stderr.buffer.write(os.fsencode(f"stlrefine: {message}\n"))
    sys.stderr.buffer.flush()


class Parser(argparse.ArgumentParser):
    def error(self, message):
        """A usage error in the native tool's form: one line, then the hint."""
        say(message)
        self.exit(USAGE, f"Try '{PROG} --help' for more information.\n")


def iterations(text):
    """-n: an int the library's 32-bit count can hold."""
    try:
        value = int(text)
    except ValueError:
        raise argparse.ArgumentTypeError(f"invalid value '{text}': not an integer") from None
    if not -2**31 <= value < 2**31:
        raise argparse.ArgumentTypeError(f"invalid value '{text}': out of the 32-bit range")
    if value < 0:
        raise argparse.ArgumentTypeError(f"invalid value '{text}': less than 0")
    return value


def height(text):
    """--max-height: a float, rounded to the 32-bit float the library takes."""
    try:
        return ctypes.c_float(float(text)).value
    except ValueError:
        raise argparse.ArgumentTypeError(f"invalid value '{text}': not a number") from None


def parser():
    """The options: the native tool's, as one table that also makes --help."""
    options = Parser(
        prog=PROG, usage=f"{PROG} [OPTIONS] INPUT [OUTPUT]\n   or: {PROG} [OPTIONS] -d DIR INPUT...", allow_abbrev=False, add_help=False,
        formatter_class=argparse.RawDescriptionHelpFormatter,
        description="Refines the triangle mesh of an STL file (ASCII or binary): every triangle\n"
                    "is split into four through its edge midpoints, N times (iterations stop\n"
                    "once the mesh has more than 50000 vertices). Writes an ASCII STL file.",
        epilog="Exit status: 0 written; 1 input not opened, read or refined; 2 usage error;\n"
               "3 output not opened, written or put in place; 4 input holds no mesh (an\n"
               "empty solid was written); 5 the library cannot be loaded.")
    options.add_argument("files", nargs="*", metavar="INPUT [OUTPUT]",
                         help="STL file to read, STL file to write (default: <input stem>.refined.stl "
                              "in the current directory); - (standard input or output): native stlrefine only")
    options.add_argument("-d", "--output-dir", metavar="DIR",
                         help="(native stlrefine only: refines every INPUT into DIR)")
    options.add_argument("-j", "--jobs", metavar="N", help="(native stlrefine only: files at once)")
    options.add_argument("-n", "--iterations", type=iterations, metavar="N",
                         help="number of iterations, 0 or more (default 1; with --max-height: until it "
                              "stops them)")
    options.add_argument("--max-height", type=height, metavar="H",
                         help="stop as soon as no triangle is taller along z than H")
    options.add_argument("--binary", action="store_true",
                         help="(native stlrefine only: the library writes ASCII)")
    options.add_argument("-q", "--quiet", action="store_true", help="no progress lines on standard output")
    options.add_argument("--stats", action="store_true", help="(native stlrefine only: mesh figures)")
    options.add_argument("--json", action="store_true", help="(native stlrefine only: JSON Lines)")
    options.add_argument("-h", "--help", action="help", help="show this help")
    options.add_argument("--version", action="version", version=f"stlrefine {__version__}",
                         help="show the version")
    return options


def default_output(path):
    """"<stem>.refined.stl" in the current directory for the last component of `path`."""
    name = os.path.basename(path)
    dot = name.rfind(".")
    return (name[:dot] if dot > 0 else name or "output") + ".refined.stl"


def float_text(value):
    """printf's "%g", with the sign of a NaN shown as the native tool shows it."""
    return ("-nan" if math.copysign(1.0, value) < 0 else "nan") if math.isnan(value) else "%g" % value


def main(argv=None):
    argv = sys.argv[1:] if argv is None else list(argv)
    # argparse (before 3.12) loses "--" when options and file names mix: the
    # names after it are taken aside.
    after = argv.index("--") if "--" in argv else len(argv)
    options = parser()
    args = options.parse_intermixed_args(argv[:after])
    files = args.files + argv[after + 1:]
    if args.binary:
        options.error(f"option '--binary' {NATIVE_ONLY} write ASCII STL only")
    for name, given in (("--output-dir", args.output_dir), ("--jobs", args.jobs), ("--stats", args.stats),
                        ("--json", args.json)):
        if given:
            options.error(f"option '{name}' {NATIVE_ONLY} refine one named file at a time")
    if "-" in files:
        options.error(f"'-' (a standard stream) {NATIVE_ONLY} read and write named files")
    if len(files) > 2:
        options.error(f"unexpected third file name '{files[2]}'")
    if not files:
        options.print_usage(sys.stderr)
        options.exit(USAGE, f"Try '{PROG} --help' for more information.\n")
    if len(files) == 1:
        files.append(default_output(files[0]))
    source, target = files
    asked = args.iterations if args.iterations is not None else -1 if args.max_height is not None else 1
    try:
        result = refine(source, target, NO_LIMIT if asked < 0 else asked, args.max_height, quiet=args.quiet)
    except LibraryNotFoundError as error:
        say(str(error))
        return NO_LIBRARY
    except RefineError as error:
        say(str(error))
        return OUTPUT_FAILED if isinstance(error, OutputError) else INPUT_FAILED

    if result.facets_in is None:
        say(f"called the library on {source}; its progress lines could not be read to tell more")
        return WRITTEN
    if result.facets_in == 0:
        why = ("the first five bytes are not 'solid' and the size does not match a binary STL"
               if result.input_type == "not stl" else "no complete facet")
        say(f"{source} holds no mesh ({why}); wrote an empty solid to {target}")
        return NO_MESH
    summary = (f"wrote {target}: {result.facets_in} facets in, {result.facets_out} out, "
               f"{result.iterations_run}{'' if asked < 0 else f' of {asked}'} iterations")
    if result.stopped == "vertex limit":
        summary += " (stopped: over 50000 vertices)"
    elif result.stopped == "height":
        summary += f" (stopped: no triangle taller than {float_text(args.max_height)})"
    say(summary)
    return WRITTEN


if __name__ == "__main__":
    sys.exit(main())
