// Hashing for the tables that index a call's data.
//
// With a fixed hash function an input file can be built whose keys all land
// in a few neighbouring slots, which turns every open-addressing table into a
// linear list and the stage into quadratic time. A seed that changes from
// call to call (the clock, and where the call's data lies in memory) keeps an
// author of a file from knowing where its keys land. Only the layout of the
// tables depends on it; what a lookup finds, and so every result, does not.
#pragma once

#include <chrono>
#include <cstdint>

namespace stlrefine {

// splitmix64's finaliser: every input bit reaches every output bit.
inline std::uint64_t mixBits(std::uint64_t x) {
    x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
    x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
    return x ^ (x >> 31);
}

// Hash of three 32-bit words (a point's coordinates or cell numbers): one
// multiply per word and one mixing step, cheap enough for every corner. The
// high bits are the well-mixed ones: tables index with them.
inline std::uint64_t hashTriple(std::uint32_t a, std::uint32_t b, std::uint32_t c, std::uint64_t seed) {
    std::uint64_t h = (std::uint64_t{a} * 0x9E3779B97F4A7C15ull) ^
                      (std::uint64_t{b} * 0xC2B2AE3D27D4EB4Full) ^
                      (std::uint64_t{c} * 0x165667B19E3779F9ull) ^ seed;
    h ^= h >> 29;
    return h * 0xBF58476D1CE4E5B9ull;
}

// A seed for one table, from the time and the address of data of the caller.
inline std::uint64_t perCallHashSeed(const void* callData) {
    const auto ticks =
        static_cast<std::uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
    const auto address = static_cast<std::uint64_t>(reinterpret_cast<std::uintptr_t>(callData));
    return mixBits(ticks ^ mixBits(address + 0x9E3779B97F4A7C15ull));
}

}  // namespace stlrefine
