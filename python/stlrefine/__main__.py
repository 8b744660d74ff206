"""python3 -m stlrefine [OPTIONS] [INPUT [OUTPUT]]

The native stlrefine command, through the module: the same options, values,
messages and exit statuses (0 written; 1 input not opened, read or refined;
2 usage error; 3 output not opened, written or put in place; 4 input holds
no mesh), plus 5 when the library cannot be loaded. --binary is refused: the
library's exported functions write ASCII STL only.
"""

import fractions
import math
import os
import re
import sys

from . import InputError, LibraryNotFoundError, OutputError, refine

PROG = "python3 -m stlrefine"
WRITTEN, INPUT_FAILED, USAGE, OUTPUT_FAILED, NO_MESH, NO_LIBRARY = range(6)
VERTEX_LIMIT = 50000

HELP = f"""usage: {PROG} [OPTIONS] [INPUT [OUTPUT]]

Refines the triangle mesh of an STL file (ASCII or binary): every triangle
is split into four through its edge midpoints, N times (iterations stop
once the mesh has more than 50000 vertices). Writes an ASCII STL file.

  INPUT                 STL file to read (default: the bundled example mesh)
  OUTPUT                STL file to write (default: <input stem>.refined.stl
                        in the current directory)
  -n, --iterations=N    number of iterations (default 1)
      --max-height=H    stop as soon as no triangle is taller along z than H
      --binary          (native stlrefine only: the library writes ASCII)
  -q, --quiet           no progress lines on standard output
  -h, --help            show this help
      --version         show the library in use

Exit status: 0 written; 1 input not opened, read or refined; 2 usage error;
3 output not opened, written or put in place; 4 input holds no mesh (an
empty solid was written); 5 the library cannot be loaded.
"""


class UsageError(Exception):
    pass


def say(message):
    """One message on standard error; file names keep their bytes, as in the native tool."""
    line = f"stlrefine: {message}\n"
    sys.stderr.flush()
    buffer = getattr(sys.stderr, "buffer", None)
    if buffer is None or sys.platform == "win32":
        sys.stderr.write(line)
        sys.stderr.flush()
        return
    # Code points no name can hold are shown as U+FFFD; escaped bytes as themselves.
    buffer.write(re.sub("[\ud800-\udc7f\udd00-\udfff]", "\ufffd", line)
                 .encode("utf-8", "surrogateescape"))
    buffer.flush()


# --- Numbers, read as strtol (base 10) and strtof read them in the "C" locale,
# the whole text consumed. Floats are rounded once, exactly, to binary32.

_SPACE_AND_SIGN = r"[ \t\n\v\f\r]*(?P<sign>[+-]?)"
_INTEGER = re.compile(_SPACE_AND_SIGN + r"[0-9]+")
_FLOAT = re.compile(_SPACE_AND_SIGN + r"""(?:
      0[xX](?P<hex>[0-9a-fA-F]*)(?:\.(?P<hexfrac>[0-9a-fA-F]*))?(?:[pP](?P<hexexp>[+-]?[0-9]+))?
    | (?P<dec>[0-9]*)(?:\.(?P<decfrac>[0-9]*))?(?:[eE](?P<decexp>[+-]?[0-9]+))?
    | (?P<inf>[iI][nN][fF](?:[iI][nN][iI][tT][yY])?)
    | (?P<nan>[nN][aA][nN](?:\([0-9A-Za-z_]*\))?))""", re.VERBOSE)


def parse_int32(text):
    """The value, or the problem as a string."""
    if not _INTEGER.fullmatch(text):
        return "not an integer"
    value = int(text.lstrip(" \t\n\v\f\r"))
    return value if -2**31 <= value < 2**31 else "out of the 32-bit range"


def _binary32(mantissa, base, exponent):
    """The binary32 value nearest mantissa * base**exponent (ties to even);
    inf beyond the largest finite one."""
    if mantissa == 0:
        return 0.0
    # Far beyond either end of the range, skip the exact arithmetic.
    order = (len(str(mantissa)) + exponent if base == 10 else mantissa.bit_length() + exponent)
    if order > (40 if base == 10 else 130):
        return math.inf
    if order < (-50 if base == 10 else -160):
        return 0.0
    q = fractions.Fraction(mantissa) * fractions.Fraction(base) ** exponent
    e = q.numerator.bit_length() - q.denominator.bit_length()
    if q < fractions.Fraction(2) ** e:
        e -= 1
    ulp = max(e, -126) - 23
    value = math.ldexp(round(q / fractions.Fraction(2) ** ulp), ulp)
    return math.inf if value >= 2.0**128 else value


def parse_float32(text):
    """The value (a binary32 number as a float), or None."""
    match = _FLOAT.fullmatch(text)
    if not match:
        return None
    sign = -1.0 if match["sign"] == "-" else 1.0
    if match["inf"]:
        return sign * math.inf
    if match["nan"]:
        return math.copysign(math.nan, sign)
    if match["hex"] is not None:
        base, digits, fraction, exponent = 2, match["hex"], match["hexfrac"] or "", match["hexexp"]
    else:
        base, digits, fraction, exponent = 10, match["dec"], match["decfrac"] or "", match["decexp"]
    if not (digits + fraction):
        return None
    # Exponents too long to matter are cut short: the value is 0 or inf then.
    exponent = (exponent or "0").lstrip("+")
    magnitude = exponent.lstrip("-").lstrip("0")
    exponent = int(exponent) if len(magnitude) < 12 else (-1 if exponent[0] == "-" else 1) * 10**12
    exponent -= (4 if base == 2 else 1) * len(fraction)
    significant = (digits + fraction).lstrip("0")
    if base == 10 and len(significant) > 200:
        # 200 digits and whether any later one is not zero round as all of them do.
        exponent += len(significant) - 201
        significant = significant[:200] + ("1" if significant[200:].strip("0") else "0")
    mantissa = int(significant or "0", 16 if base == 2 else 10)
    return sign * _binary32(mantissa, base, exponent)


