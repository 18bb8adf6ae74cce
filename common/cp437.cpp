#include "common/cp437.h"

#include <strings.h>

#include <cstdlib>

namespace kv {
namespace {

// Code page 437, bytes 0x80-0xFF.
constexpr char16_t kHigh[128] = {
    0x00C7, 0x00FC, 0x00E9, 0x00E2, 0x00E4, 0x00E0, 0x00E5, 0x00E7,  // 80
    0x00EA, 0x00EB, 0x00E8, 0x00EF, 0x00EE, 0x00EC, 0x00C4, 0x00C5,  // 88
    0x00C9, 0x00E6, 0x00C6, 0x00F4, 0x00F6, 0x00F2, 0x00FB, 0x00F9,  // 90
    0x00FF, 0x00D6, 0x00DC, 0x00A2, 0x00A3, 0x00A5, 0x20A7, 0x0192,  // 98
    0x00E1, 0x00ED, 0x00F3, 0x00FA, 0x00F1, 0x00D1, 0x00AA, 0x00BA,  // A0
    0x00BF, 0x2310, 0x00AC, 0x00BD, 0x00BC, 0x00A1, 0x00AB, 0x00BB,  // A8
    0x2591, 0x2592, 0x2593, 0x2502, 0x2524, 0x2561, 0x2562, 0x2556,  // B0
    0x2555, 0x2563, 0x2551, 0x2557, 0x255D, 0x255C, 0x255B, 0x2510,  // B8
    0x2514, 0x2534, 0x252C, 0x251C, 0x2500, 0x253C, 0x255E, 0x255F,  // C0
    0x255A, 0x2554, 0x2569, 0x2566, 0x2560, 0x2550, 0x256C, 0x2567,  // C8
    0x2568, 0x2564, 0x2565, 0x2559, 0x2558, 0x2552, 0x2553, 0x256B,  // D0
    0x256A, 0x2518, 0x250C, 0x2588, 0x2584, 0x258C, 0x2590, 0x2580,  // D8
    0x03B1, 0x00DF, 0x0393, 0x03C0, 0x03A3, 0x03C3, 0x00B5, 0x03C4,  // E0
    0x03A6, 0x0398, 0x03A9, 0x03B4, 0x221E, 0x03C6, 0x03B5, 0x2229,  // E8
    0x2261, 0x00B1, 0x2265, 0x2264, 0x2320, 0x2321, 0x00F7, 0x2248,  // F0
    0x00B0, 0x2219, 0x00B7, 0x221A, 0x207F, 0x00B2, 0x25A0, 0x00A0,  // F8
};

bool NamesUtf8(const char* value) {
    std::string_view v = value;
    size_t at = v.find('@');
    if (at != std::string_view::npos) v = v.substr(0, at);
    size_t dot = v.rfind('.');
    if (dot != std::string_view::npos) v = v.substr(dot + 1);
    std::string codeset(v);
    return strcasecmp(codeset.c_str(), "UTF-8") == 0 || strcasecmp(codeset.c_str(), "UTF8") == 0;
}

}  // namespace

char32_t Cp437ToUnicode(uint8_t byte) { return byte < 0x80 ? char32_t(byte) : char32_t(kHigh[byte - 0x80]); }

bool UnicodeToCp437(char32_t ch, uint8_t& byte) {
    if (ch < 0x80) {
        byte = uint8_t(ch);
        return true;
    }
    for (int i = 0; i < 128; ++i) {
        if (kHigh[i] == ch) {
            byte = uint8_t(0x80 + i);
            return true;
        }
    }
    return false;
}

size_t EncodeUtf8(char32_t c, char out[4]) {
    if (c < 0x80) {
        out[0] = char(c);
        return 1;
    }
    if (c < 0x800) {
        out[0] = char(0xC0 | (c >> 6));
        out[1] = char(0x80 | (c & 0x3F));
        return 2;
    }
    if (c < 0x10000) {
        out[0] = char(0xE0 | (c >> 12));
        out[1] = char(0x80 | ((c >> 6) & 0x3F));
        out[2] = char(0x80 | (c & 0x3F));
        return 3;
    }
    out[0] = char(0xF0 | (c >> 18));
    out[1] = char(0x80 | ((c >> 12) & 0x3F));
    out[2] = char(0x80 | ((c >> 6) & 0x3F));
    out[3] = char(0x80 | (c & 0x3F));
    return 4;
}

void AppendUtf8(std::string& out, char32_t c) {
    char bytes[4];
    out.append(bytes, EncodeUtf8(c, bytes));
}

std::string Cp437ToUtf8(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (char c : text) AppendUtf8(out, Cp437ToUnicode(uint8_t(c)));
    return out;
}

Utf8Reader::Result Utf8Reader::Feed(uint8_t b) {
    if (need_ > 0) {
        if ((b & 0xC0) != 0x80) {
            need_ = 0;
            return kBrokenBy;
        }
        ch_ = (ch_ << 6) | (b & 0x3F);
        if (--need_ > 0) return kMore;
        // Overlong forms, UTF-16 halves and what lies past Unicode are no
        // characters.
        if (ch_ < min_ || (ch_ >= 0xD800 && ch_ <= 0xDFFF) || ch_ > 0x10FFFF) return kBroken;
        return kChar;
    }
    if (b < 0x80) {
        ch_ = b;
        return kChar;
    }
    if ((b & 0xE0) == 0xC0) {
        ch_ = b & 0x1F, need_ = 1, min_ = 0x80;
    } else if ((b & 0xF0) == 0xE0) {
        ch_ = b & 0x0F, need_ = 2, min_ = 0x800;
    } else if ((b & 0xF8) == 0xF0) {
        ch_ = b & 0x07, need_ = 3, min_ = 0x10000;
    } else {
        return kBroken;  // a continuation byte alone, or no UTF-8 byte at all
    }
    return kMore;
}

int TakeUtf8Key(Utf8Reader& reader, uint8_t byte, void (*refuse)()) {
    for (;;) {
        switch (reader.Feed(byte)) {
            case Utf8Reader::kMore: return -1;
            case Utf8Reader::kChar: {
                uint8_t pc = 0;
                if (UnicodeToCp437(reader.ch(), pc)) return pc;
                refuse();  // a character the board cannot store
                return -1;
            }
            case Utf8Reader::kBroken: refuse(); return -1;
            case Utf8Reader::kBrokenBy: refuse(); continue;  // the byte starts afresh
        }
    }
}

bool Utf8ToCp437(std::string_view text, std::string& out, size_t* badAt) {
    out.clear();
    Utf8Reader r;
    size_t start = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        if (!r.Pending()) start = i;
        Utf8Reader::Result res = r.Feed(uint8_t(text[i]));
        uint8_t b = 0;
        if (res == Utf8Reader::kMore) continue;
        if (res != Utf8Reader::kChar || !UnicodeToCp437(r.ch(), b)) {
            if (badAt != nullptr) *badAt = start;
            return false;
        }
        out += char(b);
    }
    if (r.Pending()) {
        if (badAt != nullptr) *badAt = start;
        return false;
    }
    return true;
}

bool LocaleNamesUtf8(const char* lcAll, const char* lcCtype, const char* lang) {
    for (const char* v : {lcAll, lcCtype, lang})
        if (v != nullptr && *v != '\0') return NamesUtf8(v);
    return false;
}

bool OwnLocaleNamesUtf8() { return LocaleNamesUtf8(std::getenv("LC_ALL"), std::getenv("LC_CTYPE"), std::getenv("LANG")); }

}  // namespace kv
