// Well-formed UTF-8, as every reader and writer of tarvo judges it.
#pragma once

#include <cstddef>
#include <cstdint>

namespace tarvo {

// The code point of the well-formed UTF-8 sequence at `p` (of `n` bytes
// left) and its length; 0 for a malformed one (a stray continuation byte,
// an overlong form, a surrogate, a code point above U+10FFFF, a sequence
// cut short).
inline size_t decode_utf8(const unsigned char* p, size_t n, uint32_t& cp) {
    const unsigned char c = p[0];
    if (c < 0x80) {
        cp = c;
        return 1;
    }
    size_t len;
    unsigned char low = 0x80, high = 0xBF;  // range of the second byte
    if (c >= 0xC2 && c <= 0xDF) {
        len = 2;
        cp = c & 0x1F;
    } else if (c >= 0xE0 && c <= 0xEF) {
        len = 3;
        cp = c & 0x0F;
        if (c == 0xE0) low = 0xA0;   // shorter forms are overlong
        if (c == 0xED) high = 0x9F;  // U+D800..U+DFFF are surrogates
    } else if (c >= 0xF0 && c <= 0xF4) {
        len = 4;
        cp = c & 0x07;
        if (c == 0xF0) low = 0x90;
        if (c == 0xF4) high = 0x8F;  // beyond U+10FFFF
    } else {
        return 0;
    }
    if (n < len || p[1] < low || p[1] > high) return 0;
    for (size_t i = 1; i < len; ++i) {
        if ((p[i] & 0xC0) != 0x80) return 0;
        cp = cp << 6 | (p[i] & 0x3F);
    }
    return len;
}

}  // namespace tarvo
