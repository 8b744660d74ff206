// Number conversion of the ASCII reader: atof in the "C" locale, rounded to
// float. The C library's strtod is the oracle over generated tokens.
#include <gtest/gtest.h>

#include <cctype>
#include <clocale>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <random>
#include <string>
#include <vector>

#include "stl/stl.h"

namespace {

using stlrefine::parseStlNumber;

std::uint32_t bitsOf(float value) {
    std::uint32_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    return bits;
}

float parse(const std::string& token) { return parseStlNumber(token.data(), token.data() + token.size()); }

// What atof gives for the token, stored into a float (the C library stops
// at a NUL, as the token's own rules do).
float oracle(const std::string& token) { return static_cast<float>(std::strtod(token.c_str(), nullptr)); }

// Unoptimised and sanitizer builds are many times slower: they check a tenth
// of the tokens, which still covers every kind of token many times over.
#if defined(NDEBUG) && !defined(__SANITIZE_ADDRESS__)
constexpr int TokenScale = 10;
#else
constexpr int TokenScale = 1;
#endif

class StlNumber : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_NE(std::setlocale(LC_ALL, "C"), nullptr); }
};

TEST_F(StlNumber, KnownTokens) {
    const float inf = INFINITY;
    const struct {
        const char* token;
        float expected;
    } cases[] = {
        {"1.5e+002", 150.0f},  {"-2", -2.0f},          {"abc", 0.0f},        {"", 0.0f},
        {"\t\v\f\r 7", 7.0f},  {"+.5e1x", 5.0f},       {".", 0.0f},          {".e1", 0.0f},
        {"1e", 1.0f},          {"1e+", 1.0f},          {"2E-1", 0.2f},       {"1,5", 1.0f},
        {"3.", 3.0f},          {"+-1", 0.0f},          {"- 1", 0.0f},        {"0x1p3", 8.0f},
        {"-0X.8", -0.5f},      {"0x", 0.0f},           {"0xg", 0.0f},        {"0x.p1", 0.0f},
        {"0x1p", 1.0f},        {"0x1.8P+1z", 3.0f},    {"1e999", inf},       {"-1e999", -inf},
        {"InFiNiTy", inf},     {"-inf", -inf},         {"infinit", inf},     {"0x1p99999999999", inf},
        {"1e-999", 0.0f},      {"1e-50", 0.0f},        {"1e39", inf},        {"3.4028235e38", 3.4028235e38f},
        {"1e+99999999999999999999", inf},       {"-0x1p99999", -inf},   {"1e-99999999999999999999999", 0.0f},
        {"5E-0000000000000000000000000000001", 0.5f},
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
    EXPECT_TRUE(std::signbit(parse("-0")));
    EXPECT_TRUE(std::signbit(parse("-1e-999")));
    EXPECT_TRUE(std::isnan(parse("nan")));
    // NaN payloads: a whole base-0 number in the parentheses sets the mantissa.
    for (const char* token : {"-NaN(abc_1)", "nan(0x7fffffffffffffff)", "-nan(0x1234567890abc)",
                              "nan(077777777777777777)", "nan(123456789012345678901234)", "nan(0x)", "nan(08)",
                              "nan()", "nan(0x1", "NAN(0X7FFFFFFFFFFFF)", "nan(9007199254740991)", "nan(_)"}) {
        EXPECT_TRUE(std::isnan(parse(token))) << token;
        EXPECT_EQ(bitsOf(parse(token)), bitsOf(oracle(token))) << token;
    }
    // Only the range is read: a longer buffer behind it changes nothing.
    const char text[] = "12345";
    EXPECT_EQ(parseStlNumber(text, text + 2), 12.0f);
}

class TokenGenerator {
public:
    explicit TokenGenerator(std::uint64_t seed) : random_(seed) {}

    std::string next() {
        std::string token = pick({"", "", "", "", "\t", " ", "\t\t", "\v\f\r\n"});
        token += pick({"", "", "", "", "", "+", "-", "-", "-", "+-", "--"});
        switch (below(16)) {
            case 0: case 1: case 2: case 3: case 4: token += decimal(20); break;
            case 5: token += decimal(400); break;
            case 6: case 7: token += hexadecimal(); break;
            case 8: token += special(); break;
            case 9: case 10: case 11: token += nearHalfway(); break;
            case 12: token += tiny(); break;
            case 13: token += nearOverflow(); break;
            default: token += formatted();
        }
        token += pick({"", "", "", "", "abc", "e", "e+", "E-", "x", ".", "..5", "\t7", "p3", "(", ",5",
                       "\x01", std::string(1, '\0') + "9", " 1"});
        return token;
    }

private:
    std::mt19937_64 random_;

    std::uint64_t below(std::uint64_t n) { return random_() % n; }

    std::string pick(std::initializer_list<std::string> options) {
        return *(options.begin() + below(options.size()));
    }

    std::string digits(std::size_t maxCount, const char* alphabet = "0123456789") {
        std::string text;
        const std::size_t count = below(maxCount + 1);
        const bool zeros = below(4) == 0;  // runs of zeros stress the rounding
        for (std::size_t i = 0; i < count; ++i) {
            text += zeros && below(2) ? '0' : alphabet[below(std::strlen(alphabet))];
        }
        return text;
    }

    std::string exponent(const char* letters) {
        std::string text(1, letters[below(2)]);
        text += pick({"", "+", "-"});
        if (below(4)) return text + digits(3);
        return text + pick({"999", "-999", "99999999999999999999", "308", "309", "-324", "-45", "38", "1074",
                            "1075", "-1075", "0000000000000000000000001"});
    }

    std::string decimal(std::size_t maxDigits) {
        std::string text = digits(maxDigits);
        if (below(3)) text += '.' + digits(maxDigits);
        if (below(2)) text += exponent("eE");
        return text;
    }

    std::string hexadecimal() {
        std::string text = below(2) ? "0x" : "0X";
        const char* alphabet = "0123456789abcdefABCDEF";
        text += digits(below(4) ? 16 : 40, alphabet);
        if (below(2)) text += '.' + digits(20, alphabet);
        if (below(3)) text += exponent("pP");
        return text;
    }

    std::string special() {
        std::string word = pick({"inf", "infinity", "infin", "nan", "nan(", "in", "na"});
        for (char& c : word) c = below(2) ? static_cast<char>(std::toupper(static_cast<unsigned char>(c))) : c;
        if (word == "nan(" || word == "NAN(" || word == "nAn(") {
            word += pick({"", "0x", "0", "1", "abc_"}) + digits(20, "0123456789abcdefxX_g");
            if (below(4)) word += ')';
        }
        return word;
    }

    float randomFloat() {
        std::uint32_t bits = static_cast<std::uint32_t>(random_());
        if ((bits & 0x7f800000u) == 0x7f800000u) bits &= 0xbfffffffu;  // keep it finite
        float value;
        std::memcpy(&value, &bits, sizeof value);
        return value;
    }

    // Exact decimal text of the point halfway between two adjacent floats,
    // nudged just below or above it, or left exactly on it: the double
    // rounding from decimal to double to float decides these.
    std::string nearHalfway() {
        const float low = std::fabs(randomFloat());
        const float high = std::nextafter(low, INFINITY);
        if (!std::isfinite(high)) return "1";
        const double middle = (static_cast<double>(low) + static_cast<double>(high)) / 2;
        char text[200];  // float midpoints have at most about 110 significant digits: exact
        std::snprintf(text, sizeof text, "%.130e", middle);
        const std::string exact = text;
        const std::size_t e = exact.find('e');
        std::string mantissa = exact.substr(0, e);
        const std::string power = exact.substr(e);
        while (mantissa.back() == '0') mantissa.pop_back();
        std::size_t last = mantissa.size() - 1;  // the last non-zero digit
        if (mantissa[last] == '.') --last;
        else if (mantissa.find('.') == std::string::npos) mantissa += '.';
        const std::uint64_t nudge = below(4);
        if (nudge == 1) mantissa += std::string(below(30), '0') + "1";
        if (nudge > 1) {
            --mantissa[last];
            mantissa += std::string(1 + below(30), '9');
        }
        return mantissa + power;
    }

    std::string tiny() {
        char text[64];
        const std::uint64_t kind = below(3);
        if (kind == 0) {  // float denormals
            const std::uint32_t bits = static_cast<std::uint32_t>(below(0x00800000u));
            float value;
            std::memcpy(&value, &bits, sizeof value);
            std::snprintf(text, sizeof text, "%.*g", static_cast<int>(1 + below(12)), value);
        } else if (kind == 1) {  // double denormals
            const std::uint64_t bits = below(std::uint64_t{1} << 52);
            double value;
            std::memcpy(&value, &bits, sizeof value);
            std::snprintf(text, sizeof text, "%.*g", static_cast<int>(1 + below(18)), value);
        } else {
            std::snprintf(text, sizeof text, "%.*ge-%d", static_cast<int>(1 + below(9)),
                          1 + static_cast<double>(below(1000)) / 100, static_cast<int>(300 + below(60)));
        }
        return text;
    }

    // Around the largest float and double, and the points where they overflow.
    std::string nearOverflow() {
        switch (below(4)) {
            case 0: return pick({"3.40282356779733661637539395458142568447", "3.4028235677973366",
                                 "3.4028235677973367", "3.40282357", "3.4028234663852886"}) +
                           digits(5) + "e38";
            case 1: return pick({"1.7976931348623157", "1.7976931348623158", "1.7976931348623159"}) +
                           digits(5) + "e308";
            case 2: return pick({"0x1.ffffffp127", "0x1.fffffefp127", "0x1.fffffe7ffffp127"});
            default: return pick({"0x1.fffffffffffffp1023", "0x1.fffffffffffff8p1023", "0x1.fffffffffffff7ffp1023"});
        }
    }

    std::string formatted() {
        const double value = below(2) ? static_cast<double>(randomFloat())
                                      : std::ldexp(static_cast<double>(random_() >> 11),
                                                   static_cast<int>(below(200)) - 150);
        char text[64];
        const char* formats[] = {"%.6g", "%.9g", "%.17g", "%a", "%f", "%e"};
        std::snprintf(text, sizeof text, formats[below(6)], value);
        return text;
    }
};

TEST_F(StlNumber, AgreesWithTheCLibraryOnGeneratedTokens) {
    TokenGenerator generator(20240601);
    constexpr int Count = 200'000 * TokenScale;
    int mismatches = 0;
    for (int i = 0; i < Count; ++i) {
        const std::string token = generator.next();
        const float got = parse(token);
        const float expected = oracle(token);
        if (bitsOf(got) != bitsOf(expected) && ++mismatches <= 20) {
            ADD_FAILURE() << "token \"" << token << "\": got " << got << " (bits " << std::hex << bitsOf(got)
                          << "), expected " << expected << " (bits " << bitsOf(expected) << ")";
        }
    }
    EXPECT_EQ(mismatches, 0) << "of " << Count << " tokens";
}

// The same tokens on vertex lines: the line parser hands each number the
// rest of its line, so this checks that no number reads past its token.
TEST_F(StlNumber, VertexLinesReadGeneratedTokensAlike) {
    TokenGenerator generator(77);
    std::string text = "solid\n";
    std::vector<float> expected;
    while (expected.size() < 30'000u * TokenScale) {
        std::string line = "vertex";
        for (int axis = 0; axis < 3;) {
            const std::string token = generator.next();
            if (token.empty() || token.find_first_of(std::string(" \n\0", 3)) != std::string::npos) continue;
            line += ' ' + token;
            expected.push_back(oracle(token));
            ++axis;
        }
        text += line + "\n";
    }
    stlrefine::StlPointList list;
    EXPECT_FALSE(stlrefine::parseAsciiStl(text.data(), text.size(), list));
    ASSERT_EQ(list.size() * 3, expected.size());
    int mismatches = 0;
    for (std::size_t i = 0; i < expected.size(); ++i) {
        const stlrefine::StlPoint& point = list[i / 3];
        const float got = i % 3 == 0 ? point.x : i % 3 == 1 ? point.y : point.z;
        if (bitsOf(got) != bitsOf(expected[i]) && ++mismatches <= 20) {
            ADD_FAILURE() << "coordinate " << i << ": got " << got << ", expected " << expected[i];
        }
    }
    EXPECT_EQ(mismatches, 0);
}

}  // namespace
