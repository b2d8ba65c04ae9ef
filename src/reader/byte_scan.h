// Bulk byte classification for the reader's scans: each function returns
// the first position in [p, e) whose byte ends the run (or e). Sixteen
// bytes are classified per step with SSE2 (every x86-64 has it) or NEON;
// elsewhere, for the last few bytes, and where TARVO_SCAN_SCALAR is defined
// (the tests' check of that path), one byte at a time. Nothing is read
// outside [p, e).
#pragma once

#include <cstdint>

#if defined(TARVO_SCAN_SCALAR)
#elif defined(__SSE2__)
#include <emmintrin.h>
#define TARVO_SCAN_SSE2 1
#elif defined(__ARM_NEON) && defined(__aarch64__)
#include <arm_neon.h>
#define TARVO_SCAN_NEON 1
#endif

#include "reader/char_class.h"

namespace tarvo::scan {

namespace detail {

#if TARVO_SCAN_SSE2
using Block = __m128i;
inline Block load(const unsigned char* p) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)); }
inline Block splat(unsigned char c) { return _mm_set1_epi8(static_cast<char>(c)); }
inline Block eq(Block a, Block b) { return _mm_cmpeq_epi8(a, b); }
inline Block either(Block a, Block b) { return _mm_or_si128(a, b); }
// Bytes in [lo, lo + span): shifted so the range starts at -128, then one
// signed compare.
inline Block in_range(Block v, unsigned char lo, unsigned char span) {
    Block shifted = _mm_add_epi8(v, splat(static_cast<unsigned char>(0x80 - lo)));
    return _mm_cmplt_epi8(shifted, splat(static_cast<unsigned char>(0x80 + span)));
}
// Index of the first marked byte, or 16.
inline unsigned first(Block m) {
    unsigned bits = static_cast<unsigned>(_mm_movemask_epi8(m));
    return bits ? static_cast<unsigned>(__builtin_ctz(bits)) : 16;
}
inline unsigned first_unmarked(Block m) {
    unsigned bits = ~static_cast<unsigned>(_mm_movemask_epi8(m)) & 0xFFFFu;
    return bits ? static_cast<unsigned>(__builtin_ctz(bits)) : 16;
}
// Bytes below 0x20 or of 0x80 and above: one signed compare, as the
// latter are the negative ones.
inline Block control_or_high(Block v) { return _mm_cmplt_epi8(v, splat(0x20)); }
#elif TARVO_SCAN_NEON
using Block = uint8x16_t;
inline Block load(const unsigned char* p) { return vld1q_u8(p); }
inline Block splat(unsigned char c) { return vdupq_n_u8(c); }
inline Block eq(Block a, Block b) { return vceqq_u8(a, b); }
inline Block either(Block a, Block b) { return vorrq_u8(a, b); }
inline Block in_range(Block v, unsigned char lo, unsigned char span) {
    return vcltq_u8(vsubq_u8(v, splat(lo)), splat(span));
}
// Narrows each byte mask to four bits, so the first marked byte is the
// lowest set nibble of one 64-bit word.
inline unsigned first(Block m) {
    uint64_t bits = vget_lane_u64(vreinterpret_u64_u8(vshrn_n_u16(vreinterpretq_u16_u8(m), 4)), 0);
    return bits ? static_cast<unsigned>(__builtin_ctzll(bits)) / 4 : 16;
}
inline unsigned first_unmarked(Block m) { return first(vmvnq_u8(m)); }
inline Block control_or_high(Block v) { return vmvnq_u8(in_range(v, 0x20, 0x60)); }
#endif

}  // namespace detail

// First byte that is not whitespace (space, tab, line feed, vertical tab,
// form feed, carriage return).
inline const unsigned char* skip_space(const unsigned char* p, const unsigned char* e) {
#if TARVO_SCAN_SSE2 || TARVO_SCAN_NEON
    using namespace detail;
    for (; e - p >= 16; p += 16) {
        Block v = load(p);
        unsigned i = first_unmarked(either(eq(v, splat(' ')), in_range(v, '\t', 5)));
        if (i < 16) return p + i;
    }
#endif
    while (p < e && is_space(*p)) ++p;
    return p;
}

// First byte that cannot continue a name: not an ASCII letter or digit and
// not `Extra`.
template <unsigned char Extra>
[[gnu::always_inline]] inline const unsigned char* skip_name(const unsigned char* p, const unsigned char* e) {
#if TARVO_SCAN_SSE2 || TARVO_SCAN_NEON
    using namespace detail;
    for (; e - p >= 16; p += 16) {
        Block v = load(p);
        Block lower = either(v, splat(0x20));  // folds A-Z onto a-z
        Block ok = either(either(in_range(lower, 'a', 26), in_range(v, '0', 10)), eq(v, splat(Extra)));
        unsigned i = first_unmarked(ok);
        if (i < 16) return p + i;
    }
#endif
    while (p < e && (is_alnum(*p) || *p == Extra)) ++p;
    return p;
}

