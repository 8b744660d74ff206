"""call.py LIBRARY INPUT OUTPUT ITERATIONS [MAX_HEIGHT]: a host of the library
for run_cases.py, one call of an export through ctypes, its result as the exit status."""
import ctypes
import sys

library, source, target, iterations, *height = sys.argv[1:]
exports = ctypes.CDLL(library)
export = exports.subdivision_noWeight_heightDetect if height else exports.subdivision_noWeight
export.argtypes = [ctypes.c_wchar_p, ctypes.c_wchar_p, ctypes.c_int] + [ctypes.c_float] * len(height)
sys.exit(export(source, target, int(iterations), *map(float, height)))
