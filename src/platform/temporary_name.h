// The name of the temporary file that an output is written to before it
// replaces the output, alike on every system: ".<the output's name>.<8
// random base-36 characters>.tmp" beside the output, so that a user knows it
// for one. Each system only makes the file, exclusively, in its own way.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>

#include "common/hash.h"

namespace stlrefine::platform {

// At most this many characters of the output's name are kept, so that the
// temporary name fits wherever the output's name fits.
constexpr std::size_t TemporaryBaseLength = 100;
// Characters the temporary name adds to the kept ones: "." and ".<8>.tmp".
constexpr std::size_t TemporaryExtra = 14;

enum class Attempt { Made, NameTaken, Failed };

// Tries fresh names (`folder` in front, `base` the output's name) until
// `create(name)` makes the file or fails other than by the name being
// taken. False with `name` empty when no file was made: it must never name
// a file that this call did not make.
template <class Char, class Create>
bool makeTemporary(std::basic_string_view<Char> folder, std::basic_string_view<Char> base,
                   std::uint64_t processId, std::basic_string<Char>& name, Create create) {
    const auto ticks =
        static_cast<std::uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
    std::uint64_t bits = mixBits(ticks ^ reinterpret_cast<std::uintptr_t>(&name) ^ (processId << 32));
    constexpr char Digits[] = "0123456789abcdefghijklmnopqrstuvwxyz";
    for (int attempt = 0; attempt < 100; ++attempt) {
        name.assign(folder).push_back('.');
        name.append(base.substr(0, TemporaryBaseLength)).push_back('.');
        for (int i = 0; i < 8; ++i, bits /= 36) name.push_back(static_cast<Char>(Digits[bits % 36]));
        for (const char c : std::string_view(".tmp")) name.push_back(static_cast<Char>(c));
        const Attempt result = create(name);
        if (result == Attempt::Made) return true;
        if (result == Attempt::Failed) break;
        bits = mixBits(bits + static_cast<std::uint64_t>(attempt) + 1);
    }
    name.clear();
    return false;
}

}  // namespace stlrefine::platform
