// Progress lines on the process's standard output.
//
// Every line is written as its text and a line feed, then flushed, so lines
// appear at once and in order even when the host buffers its own output.
// Numbers are formatted here rather than through operator<<, so that a locale
// the host has installed (digit grouping, decimal comma) never changes a byte.
#pragma once

#include <cstdint>
#include <string_view>

namespace stlrefine {

void printLine(std::string_view text);
// The label directly followed by the number in decimal.
void printLine(std::string_view label, std::int32_t value);

}  // namespace stlrefine
