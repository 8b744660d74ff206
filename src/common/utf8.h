// Names of files as bytes and as wide strings, for opening files and for
// messages. A wide name holds code points (UTF-32, or UTF-16 where wchar_t
// has 16 bits). Where names are bytes, the code points U+DC80..U+DCFF stand
// for the bytes 0x80..0xFF of a name that is not valid UTF-8 (the mapping
// Python calls surrogateescape), so that every name on disk has a wide form
// and comes back from it byte for byte.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace stlrefine {

// Appends the UTF-8 form of `c`, which must be a scalar value (at most
// U+10FFFF and not a surrogate).
inline void appendUtf8(std::uint32_t c, std::string& out) {
    if (c < 0x80) {
        out.push_back(static_cast<char>(c));
    } else if (c < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (c >> 6)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else if (c < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (c >> 12)));
        out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (c >> 18)));
        out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
}

// Appends `c` to a wide string, as a surrogate pair where wchar_t has 16 bits.
inline void appendWide(std::uint32_t c, std::wstring& out) {
    if constexpr (sizeof(wchar_t) == 2) {
        if (c >= 0x10000) {
            out.push_back(static_cast<wchar_t>(0xD800 + ((c - 0x10000) >> 10)));
            out.push_back(static_cast<wchar_t>(0xDC00 + ((c - 0x10000) & 0x3FF)));
            return;
        }
    }
    out.push_back(static_cast<wchar_t>(c));
}

// The wide form of a name's bytes: UTF-8 as far as it is valid; each byte
// that is not part of a valid sequence becomes U+DC80..U+DCFF.
inline std::wstring wideName(std::string_view bytes) {
    std::wstring out;
    std::size_t i = 0;
    while (i < bytes.size()) {
        const auto lead = static_cast<unsigned char>(bytes[i]);
        std::size_t extra = 0;
        std::uint32_t c = lead;
        if (lead >= 0xC2 && lead < 0xE0) {
            extra = 1, c = lead & 0x1F;
        } else if (lead >= 0xE0 && lead < 0xF0) {
            extra = 2, c = lead & 0x0F;
        } else if (lead >= 0xF0 && lead < 0xF5) {
            extra = 3, c = lead & 0x07;
        }
        bool valid = lead < 0x80 || extra > 0;
        for (std::size_t k = 1; valid && k <= extra; ++k) {
            const auto next = i + k < bytes.size() ? static_cast<unsigned char>(bytes[i + k]) : 0;
            valid = (next & 0xC0) == 0x80;
            c = (c << 6) | (next & 0x3F);
        }
        constexpr std::uint32_t Smallest[] = {0, 0x80, 0x800, 0x10000};
        valid = valid && c >= Smallest[extra] && c <= 0x10FFFF && (c < 0xD800 || c > 0xDFFF);
        appendWide(valid ? c : 0xDC00 + lead, out);
        i += valid ? extra + 1 : 1;
    }
    return out;
}

// The bytes of a wide name, escaped bytes given back; false for a code
// point that no name can hold (NUL, any other surrogate, beyond U+10FFFF),
// so that such a name opens nothing rather than some other file.
// `escapedBytes` false (where names are not bytes) leaves U+DC80..U+DCFF
// surrogates too. Every code point that has no bytes becomes U+FFFD in
// `out`, the form for messages.
inline bool nameBytes(std::wstring_view name, std::string& out, bool escapedBytes = true) {
    bool whole = true;
    for (std::size_t i = 0; i < name.size(); ++i) {
        std::uint32_t c = static_cast<std::uint32_t>(name[i]);
        if (sizeof(wchar_t) == 2 && c >= 0xD800 && c <= 0xDBFF && i + 1 < name.size() &&
            name[i + 1] >= 0xDC00 && name[i + 1] <= 0xDFFF) {
            c = 0x10000 + ((c - 0xD800) << 10) + (static_cast<std::uint32_t>(name[++i]) - 0xDC00);
        }
        if (escapedBytes && c >= 0xDC80 && c <= 0xDCFF) {
            out.push_back(static_cast<char>(c - 0xDC00));
        } else if (c == 0 || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) {
            appendUtf8(0xFFFD, out);
            whole = false;
        } else {
            appendUtf8(c, out);
        }
    }
    return whole;
}

// A name as a message shows it: UTF-8, escaped bytes as they are.
inline std::string nameText(std::wstring_view name, bool escapedBytes = true) {
    std::string out;
    nameBytes(name, out, escapedBytes);
    return out;
}

}  // namespace stlrefine
