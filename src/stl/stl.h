// STL input and output.
//
// Each reader comes in two layers: a parser over a byte buffer (pure, fast to
// test and fuzz) and a thin wrapper that reads the file by its wide path and
// prints the reader's progress line.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace stlrefine {

// One facet corner as read from a file. `reserved` is always zero.
struct StlPoint {
    float x;
    float y;
    float z;
    std::uint32_t reserved;
};
static_assert(sizeof(StlPoint) == 16, "StlPoint is four 32-bit fields");

// Facet corners in file order, three per facet for a well-formed file.
using StlPointList = std::vector<StlPoint>;

enum StlType : std::int32_t { NotStl = 0, Ascii = 1, Binary = 2 };

// Bytes of a binary STL before the first facet record: 80-byte header and
// the 32-bit facet count.
inline constexpr std::size_t BinaryHeaderSize = 84;
inline constexpr std::size_t BinaryRecordSize = 50;

// --- Reading -------------------------------------------------------------

// Empties `list`, opens `path`, classifies it and has the matching parser fill
// `list`. Returns 1 when the file opens (whatever it holds), else prints
// "I/O fail" and returns 0.
std::int32_t readStlFile(StlPointList& list, std::wstring path);

// Classifies the file at `path` and prints the detection line. A file that
// cannot be opened is NotStl (and prints "it not stl data...").
StlType detectStlType(std::wstring path);

// Classification from the file's size and its first bytes (up to 84; fewer
// when the file is shorter). Binary when the facet count at offset 80 matches
// the size exactly; else Ascii when it starts with "solid"; else NotStl.
// Prints nothing.
StlType classifyStl(const unsigned char* head, std::size_t headSize, std::uint64_t fileSize);

// Binary STL: reads the file at `path` in one go, appends three corners per
// facet and prints "Read binary file success!".
void readBinaryStl(StlPointList& list, std::wstring path);
// Decodes the facet records of a binary STL held in `data`. Decodes the facet
// count of the header, but never more complete records than `size` holds.
void parseBinaryStl(const unsigned char* data, std::size_t size, StlPointList& list);

// ASCII STL: reads the file at `path`, appends one corner per "vertex" line,
// and prints "Read ascii data success!" when the file's last line has a token
// and no line feed after it.
void readAsciiStl(StlPointList& list, std::wstring path);
// Parses ASCII STL text; returns true when the parse reached the end of the
// data on a last line that has a token and no line feed after it (the case in
// which the success line is printed).
bool parseAsciiStl(const char* data, std::size_t size, StlPointList& list);

// atof in the "C" locale, then rounded to float: leading white space, optional
// sign, decimal or hexadecimal number, inf/infinity/nan; the longest valid
// prefix counts, no number gives 0. [first, last) is one token.
float parseStlNumber(const char* first, const char* last);

// --- Writing -------------------------------------------------------------

// Writes `cornerCount` corners (three per facet) of `facetCorners` with the
// normals of `normalArray` as an ASCII STL file at `outputPath`, then prints
// "stl file: output success!!", or "- Error, unable open file to save" when
// the file cannot be opened.
void writeAsciiStl(std::wstring outputPath, const float* facetCorners, std::int32_t cornerCount,
                   const float* normalArray);

}  // namespace stlrefine
