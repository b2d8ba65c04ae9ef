// Character classes of the "C" locale, as table lookups: the reader asks
// them for every byte, and the locale-aware library calls are far slower.
#pragma once

#include <array>
#include <cstdint>

namespace tarvo {

namespace detail {
enum : uint8_t {
    kSpace = 1,
    kAlpha = 2,
    kDigit = 4,
    kXmlNameStart = 8,
    kXmlNameRest = 16,
    kXmlRunStop = 32,  // a byte an XML value or text run must look at
    kXmlBracket = 64,  // ']', which text must look at too
    kXmlAsciiName = 128,  // an ASCII byte of an XML name
};
// The reader's values below 0 (end of input, and the markers of its scans
// down to kRefusedName, -3) are in no class: the table starts at -3.
inline constexpr int kClassesFrom = -3;
constexpr std::array<uint8_t, 256 - kClassesFrom> make_classes() {
    std::array<uint8_t, 256 - kClassesFrom> t{};
    for (int c = 0; c < 256; ++c) {
        uint8_t v = 0;
        if (c == ' ' || (c >= '\t' && c <= '\r')) v |= kSpace;
        if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z')) v |= kAlpha;
        if (c >= '0' && c <= '9') v |= kDigit;
        // The XML reading mode's name starts: ASCII letters, '_', ':', and
        // any byte of a multi-byte sequence (decoded and judged later).
        if ((v & kAlpha) || c == '_' || c == ':' || c >= 0x80) v |= kXmlNameStart;
        // Name bytes other than letters, digits and ':'.
        if (c == '-' || c == '.' || c == '_' || c >= 0x80) v |= kXmlNameRest;
        if (c < 0x20 || c >= 0x80 || c == '&' || c == '<') v |= kXmlRunStop;
        if (c == ']') v |= kXmlBracket;
        if ((v & (kAlpha | kDigit)) || c == '-' || c == '.' || c == '_' || c == ':') v |= kXmlAsciiName;
        t[static_cast<size_t>(c - kClassesFrom)] = v;
    }
    return t;
}
inline constexpr std::array<uint8_t, 256 - kClassesFrom> kClasses = make_classes();
inline uint8_t classes_of(int c) { return kClasses[static_cast<size_t>(c - kClassesFrom)]; }
}  // namespace detail

// All take a character as 0..255, or a value down to -3 (end of input and
// the scans' markers, never in any class).
inline bool is_space(int c) { return detail::classes_of(c) & detail::kSpace; }
inline bool is_alpha(int c) { return detail::classes_of(c) & detail::kAlpha; }
inline bool is_alnum(int c) {
    return detail::classes_of(c) & (detail::kAlpha | detail::kDigit);
}
inline bool is_xml_name_start_byte(int c) { return detail::classes_of(c) & detail::kXmlNameStart; }
inline bool is_xml_ascii_name_byte(int c) { return detail::classes_of(c) & detail::kXmlAsciiName; }
inline bool is_xml_name_rest_byte(int c) { return detail::classes_of(c) & detail::kXmlNameRest; }
// Bytes a run of XML text must look at (a tab or line feed needs no work,
// but is one of them).
inline bool is_xml_text_stop(int c) {
    return detail::classes_of(c) & (detail::kXmlRunStop | detail::kXmlBracket);
}
// Characters of an element name after the first: letters, digits and ':'.
inline bool is_element_name_char(int c) { return is_alnum(c) || c == ':'; }
// Characters of an attribute name after the first: letters, digits and '_'.
inline bool is_attribute_name_char(int c) { return is_alnum(c) || c == '_'; }

}  // namespace tarvo