def float_text(value):
    """printf's "%g", with the sign of a NaN shown as the native tool shows it."""
    if math.isnan(value):
        return "-nan" if math.copysign(1.0, value) < 0 else "nan"
    return "%g" % value


# --- Command line, read as the native tool reads it.

LONGS = {"--iterations": ("n", True), "--max-height": ("H", True), "--quiet": ("q", False),
         "--binary": ("b", False), "--help": ("h", False), "--version": ("V", False)}


def apply(option, spelled, value, options):
    invalid = f"invalid value '{value}' for {spelled}"
    if option == "n":
        parsed = parse_int32(value)
        if isinstance(parsed, str):
            raise UsageError(f"{invalid}: {parsed}")
        options["iterations"] = parsed
    elif option == "H":
        parsed = parse_float32(value)
        if parsed is None:
            raise UsageError(f"{invalid}: not a number")
        options["max_height"] = parsed
    elif option == "b":
        raise UsageError("option '--binary' needs the native stlrefine: the library's "
                         "exported functions write ASCII STL only")
    else:
        options[option] = True


def parse(args):
    options = {"iterations": 1, "max_height": None, "q": False, "h": False, "V": False}
    files = []
    only_files = False
    i = 0
    while i < len(args):
        arg = args[i]
        i += 1
        if only_files or len(arg) < 2 or arg[0] != "-":
            files.append(arg)
            continue
        if arg == "--":
            only_files = True
            continue
        if arg.startswith("--"):
            name, equals, value = arg.partition("=")
            if name not in LONGS:
                raise UsageError(f"unknown option '{name}'")
            option, takes_value = LONGS[name]
            if equals and not takes_value:
                raise UsageError(f"option '{name}' takes no value")
            if takes_value and not equals:
                if i == len(args):
                    raise UsageError(f"option '{name}' needs a value")
                value, i = args[i], i + 1
            apply(option, name, value, options)
        else:
            # A cluster of short options; -n takes the rest, or the next argument.
            for k, c in enumerate(arg[1:], start=1):
                if c == "n":
                    value = arg[k + 1:]
                    if not value:
                        if i == len(args):
                            raise UsageError("option '-n' needs a value")
                        value, i = args[i], i + 1
                    apply("n", "-n", value, options)
                    break
                if c not in "qh":
                    printable = " " < c < "\x7f"
                    raise UsageError(f"unknown option '{'-' + c if printable else arg}'")
                apply(c, "-" + c, "", options)
                if options["h"]:
                    break
        if options["h"] or options["V"]:
            return options, files
    if len(files) > 2:
        raise UsageError(f"unexpected third file name '{files[2]}'")
    return options, files


def example_mesh():
    """The bundled example: installed (share/doc/stlrefine/examples under the
    prefix this package lies in), else in the source tree the package is in."""
    here = os.path.dirname(os.path.abspath(__file__))
    for up in range(1, 5):
        prefix = os.path.join(here, *[os.pardir] * up)
        installed = os.path.join(prefix, "share", "doc", "stlrefine", "examples", "torus.stl")
        if os.path.isfile(installed):
            return os.path.normpath(installed)
    return os.path.normpath(os.path.join(here, os.pardir, os.pardir, "examples", "torus.stl"))


def default_output(path):
    """"<stem>.refined.stl" in the current directory for the last component of `path`."""
    separators = "/\\" if sys.platform == "win32" else "/"
    name = re.split("[" + re.escape(separators) + "]", path)[-1]
    dot = name.rfind(".")
    if dot > 0:
        name = name[:dot]
    return (name or "output") + ".refined.stl"


def main(argv=None):
    args = [os.fsdecode(a) for a in (sys.argv[1:] if argv is None else argv)]
    try:
        options, files = parse(args)
    except UsageError as error:
        say(str(error))
        print(f"Try '{PROG} --help' for more information.", file=sys.stderr)
        return USAGE
    if options["h"]:
        sys.stdout.write(HELP)
        return WRITTEN
    try:
        if options["V"]:
            from . import library_path
            print(f"stlrefine (Python module), library {library_path()}")
            return WRITTEN
        if not files:
            files.append(example_mesh())
            say(f"no INPUT given: refining the bundled example {files[0]}")
        if len(files) == 1:
            files.append(default_output(files[0]))
        source, target = files
        result = refine(source, target, options["iterations"], options["max_height"],
                        quiet=options["q"])
    except LibraryNotFoundError as error:
        say(str(error))
        return NO_LIBRARY
    except InputError as error:
        say(str(error))
        return INPUT_FAILED
    except OutputError as error:
        say(str(error))
        return OUTPUT_FAILED

    if result.facets_in == 0:
        why = ("the first five bytes are not 'solid' and the size does not match a binary STL"
               if result.input_type == "not stl" else "no complete facet")
        say(f"{source} holds no mesh ({why}); wrote an empty solid to {target}")
        return NO_MESH
    if result.facets_in is None:
        say(f"wrote {target}")
        return WRITTEN
    summary = (f"wrote {target}: {result.facets_in} facets in, {result.facets_out} out, "
               f"{result.iterations_run} of {options['iterations']} iterations")
    if result.stopped == "vertex limit":
        summary += f" (stopped: over {VERTEX_LIMIT} vertices)"
    elif result.stopped == "height":
        summary += f" (stopped: no triangle taller than {float_text(options['max_height'])})"
    say(summary)
    return WRITTEN


if __name__ == "__main__":
    sys.exit(main())
