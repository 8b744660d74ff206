#include "api/console.h"

#include <charconv>
#include <iostream>
#include <string>

#include "common/float_format.h"

namespace stlrefine {

void Console::line(std::string_view text) const {
    if (target_ == Target::None) return;
    if (target_ == Target::Transcript) {
        transcript_->append(text).push_back('\n');
        return;
    }
    // One write per line keeps lines whole when several calls share a stream.
    std::string whole;
    whole.reserve(text.size() + 1);
    whole.append(text);
    whole.push_back('\n');
    std::ostream& stream = target_ == Target::StandardOutput ? std::cout : std::cerr;
    stream.write(whole.data(), static_cast<std::streamsize>(whole.size()));
    stream.flush();
}

void Console::line(std::string_view label, std::int32_t value) const {
    char digits[16];
    const auto result = std::to_chars(digits, digits + sizeof digits, value);
    std::string text(label);
    text.append(digits, result.ptr);
    line(text);
}

void Console::line(std::string_view label, float value, std::string_view tail) const {
    char number[MaxFloatTextLength];
    std::string text(label);
    text.append(number, formatFloat(number, value));
    text.append(tail);
    line(text);
}

}  // namespace stlrefine
