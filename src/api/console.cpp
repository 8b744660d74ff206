#include "api/console.h"

#include <charconv>
#include <iostream>
#include <string>

#include "common/float_format.h"

namespace stlrefine {

void Console::line(std::string_view text) const {
    if (!enabled_) return;
    // One write per line keeps lines whole when several calls share stdout.
    std::string whole;
    whole.reserve(text.size() + 1);
    whole.append(text);
    whole.push_back('\n');
    std::cout.write(whole.data(), static_cast<std::streamsize>(whole.size()));
    std::cout.flush();
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
