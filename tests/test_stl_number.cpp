// Number conversion of the ASCII reader: atof in the "C" locale, rounded to
// float. The C library's strtod is the oracle over generated tokens.
#include <gtest/gtest.h>

#include <bit>
#include <clocale>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>

#include "stl/stl.h"

namespace {

std::uint32_t bitsOf(float value) { return std::bit_cast<std::uint32_t>(value); }

float parse(const std::string& token) { return stlrefine::parseStlNumber(token.data(), token.data() + token.size()); }
float oracle(const std::string& token) { return static_cast<float>(std::strtod(token.c_str(), nullptr)); }

TEST(StlNumber, TrickyTokens) {
    ASSERT_NE(std::setlocale(LC_ALL, "C"), nullptr);
    const float inf = INFINITY;
    const struct { const char* token; float expected; } cases[] = {
        {"\t\v\f\r 7", 7.0f}, {"+.5e1x", 5.0f},   {".e1", 0.0f},       {"1e+", 1.0f},           {"1,5", 1.0f},
        {"+-1", 0.0f},        {"0x1p3", 8.0f},    {"-0X.8", -0.5f},    {"0xg", 0.0f},           {"0x.p1", 0.0f},
        {"0x1p", 1.0f},       {"0x1p+-45", 1.0f}, {"0x1.8p-+5", 1.5f}, {"0x1.8P+1z", 3.0f},     {"1e999", inf},
        {"-1e999", -inf},     {"InFiNiTy", inf},  {"-inf", -inf},      {"infinit", inf},        {"1e-999", 0.0f},
        {"1e39", inf},        {"1e-99999999999999999999999", 0.0f},    {"0x1p99999999999", inf},
        {"1.401298464e-45", 1.401298464e-45f},  // the least float denormal
        // Just above the float halfway point between 1 and its successor:
        // through double it lands on the halfway point, and ties-to-even
        // then gives 1 (a direct float conversion would round up).
        {"1.0000000596046447753906250000000001", 1.0f},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(bitsOf(parse(c.token)), bitsOf(c.expected)) << '"' << c.token << '"';
        EXPECT_EQ(bitsOf(parse(c.token)), bitsOf(oracle(c.token))) << '"' << c.token << '"';
    }
    EXPECT_TRUE(std::signbit(parse("-1e-999")));
    for (const char* token : {"nan", "-NaN(abc_1)", "nan(0x7fffffffffffffff)", "nan(077777777777777777)", "nan(0x1",
                              "nan(123456789012345678901234)"}) {
        EXPECT_TRUE(std::isnan(parse(token))) << token;
        EXPECT_EQ(bitsOf(parse(token)), bitsOf(oracle(token))) << token;
    }
    const char text[] = "12345";  // only the range is read
    EXPECT_EQ(stlrefine::parseStlNumber(text, text + 2), 12.0f);
}

TEST(StlNumber, AgreesWithTheCLibraryOnGeneratedTokens) {
    ASSERT_NE(std::setlocale(LC_ALL, "C"), nullptr);
    std::mt19937_64 random(20240601);
    auto below = [&](std::uint64_t n) { return random() % n; };
    auto pick = [&](std::initializer_list<const char*> options) { return options.begin()[below(options.size())]; };
    auto digits = [&](std::string& text, std::size_t maxCount, const char* alphabet) {
        const bool zeros = below(4) == 0;  // runs of zeros stress the rounding
        for (std::size_t i = below(maxCount + 1); i > 0; --i) {
            text += zeros && below(2) ? '0' : alphabet[below(std::strlen(alphabet))];
        }
    };
    auto exponent = [&](std::string& text, char letter) {
        (text += letter) += pick({"", "+", "-"});
        if (below(4)) return digits(text, 3, "0123456789");
        text += pick({"999", "-45", "38", "1075", "-1075", "0000000000000000000000001"});
    };
    int mismatches = 0;
    for (int i = 0; i < 200'000; ++i) {
        std::string token = pick({"", "", "", "\t", " \v\f\r"});
        token += pick({"", "", "", "+", "-", "+-"});
        const std::uint64_t kind = below(6);
        if (kind < 2) {
            const char* alphabet = kind ? "0123456789abcdefABCDEF" : "0123456789";
            token += kind ? "0x" : "";
            digits(token, kind && below(4) ? 40 : 20, alphabet);
            if (below(3)) digits(token += '.', 20, alphabet);
            if (below(2)) exponent(token, kind ? 'P' : 'e');
        } else if (kind == 2) {
            token += pick({"inf", "INFINITY", "Infin", "nan", "NaN(", "in", "na"});
            if (below(2)) digits(token, 20, "0123456789abcdefx_"), token += ')';
        } else {
            // A float printed in a common format, or the decimal text of the
            // point halfway between it and the next float, exact or nudged up.
            const float low = std::bit_cast<float>(static_cast<std::uint32_t>(random()) & 0x7effffffu);
            char text[200];
            if (kind == 3) {
                std::snprintf(text, sizeof text, pick({"%.6g", "%.9g", "%a", "%f", "%e"}), double(low));
                token += text;
            } else {
                std::snprintf(text, sizeof text, "%.130e", (double(low) + double(std::nextafter(low, INFINITY))) / 2);
                const std::string exact = text;
                const std::size_t e = exact.find('e');
                token += exact.substr(0, exact.find_last_not_of('0', e - 1) + 1);
                if (kind == 4) (token += std::string(below(30), '0')) += '1';
                token += exact.substr(e);
            }
        }
        token += pick({"", "", "", "abc", "e+", "x", "..5", "p3", "(", ",5", "\x01"});
        if (bitsOf(parse(token)) != bitsOf(oracle(token)) && ++mismatches <= 20) {
            ADD_FAILURE() << "token \"" << token << "\": got " << parse(token) << ", expected " << oracle(token);
        }
    }
    EXPECT_EQ(mismatches, 0);
}

}  // namespace
