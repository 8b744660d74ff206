#!/usr/bin/env python3
"""Writes the seed corpora of the fuzz targets: small real STL files and
broken ones. Run from anywhere; rewrites fuzz/corpus/{reader,pipeline}/."""
import math
import os
import struct

HERE = os.path.dirname(os.path.abspath(__file__))

TETRA = [((0, 0, 0), (0, 2, 0), (2, 0, 0)), ((0, 0, 0), (2, 0, 0), (0, 0, 2)),
         ((0, 0, 0), (0, 0, 2), (0, 2, 0)), ((2, 0, 0), (0, 2, 0), (0, 0, 2))]


def octahedron():
    p = [(1, 0, 0), (-1, 0, 0), (0, 1, 0), (0, -1, 0), (0, 0, 1), (0, 0, -1)]
    faces = [(0, 2, 4), (2, 1, 4), (1, 3, 4), (3, 0, 4), (2, 0, 5), (1, 2, 5), (3, 1, 5), (0, 3, 5)]
    return [tuple(p[i] for i in f) for f in faces]


def binary(facets, header=b"", count=None, attribute=0):
    out = header.ljust(80, b"\0")[:80]
    out += struct.pack("<I", len(facets) if count is None else count)
    for facet in facets:
        out += struct.pack("<3f", 0, 0, 0)
        for corner in facet:
            out += struct.pack("<3f", *corner)
        out += struct.pack("<H", attribute)
    return out


def raw_binary(records):
    """Records given as 9 raw 32-bit patterns each."""
    out = b"\0" * 80 + struct.pack("<I", len(records))
    for bits in records:
        out += b"\0" * 12 + struct.pack("<9I", *bits) + b"\0\0"
    return out


def ascii_stl(facets, name="", newline="\n", final=False):
    lines = ["solid" + (" " + name if name else "")]
    for facet in facets:
        lines += ["facet normal 0 0 0", "outer loop"]
        lines += ["vertex %g %g %g" % corner for corner in facet]
        lines += ["endloop", "endfacet"]
    lines.append("endsolid" + (" " + name if name else ""))
    return (newline.join(lines) + (newline if final else "")).encode()


NAN, INF, NINF, DENORM, NZERO = 0x7FC00000, 0x7F800000, 0xFF800000, 0x00000001, 0x80000000
ONE, TWO = 0x3F800000, 0x40000000

READER = {
    "tetra_binary.stl": binary(TETRA),
    "tetra_binary_solid_header.stl": binary(TETRA, header=b"solid tetra"),
    "tetra_ascii.stl": ascii_stl(TETRA),
    "octahedron_ascii_crlf.stl": ascii_stl(octahedron(), name="octa", newline="\r\n", final=True),
    "empty_binary.stl": binary([]),
    "nan_inf_binary.stl": raw_binary([[NAN, 0, 0, INF, 0, 0, 0, NINF, 0],
                                      [DENORM, NZERO, 0, ONE, 0, 0, 0, TWO, NAN]]),
    "truncated_binary.stl": binary(TETRA, header=b"solid")[:-1],
    "huge_count.stl": binary(TETRA, count=0xFFFFFFFF),
    "wrapping_count.stl": binary([TETRA[0]], count=0x80000001),
    "empty.stl": b"",
    "solid_only.stl": b"solid",
    "not_solid.stl": b"sol\nid\n",
    "numbers.stl": (b"solid numbers\nvertex 1.5e+002 -2 abc\nVERTEX 0x1p-3 inf -nan(123)\n"
                    b"Vertex 1e999 -1e-999 .5\nvertex\t1 2 3\n\tvertex 1 2 3\nvertex 1 2\n"
                    b"vertex   7   8   9   10\nvertex +.e1 -0x.8p1 nan(abc)\nendsolid"),
    "blank_line_stops.stl": b"solid\nvertex 1 2 3\n   \nvertex 4 5 6\nendsolid",
    "nul_in_line.stl": b"solid\nvertex 1 2\x003\nvertex 4 5 6\nendsolid",
    "four_corners.stl": b"solid\nvertex 0 0 0\nvertex 1 0 0\nvertex 0 1 0\nvertex 1 1 0\nendsolid",
    "two_solids.stl": ascii_stl(TETRA[:2], final=True) + ascii_stl(TETRA[2:]),
    "binary_junk_ascii.stl": b"solid\n" + bytes(range(256)) + b"\nvertex 1 2 3\n",
}


