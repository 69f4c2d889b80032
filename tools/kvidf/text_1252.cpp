#include "text_1252.h"

#include <cstdint>

namespace kvidf {

namespace {

// 0x80..0x9F; the rest of the upper half is Latin-1.
constexpr uint16_t kHigh[32] = {0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                                0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
                                0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

void PutUtf8(std::string& out, uint32_t c) {
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

int ByteOf(uint32_t c) {
    if (c < 0x80 || (c >= 0xA0 && c <= 0xFF)) return static_cast<int>(c);
    for (int i = 0; i < 32; ++i)
        if (kHigh[i] == c) return 0x80 + i;
    return -1;
}

std::string Hex(uint32_t c) {
    static const char digits[] = "0123456789ABCDEF";
    std::string s;
    for (int shift = c > 0xFFFF ? 20 : 12; shift >= 0; shift -= 4) s += digits[(c >> shift) & 0xF];
    return "U+" + s;
}

}  // namespace

std::optional<std::string> Utf8To1252(const std::string& utf8, std::string* why) {
    std::string out;
    out.reserve(utf8.size());
    for (size_t i = 0; i < utf8.size();) {
        const auto b = static_cast<unsigned char>(utf8[i]);
        uint32_t c;
        size_t n;
        if (b < 0x80) c = b, n = 1;
        else if ((b & 0xE0) == 0xC0) c = b & 0x1F, n = 2;
        else if ((b & 0xF0) == 0xE0) c = b & 0x0F, n = 3;
        else if ((b & 0xF8) == 0xF0) c = b & 0x07, n = 4;
        else n = 0;
        bool ok = n != 0 && i + n <= utf8.size();
        for (size_t k = 1; ok && k < n; ++k) {
            const auto cont = static_cast<unsigned char>(utf8[i + k]);
            ok = (cont & 0xC0) == 0x80;
            c = (c << 6) | (cont & 0x3F);
        }
        // Overlong forms and surrogates are not UTF-8 either.
        ok = ok && !(n == 2 && c < 0x80) && !(n == 3 && c < 0x800) && !(n == 4 && (c < 0x10000 || c > 0x10FFFF)) &&
             !(c >= 0xD800 && c <= 0xDFFF);
        if (!ok) {
            if (why) *why = "is not UTF-8 text (byte " + std::to_string(i + 1) + ")";
            return std::nullopt;
        }
        const int byte = ByteOf(c);
        if (byte < 0) {
            if (why)
                *why = "holds " + utf8.substr(i, n) + " (" + Hex(c) +
                       "), which the books' code page (Windows-1252) cannot hold";
            return std::nullopt;
        }
        out += static_cast<char>(byte);
        i += n;
    }
    return out;
}

std::string Utf8From1252(const std::string& bytes) {
    std::string out;
    out.reserve(bytes.size());
    for (char ch : bytes) {
        const auto b = static_cast<unsigned char>(ch);
        PutUtf8(out, b >= 0x80 && b < 0xA0 ? kHigh[b - 0x80] : b);
    }
    return out;
}

}  // namespace kvidf
