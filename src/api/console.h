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

class Console {
public:
    // A quiet console prints nothing (the command line's --quiet).
    explicit Console(bool enabled) : enabled_(enabled) {}

    void line(std::string_view text) const;
    // The label directly followed by the number in decimal.
    void line(std::string_view label, std::int32_t value) const;
    // The label, the float as a default-formatted stream writes it, the tail.
    void line(std::string_view label, float value, std::string_view tail) const;

private:
    bool enabled_;
};

}  // namespace stlrefine
