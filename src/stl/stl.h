// STL input and output.
//
// The parsers work over bytes in memory (pure, fast to test and fuzz); the
// reader and the writer move those bytes through the files of one call.
// Nothing here prints: the reader reports what it found, the writer whether
// it could write, and the pipeline tells the user.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "common/arrays.h"
#include "mesh/mesh.h"
#include "platform/platform.h"

namespace stlrefine {

// x, y, z of every facet corner, in file order: three corners per facet for
// a well-formed file.
using StlPointList = GrowingArray<float>;

// What a file holds, and what the writer writes (Ascii or Binary).
enum class StlFormat { NotStl, Ascii, Binary };

// Bytes of a binary STL before the first facet record: 80-byte header and
// the 32-bit facet count; then 50 bytes per facet.
inline constexpr std::size_t BinaryHeaderSize = 84;
inline constexpr std::size_t BinaryRecordSize = 50;

// --- Reading -------------------------------------------------------------

// Classification from the file's size and its first bytes (up to 84; fewer
// when the file is shorter). Binary when the facet count at offset 80
// matches the size exactly, so binary files whose header begins with
// "solid" are binary; else Ascii when "solid" stands at the very first byte;
// else NotStl.
StlFormat detectStlFormat(const unsigned char* head, std::size_t headSize, std::uint64_t fileSize);

// Appends the three corners of each complete facet record in
// [records, records + size), at most `maxCount` of them; returns how many
// records it decoded. The stored normal and the attribute word are not read.
std::size_t appendBinaryFacets(const unsigned char* records, std::size_t size, std::size_t maxCount,
                               StlPointList& corners);

// Appends one corner per "vertex" line of ASCII STL text. Returns true when
// the parse reached the end of the text on a last line that has a token and
// no line feed after it; an empty or blank line ends the parse early.
bool parseAsciiStl(const char* data, std::size_t size, StlPointList& corners);

// Parses the lines of one block of ASCII STL text. With `final` false, a
// block may end inside a line: the lines before it are parsed and
// `consumed` tells how many bytes they span (the rest starts the next
// block). Stopped: a blank line ended the parse; EndReached: the text ended
// on a last line that has a token and no line feed; NeedMore: more text may
// follow.
enum class AsciiStatus { Stopped, NeedMore, EndReached };
AsciiStatus parseAsciiLines(const char* data, std::size_t size, bool final, StlPointList& corners,
                            std::size_t& consumed);

// Facet text takes 50 to 80 bytes per corner in typical files: reserving one
// corner per this many bytes saves the copies of regrowth, at the cost of a
// third of the text's size at most.
inline constexpr std::size_t AsciiBytesPerCorner = 48;

// atof in the "C" locale, then rounded to float: leading white space, optional
// sign, decimal or hexadecimal number, inf/infinity/nan; the longest valid
// prefix counts, no number gives 0. [first, last) is one token.
float parseStlNumber(const char* first, const char* last);

// The first bytes of an open input and what they say. For a pipe, whose
// size is only known at its end, all of its bytes.
struct StlHead {
    std::unique_ptr<char[]> bytes;
    std::size_t size = 0;        // bytes read
    std::uint64_t fileSize = 0;  // the file's size (for a pipe: `size`)
    bool wholeFile = false;      // `bytes` holds the whole input
    StlFormat format = StlFormat::NotStl;
};

// Reads the first bytes of the open input and classifies them. False when a
// read failed (`input.error()` says why).
bool detectStlFile(platform::InputFile& input, StlHead& head);

// Parses the input classified by detectStlFile with the matching parser,
// reading each byte once, so that a file replaced meanwhile cannot be
// classified as one thing and parsed as another. A binary file that is
// shorter than its facet count says gives its complete records. Returns
// parseAsciiStl's result for ASCII input (false otherwise); a failed read
// shows in `input.failed()`.
bool parseStlFile(platform::InputFile& input, const StlHead& head, StlPointList& corners);

// --- Writing -------------------------------------------------------------

// Writes `mesh` to an open output as an STL file of the format asked for
// (Ascii or Binary): each face as a facet with its unit normal
// (computeFaceNormals) and its three corners, in face order, then the
// closing keyword. False once a write has failed (`output.error()` says why).
bool writeStl(platform::OutputFile& output, StlFormat format, const Mesh& mesh);

// Writes facets to an open output as they come, through one buffer, so that
// a mesh of any size needs no array of its whole text. ASCII numbers are
// written as a default-formatted float is (six significant digits,
// independent of the locale); binary records carry the same floats bit for
// bit. Every call returns false once a write has failed, and nothing more
// is written then; `output.error()` says why.
class StlWriter {
public:
    // `facetCount` is needed up front by the binary header only.
    StlWriter(platform::OutputFile& output, StlFormat format, std::uint32_t facetCount);
    ~StlWriter();
    StlWriter(const StlWriter&) = delete;
    StlWriter& operator=(const StlWriter&) = delete;

    // `count` facets: nine floats of corners and three of normal each.
    bool writeFacets(const float* facetCorners, const float* normals, std::size_t count);
    // The closing keyword and whatever the buffer still holds.
    bool finish();

private:
    struct Text;
    bool flushWholePages();
    platform::OutputFile& output_;
    StlFormat format_;
    std::unique_ptr<Text> cornerText_;  // ASCII only: the text of recent corners
    std::unique_ptr<Text> normalText_;  // and of recent normals
    std::unique_ptr<char[]> buffer_;
    std::size_t used_ = 0;
};

}  // namespace stlrefine
