#include "common/console.h"

#include <charconv>
#include <iostream>
#include <string>

namespace stlrefine {

void printLine(std::string_view text) {
    // One write per line keeps lines whole when several calls share stdout.
    std::string line;
    line.reserve(text.size() + 1);
    line.append(text);
    line.push_back('\n');
    std::cout.write(line.data(), static_cast<std::streamsize>(line.size()));
    std::cout.flush();
}

void printLine(std::string_view label, std::int32_t value) {
    char digits[16];
    const auto result = std::to_chars(digits, digits + sizeof digits, value);
    std::string text(label);
    text.append(digits, result.ptr);
    printLine(text);
}

}  // namespace stlrefine