def fan_on_one_edge():
    facets = []
    for i in range(8):
        apex = (0.5, math.cos(i), math.sin(i))
        facets.append(((0, 0, 0), (1, 0, 0), apex) if i % 2 else ((1, 0, 0), (0, 0, 0), apex))
    return facets


def params(iterations, height=False, files=False, threshold_choice=255, threshold=0.0, negative=False,
           lattice_mode=False, binary_out=False):
    flags = (iterations | (4 if height else 0) | (8 if files else 0) | (0x40 if negative else 0)
             | (0x10 if lattice_mode else 0) | (0x20 if binary_out else 0))
    return bytes([flags, threshold_choice]) + struct.pack("<f", threshold)


def through_files(content):
    """The whole call through files runs for flagged inputs whose FNV-1a hash
    is a multiple of 32: bytes 2-5, unused without a height limit or with a
    chosen threshold, are set to make it so."""
    for n in range(1 << 16):
        candidate = content[:2] + struct.pack("<I", n) + content[6:]
        h = 2166136261
        for byte in candidate:
            h = (h ^ byte) * 16777619 & 0xFFFFFFFF
        if h % 32 == 0:
            return candidate
    raise ValueError("no threshold bytes give the hash")


def lattice(base, step, offsets):
    """Corners for the pipeline fuzzer's lattice mode: signed byte offsets."""
    return bytes([base, step]) + bytes(o & 0xFF for o in offsets)


# Two facets sharing an edge, then a fan and near-duplicates of their corners.
LATTICE_OFFSETS = [0, 0, 0, 4, 0, 0, 0, 4, 0,
                   4, 0, 0, 0, 4, 0, 4, 4, 0,
                   1, -1, 0, 4, 1, 0, -2, 5, 1,
                   0, 0, 1, -1, 0, 0, 4, 4, 4]

PIPELINE = {
    "tetra_1.bin": params(1) + binary(TETRA),
    "tetra_3_files.bin": through_files(params(3, files=True) + ascii_stl(TETRA)),
    "octa_ascii_2_height_half.bin": params(2, height=True, threshold=0.5) + ascii_stl(octahedron()),
    "octa_ascii_3_height_nan.bin": params(3, height=True, threshold_choice=0) + ascii_stl(octahedron()),
    "tetra_3_height_negative.bin": through_files(params(3, height=True, threshold_choice=4, files=True,
                                                        binary_out=True) + ascii_stl(TETRA)),
    "tetra_negative_iterations.bin": through_files(params(2, negative=True, files=True) + ascii_stl(TETRA)),
    "nan_inf_2.bin": params(2) + READER["nan_inf_binary.stl"],
    "nan_inf_ascii_2_files.bin": through_files(params(2, files=True) + ascii_stl(
        [((math.nan, 0, math.inf), (0, -math.inf, 1e-45), (-0.0, 1, 0))])),
    "fan_2.bin": through_files(params(2, files=True, binary_out=True) + ascii_stl(fan_on_one_edge())),
    "duplicate_faces_2.bin": params(2) + binary([TETRA[0]] * 3 + [TETRA[1]]),
    "four_corners_1.bin": through_files(params(1, files=True) + READER["four_corners.stl"]),
    "empty_1.bin": through_files(params(1, files=True)),
    "lattice_cell_boundary_2.bin": through_files(params(2, files=True, lattice_mode=True)
                                                 + lattice(1, 0, LATTICE_OFFSETS)),
    "lattice_magnitude_32_1.bin": params(1, lattice_mode=True) + lattice(5, 3, LATTICE_OFFSETS),
    "lattice_tolerance_3_height.bin": params(3, height=True, threshold=1e-6, lattice_mode=True)
    + lattice(9, 4, LATTICE_OFFSETS),
    "near_weld_tolerance_1.bin": params(1) + ascii_stl([((0, 0, 0), (1, 0, 0), (0, 1, 0)),
                                                         ((1e-6, 0, 0), (0.9e-6, 1.8e-6, 0), (0, 0, 1))]),
}


def main():
    for name, files in (("reader", READER), ("pipeline", PIPELINE)):
        directory = os.path.join(HERE, "corpus", name)
        os.makedirs(directory, exist_ok=True)
        for old in os.listdir(directory):
            os.remove(os.path.join(directory, old))
        for file_name, content in files.items():
            with open(os.path.join(directory, file_name), "wb") as out:
                out.write(content)


if __name__ == "__main__":
    main()