// First byte equal to `Stop` or NUL, or a carriage return when `Cr` is set,
// or an '&' when `Amp` is set.
template <unsigned char Stop, bool Cr, bool Amp>
[[gnu::always_inline]] inline const unsigned char* find_stop(const unsigned char* p, const unsigned char* e) {
#if TARVO_SCAN_SSE2 || TARVO_SCAN_NEON
    using namespace detail;
    for (; e - p >= 16; p += 16) {
        Block v = load(p);
        Block hit = either(eq(v, splat(Stop)), eq(v, splat(0)));
        if constexpr (Cr) hit = either(hit, eq(v, splat('\r')));
        if constexpr (Amp) hit = either(hit, eq(v, splat('&')));
        unsigned i = first(hit);
        if (i < 16) return p + i;
    }
#endif
    while (p < e && *p != Stop && *p != 0 && !(Cr && *p == '\r') && !(Amp && *p == '&')) ++p;
    return p;
}

// The XML reading mode's names: first byte that is not an ASCII letter or
// digit, '-', '.', '_' or ':'. Those bytes never need judging; a byte of a
// multi-byte sequence stops the scan and is taken on a slower path.
[[gnu::always_inline]] inline const unsigned char* skip_xml_ascii_name(const unsigned char* p,
                                                                      const unsigned char* e) {
#if TARVO_SCAN_SSE2 || TARVO_SCAN_NEON
    using namespace detail;
    for (; e - p >= 16; p += 16) {
        Block v = load(p);
        Block lower = either(v, splat(0x20));  // folds A-Z onto a-z
        Block ok = either(either(in_range(lower, 'a', 26), in_range(v, '0', 11)),  // 0-9 and ':'
                          either(in_range(v, '-', 2), eq(v, splat('_'))));
        unsigned i = first_unmarked(ok);
        if (i < 16) return p + i;
    }
#endif
    while (p < e && is_xml_ascii_name_byte(*p)) ++p;
    return p;
}

// The same over any name bytes: `high` is set when the name holds a byte
// of a multi-byte sequence, which only then needs decoding.
inline const unsigned char* skip_xml_name(const unsigned char* p, const unsigned char* e, bool& high) {
    for (;;) {
        p = skip_xml_ascii_name(p, e);
        if (p == e || *p < 0x80) return p;
        high = true;
        while (p < e && *p >= 0x80) ++p;
    }
}

// The XML reading mode's runs: first byte equal to `Stop` or one that needs
// a closer look: '&', '<', a byte of a multi-byte sequence, any control
// character, in text (`Text`) also ']'. Tab and line feed stop the scan
// too; in text the caller lets them pass (in a value they become spaces).
template <unsigned char Stop, bool Text>
[[gnu::always_inline]] inline const unsigned char* find_xml_stop(const unsigned char* p, const unsigned char* e) {
#if TARVO_SCAN_SSE2 || TARVO_SCAN_NEON
    using namespace detail;
    for (; e - p >= 16; p += 16) {
        Block v = load(p);
        Block hit = either(either(eq(v, splat(Stop)), eq(v, splat('&'))), control_or_high(v));
        if constexpr (Stop != '<') hit = either(hit, eq(v, splat('<')));
        if constexpr (Text) hit = either(hit, eq(v, splat(']')));
        unsigned i = first(hit);
        if (i < 16) return p + i;
    }
#endif
    constexpr uint8_t stops =
        Text ? tarvo::detail::kXmlRunStop | tarvo::detail::kXmlBracket : tarvo::detail::kXmlRunStop;
    while (p < e && *p != Stop && !(tarvo::detail::classes_of(*p) & stops)) ++p;
    return p;
}

// The line feeds in [p, e), added to `count`, and the last of them (null:
// none), for short spans: the bytes between two locations asked for. SSE2
// marks them a block at a time; elsewhere the byte loop counts them.
inline const unsigned char* last_line_feed(const unsigned char* p, const unsigned char* e, long& count) {
#if TARVO_SCAN_SSE2
    using namespace detail;
    if (e - p >= 16) {
        const unsigned char* last = nullptr;
        auto note = [&](unsigned bits, const unsigned char* base) {
            if (!bits) return;
            last = base + (31 - __builtin_clz(bits));
            for (; bits; bits &= bits - 1) ++count;
        };
        const Block feed = splat('\n');
        for (; e - p >= 16; p += 16) note(static_cast<unsigned>(_mm_movemask_epi8(eq(load(p), feed))), p);
        // The rest as the top bytes of the block that ends at `e`.
        if (p < e) note(static_cast<unsigned>(_mm_movemask_epi8(eq(load(e - 16), feed))) & (0xFFFFu << (16 - (e - p))), e - 16);
        return last;
    }
#endif
    const unsigned char* last = nullptr;
    for (; p < e; ++p)
        if (*p == '\n') {
            ++count;
            last = p;
        }
    return last;
}

// First byte equal to `c`.
inline const char* find_byte(const char* p, const char* e, char c) {
#if TARVO_SCAN_SSE2 || TARVO_SCAN_NEON
    using namespace detail;
    const auto* u = reinterpret_cast<const unsigned char*>(p);
    const auto* ue = reinterpret_cast<const unsigned char*>(e);
    for (; ue - u >= 16; u += 16) {
        unsigned i = first(eq(load(u), splat(static_cast<unsigned char>(c))));
        if (i < 16) return reinterpret_cast<const char*>(u + i);
    }
    p = reinterpret_cast<const char*>(u);
#endif
    while (p < e && *p != c) ++p;
    return p;
}

}  // namespace tarvo::scan
