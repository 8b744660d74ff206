// The --stats lines and the --json object of one file's run. Numbers are
// written with to_chars and formatFloat, never through a stream, so that no
// locale changes them.
//
// JSON text is ASCII only: every character beyond U+007F is written as \u
// escapes of its UTF-16 form, as are the control characters. A name whose
// bytes are not UTF-8 arrives with those bytes as they are; each such byte
// 0xXY is written as \udcXY, the lone surrogate that the name codec
// (common/utf8.h) gives it, so that the text stays valid JSON and the bytes
// can be recovered (Python: os.fsencode of the decoded string).
#include "run_report.h"

#include <charconv>
#include <cmath>
#include <cstdint>
#include <string>
#include <string_view>

#include "common/float_format.h"
#include "common/utf8.h"

namespace stlrefine::cli {

namespace {

// --- Numbers --------------------------------------------------------------

// A float as the progress lines write it: six significant digits.
std::string floatText(float value) {
    char text[MaxFloatTextLength];
    return std::string(text, formatFloat(text, value));
}

// A double with six significant digits, as "%g" writes it in the C locale.
std::string doubleText(double value) {
    char text[32];
    return std::string(text,
                       std::to_chars(text, text + sizeof text, value, std::chars_format::general, 6).ptr);
}

// The shortest text that reads back as the same value; null when it is not
// finite, which JSON cannot hold.
template <typename Real>
std::string jsonNumber(Real value) {
    if (!std::isfinite(value)) return "null";
    char text[32];
    return std::string(text, std::to_chars(text, text + sizeof text, value).ptr);
}

// --- JSON -----------------------------------------------------------------

void appendEscape(std::uint32_t unit, std::string& out) {
    constexpr char Hex[] = "0123456789abcdef";
    out += "\\u";
    for (int shift = 12; shift >= 0; shift -= 4) out.push_back(Hex[(unit >> shift) & 0xF]);
}

std::string jsonString(std::string_view text) {
    std::string out = "\"";
    for (const wchar_t unit : wideName(text)) {
        auto c = static_cast<std::uint32_t>(unit);
        if (c == '"' || c == '\\') {
            out.push_back('\\');
            out.push_back(static_cast<char>(c));
        } else if (c == '\n') {
            out += "\\n";
        } else if (c == '\t') {
            out += "\\t";
        } else if (c >= 0x20 && c < 0x7F) {
            out.push_back(static_cast<char>(c));
        } else if (c >= 0x10000) {  // wchar_t of 32 bits; 16-bit ones hold the pair already
            appendEscape(0xD800 + ((c - 0x10000) >> 10), out);
            appendEscape(0xDC00 + ((c - 0x10000) & 0x3FF), out);
        } else {
            appendEscape(c, out);
        }
    }
    out.push_back('"');
    return out;
}

// Appends `"name":value` to an object being written, with its comma.
void field(std::string& json, std::string_view name, const std::string& value) {
    json += json.size() > 1 ? ",\"" : "\"";
    json += name;
    json += "\":";
    json += value;
}

// "[x,y,z]" or "(x, y, z)".
template <typename Text>
std::string point(const float (&p)[3], Text text, const char* open, const char* comma, const char* close) {
    std::string out = open;
    for (int axis = 0; axis < 3; ++axis) (out += axis == 0 ? "" : comma) += text(p[axis]);
    return out += close;
}

std::string jsonPoint(const float (&p)[3]) { return point(p, jsonNumber<float>, "[", ",", "]"); }

std::string jsonMesh(const std::optional<MeshReport>& mesh) {
    if (!mesh) return "null";
    const MeshReport& m = *mesh;
    std::string json = "{";
    field(json, "vertices", std::to_string(m.vertices));
    field(json, "facets", std::to_string(m.facets));
    field(json, "edges", std::to_string(m.edges));
    field(json, "boundary_edges", std::to_string(m.boundaryEdges));
    field(json, "non_manifold_edges", std::to_string(m.nonManifoldEdges));
    field(json, "flipped_edges", std::to_string(m.flippedEdges));
    field(json, "degenerate_facets", std::to_string(m.degenerateFacets));
    field(json, "facets_with_open_edges", std::to_string(m.facetsWithOpenEdges));
    field(json, "parts", std::to_string(m.parts));
    field(json, "box_min", jsonPoint(m.boxMin));
    field(json, "box_max", jsonPoint(m.boxMax));
    field(json, "area", jsonNumber(m.area));
    field(json, "volume", jsonNumber(m.volume));
    field(json, "closed", m.closed ? "true" : "false");
    return json + "}";
}

// --- Words ----------------------------------------------------------------

const char* statusWord(const RefineReport& report) {
    switch (report.outcome) {
        case RefineOutcome::Written: return report.facetsIn == 0 ? "no-mesh" : "written";
        case RefineOutcome::InputNotOpened: return "input-not-opened";
        case RefineOutcome::InputNotRead: return "input-not-read";
        case RefineOutcome::OutputNotOpened: return "output-not-opened";
        case RefineOutcome::OutputNotWritten: return "output-not-written";
        case RefineOutcome::Failed: break;
    }
    return "not-refined";
}

const char* inputType(StlFormat format) {
    switch (format) {
        case StlFormat::Ascii: return "ascii";
        case StlFormat::Binary: return "binary";
        case StlFormat::NotStl: break;
    }
    return "none";
}

// Why the iterations ended, as a JSON value: null when no mesh came out of
// them (the input failed, or the call did).
std::string stopWord(const RefineReport& report) {
    switch (report.outcome) {
        case RefineOutcome::InputNotOpened:
        case RefineOutcome::InputNotRead:
        case RefineOutcome::Failed: return "null";
        default: break;
    }
    return report.stoppedAtVertexLimit ? "\"vertex-limit\""
           : report.stoppedByHeight    ? "\"height\""
                                       : "\"done\"";
}

// "1 part", "2 parts".
std::string count(std::int32_t n, std::string_view one, std::string_view many) {
    return std::to_string(n) + " " + std::string(n == 1 ? one : many);
}

std::string pointText(const float (&p)[3]) { return point(p, floatText, "(", ", ", ")"); }

// Three lines for one mesh.
std::string meshText(const char* label, const MeshReport& m) {
    std::string text = "stlrefine: " + std::string(label) + ": " + count(m.vertices, "vertex", "vertices") +
                       ", " + count(m.facets, "facet", "facets") + " (" + std::to_string(m.degenerateFacets) +
                       " degenerate), " + count(m.edges, "edge", "edges") + " (" +
                       std::to_string(m.boundaryEdges) + " boundary, " + std::to_string(m.nonManifoldEdges) +
                       " non-manifold), " + count(m.parts, "part", "parts") + "\n";
    text += "stlrefine:   box " + pointText(m.boxMin) + " to " + pointText(m.boxMax) + "\n";
    text += "stlrefine:   area " + doubleText(m.area) + ", volume " + doubleText(m.volume);
    if (m.closed) return text + " (closed)\n";
    text += " (not closed";
    if (m.flippedEdges > 0) text += ", " + std::to_string(m.flippedEdges) + " inconsistently oriented edges";
    return text + "; the volume means little)\n";
}

}  // namespace

std::string statsText(const FileRun& run) {
    std::string text;
    if (run.report.inputMesh) text += meshText("input mesh", *run.report.inputMesh);
    if (run.report.refinedMesh) text += meshText("refined mesh", *run.report.refinedMesh);
    return text;
}

std::string jsonLine(const FileRun& run, bool withStats) {
    const RefineReport& report = run.report;
    std::string json = "{";
    field(json, "input", jsonString(run.input));
    field(json, "output", jsonString(run.output));
    field(json, "status", '"' + std::string(statusWord(report)) + '"');
    field(json, "exit_status", std::to_string(run.exitStatus));
    field(json, "input_type", '"' + std::string(inputType(report.inputFormat)) + '"');
    field(json, "facets_in", std::to_string(report.facetsIn));
    field(json, "vertices_in", std::to_string(report.verticesIn));
    field(json, "facets_out", std::to_string(report.facetsOut));
    field(json, "vertices_out", std::to_string(report.verticesOut));
    field(json, "iterations_asked", run.iterationsAsked < 0 ? "null" : std::to_string(run.iterationsAsked));
    field(json, "max_height", run.maxHeight ? jsonNumber(*run.maxHeight) : "null");
    field(json, "iterations_run", std::to_string(report.iterationsRun));
    field(json, "stopped", stopWord(report));
    field(json, "seconds", jsonNumber(run.seconds));
    field(json, "reason", report.outcome == RefineOutcome::Written ? "null" : jsonString(report.reason));
    if (withStats) {
        field(json, "input_mesh", jsonMesh(report.inputMesh));
        field(json, "refined_mesh", jsonMesh(report.refinedMesh));
    }
    return json + "}\n";
}

}  // namespace stlrefine::cli
