#include "log/escaped_text.h"

#include <cstdio>

namespace {

unsigned char ByteAt(std::string_view text, std::size_t i) {
    return static_cast<unsigned char>(text[i]);
}

// The length of the well-formed UTF-8 sequence of two or more bytes at the text's start, 0
// when none starts there (overlong forms, surrogates and values beyond U+10FFFF included).
std::size_t MultiByteLength(std::string_view text) {
    const unsigned char lead = ByteAt(text, 0);
    unsigned char low = 0x80;  // the range of the second byte
    unsigned char high = 0xBF;
    std::size_t length = 0;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        low = lead == 0xE0 ? 0xA0 : low;
        high = lead == 0xED ? 0x9F : high;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        low = lead == 0xF0 ? 0x90 : low;
        high = lead == 0xF4 ? 0x8F : high;
    } else {
        return 0;
    }
    if (text.size() < length || ByteAt(text, 1) < low || ByteAt(text, 1) > high) {
        return 0;
    }
    for (std::size_t i = 2; i < length; ++i) {
        if (ByteAt(text, i) < 0x80 || ByteAt(text, i) > 0xBF) {
            return 0;
        }
    }
    // U+0080 to U+009F are control characters too (a lone CSI among them).
    const bool c1Control = lead == 0xC2 && ByteAt(text, 1) <= 0x9F;
    return c1Control ? 0 : length;
}

void AppendEscape(std::string& out, unsigned char byte) {
    switch (byte) {
        case '\n':
            out += "\\n";
            return;
        case '\r':
            out += "\\r";
            return;
        case '\t':
            out += "\\t";
            return;
        default: {
            char hex[5];
            std::snprintf(hex, sizeof hex, "\\x%02x", static_cast<unsigned>(byte));
            out += hex;
        }
    }
}

}  // namespace

std::string EscapedText(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    std::size_t i = 0;
    while (i < text.size()) {
        const unsigned char byte = ByteAt(text, i);
        if (byte >= 0x20 && byte < 0x7F) {
            out += static_cast<char>(byte);
            ++i;
        } else if (const std::size_t length = MultiByteLength(text.substr(i)); length > 0) {
            out.append(text.substr(i, length));
            i += length;
        } else {
            AppendEscape(out, byte);
            ++i;
        }
    }
    return out;
}
