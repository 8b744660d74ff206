// Progress lines: on the process's standard output (as the exported
// functions print them), on standard error, or into a string that the caller
// prints later as a whole.
//
// Every line is written as its text and a line feed, then flushed, so lines
// appear at once and in order even when the host buffers its own output.
// Numbers are formatted here rather than through operator<<, so that a locale
// the host has installed (digit grouping, decimal comma) never changes a byte.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace stlrefine {

class Console {
public:
    enum class Target { StandardOutput, StandardError, Transcript, None };

    // `transcript` receives the lines of a Transcript console.
    explicit Console(Target target, std::string* transcript = nullptr)
        : target_(transcript == nullptr && target == Target::Transcript ? Target::None : target),
          transcript_(transcript) {}

    void line(std::string_view text) const;
    // The label directly followed by the number in decimal.
    void line(std::string_view label, std::int32_t value) const;
    // The label, the float as a default-formatted stream writes it, the tail.
    void line(std::string_view label, float value, std::string_view tail) const;

private:
    Target target_;
    std::string* transcript_;
};

}  // namespace stlrefine
