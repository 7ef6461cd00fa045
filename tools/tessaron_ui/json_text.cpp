#include "json_text.h"

#include <cmath>
#include <cstdio>

namespace tessaron_ui {

namespace {

// Length of the valid UTF-8 sequence starting at s[i], or 0 when it is not one
// (overlong forms, surrogates and code points past U+10FFFF are invalid).
size_t Utf8SequenceLength(const std::string& s, size_t i) {
    const unsigned char c = static_cast<unsigned char>(s[i]);
    size_t len = 0;
    unsigned int min = 0;
    unsigned int cp = 0;
    if (c < 0x80) {
        return 1;
    } else if ((c & 0xe0) == 0xc0) {
        len = 2;
        min = 0x80;
        cp = c & 0x1f;
    } else if ((c & 0xf0) == 0xe0) {
        len = 3;
        min = 0x800;
        cp = c & 0x0f;
    } else if ((c & 0xf8) == 0xf0) {
        len = 4;
        min = 0x10000;
        cp = c & 0x07;
    } else {
        return 0;
    }
    if (i + len > s.size()) {
        return 0;
    }
    for (size_t k = 1; k < len; ++k) {
        const unsigned char cc = static_cast<unsigned char>(s[i + k]);
        if ((cc & 0xc0) != 0x80) {
            return 0;
        }
        cp = (cp << 6) | (cc & 0x3f);
    }
    if (cp < min || cp > 0x10ffff || (cp >= 0xd800 && cp <= 0xdfff)) {
        return 0;
    }
    return len;
}

}  // namespace

std::string JsonString(const std::string& s) {
    std::string out = "\"";
    out.reserve(s.size() + 2);
    size_t i = 0;
    while (i < s.size()) {
        const unsigned char c = static_cast<unsigned char>(s[i]);
        if (c >= 0x80) {
            const size_t len = Utf8SequenceLength(s, i);
            if (len == 0) {
                out += "\\ufffd";
                ++i;
            } else {
                out.append(s, i, len);
                i += len;
            }
            continue;
        }
        switch (c) {
            case '"':
                out += "\\\"";
                break;
            case '\\':
                out += "\\\\";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\r':
                out += "\\r";
                break;
            case '\t':
                out += "\\t";
                break;
            default:
                if (c < 0x20 || c == 0x7f) {
                    char buf[8];
                    std::snprintf(buf, sizeof(buf), "\\u%04x", c);
                    out += buf;
                } else {
                    out += static_cast<char>(c);
                }
        }
        ++i;
    }
    out += "\"";
    return out;
}

std::string JsonNumber(double value, int decimals) {
    if (!std::isfinite(value)) {
        return "null";
    }
    char buf[64];
    std::snprintf(buf, sizeof(buf), "%.*f", decimals, value);
    return buf;
}

}  // namespace tessaron_ui
