#include "reader/xml_text.h"

#include "containers/utf8.h"
#include "reader/byte_scan.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace tarvo::xml {

namespace {

bool ascii_name_start(int c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_' || c == ':'; }

}  // namespace

bool is_name_start_code_point(uint32_t c) {
    if (c < 0x80) return ascii_name_start(static_cast<int>(c));
    return (c >= 0xC0 && c <= 0xD6) || (c >= 0xD8 && c <= 0xF6) || (c >= 0xF8 && c <= 0x2FF) ||
           (c >= 0x370 && c <= 0x37D) || (c >= 0x37F && c <= 0x1FFF) || (c >= 0x200C && c <= 0x200D) ||
           (c >= 0x2070 && c <= 0x218F) || (c >= 0x2C00 && c <= 0x2FEF) || (c >= 0x3001 && c <= 0xD7FF) ||
           (c >= 0xF900 && c <= 0xFDCF) || (c >= 0xFDF0 && c <= 0xFFFD) || (c >= 0x10000 && c <= 0xEFFFF);
}

bool is_name_code_point(uint32_t c) {
    if (c < 0x80) return is_name_byte(static_cast<int>(c));
    return is_name_start_code_point(c) || c == 0xB7 || (c >= 0x300 && c <= 0x36F) || (c >= 0x203F && c <= 0x2040);
}

bool is_char(uint32_t c) {
    return c == 0x9 || c == 0xA || c == 0xD || (c >= 0x20 && c <= 0xD7FF) || (c >= 0xE000 && c <= 0xFFFD) ||
           (c >= 0x10000 && c <= 0x10FFFF);
}

namespace {

// `cp` as UTF-8 into `out`; returns its length.
size_t put_utf8(char* out, uint32_t cp) {
    if (cp < 0x80) {
        out[0] = static_cast<char>(cp);
        return 1;
    }
    if (cp < 0x800) {
        out[0] = static_cast<char>(0xC0 | cp >> 6);
        out[1] = static_cast<char>(0x80 | (cp & 0x3F));
        return 2;
    }
    if (cp < 0x10000) {
        out[0] = static_cast<char>(0xE0 | cp >> 12);
        out[1] = static_cast<char>(0x80 | (cp >> 6 & 0x3F));
        out[2] = static_cast<char>(0x80 | (cp & 0x3F));
        return 3;
    }
    out[0] = static_cast<char>(0xF0 | cp >> 18);
    out[1] = static_cast<char>(0x80 | (cp >> 12 & 0x3F));
    out[2] = static_cast<char>(0x80 | (cp >> 6 & 0x3F));
    out[3] = static_cast<char>(0x80 | (cp & 0x3F));
    return 4;
}

std::string code_point_text(uint32_t cp) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "U+%04X", static_cast<unsigned>(cp));
    return buf;
}

std::string quoted(std::string_view s) { return std::string("'").append(s).append("'"); }

// The reference at the start of `s` ('&' first), one that predefined()
// did not settle: its replacement in `out` (`size` bytes), its length in
// `length`; or the problem.
std::string reference(std::string_view s, char* out, size_t& size, size_t& length) {
    const size_t semi = s.find(';');
    // A reference is short; a missing ';' is reported with what follows.
    if (semi == std::string_view::npos || semi > 64) {
        std::string_view shown = s.substr(0, std::min<size_t>(s.size(), 16));
        return "found " + quoted(shown) + " where a reference ('&name;', '&#N;' or '&#xH;') expected";
    }
    length = semi + 1;
    std::string_view body = s.substr(1, semi - 1);
    if (!body.empty() && body[0] == '#') {
        const bool hex = body.size() > 1 && body[1] == 'x';
        std::string_view digits = body.substr(hex ? 2 : 1);
        uint32_t cp = 0;
        bool ok = !digits.empty();
        for (char d : digits) {
            int v = d >= '0' && d <= '9' ? d - '0'
                    : hex && d >= 'a' && d <= 'f' ? d - 'a' + 10
                    : hex && d >= 'A' && d <= 'F' ? d - 'A' + 10
                                                  : -1;
            if (v < 0) {
                ok = false;
                break;
            }
            cp = cp * (hex ? 16 : 10) + static_cast<uint32_t>(v);
            if (cp > 0x10FFFF) cp = 0x110000;  // stays out of range, never wraps
        }
        if (!ok) return "found " + quoted(s.substr(0, length)) + " where a character reference expected";
        if (!is_char(cp))
            return "character reference " + quoted(s.substr(0, length)) + " names " +
                   (cp > 0x10FFFF ? std::string("no code point") : code_point_text(cp)) +
                   ", which XML does not allow";
        size = put_utf8(out, cp);
        return {};
    }
    if (body.empty() || !check_name(body).empty())
        return "found " + quoted(s.substr(0, length)) + " where a reference ('&name;', '&#N;' or '&#xH;') expected";
    return "reference to undeclared entity " + quoted(body);
}

}  // namespace

std::string check_name(std::string_view name) {
    const auto* p = reinterpret_cast<const unsigned char*>(name.data());
    const size_t n = name.size();
    if (n == 0) return "found an empty name";
    for (size_t i = 0; i < n;) {
        uint32_t cp = p[i];
        size_t len = 1;
        if (cp >= 0x80) {
            len = decode_utf8(p + i, n - i, cp);
            if (!len) return "name " + quoted(name) + " is not well-formed UTF-8";
        }
        const bool ok = i == 0 ? is_name_start_code_point(cp) : is_name_code_point(cp);
        if (!ok)
            return "name " + quoted(name) + " has " + code_point_text(cp) + ", which XML does not allow " +
                   (i == 0 ? "at the start of a name" : "in a name");
        i += len;
    }
    return {};
}

thread_local UnknownReference unknown_reference = nullptr;
thread_local const MarkupEntities* markup_entities = nullptr;

std::string finish_run(std::string& run, Run kind, size_t from) {
    auto* p = reinterpret_cast<unsigned char*>(run.data());
    const size_t n = run.size();
    // Written in place: nothing is replaced by more bytes than it takes.
    size_t w = from;
    for (size_t i = from; i < n;) {
        // Bytes that need no work are taken in bulk.
        const size_t plain = static_cast<size_t>(scan::find_xml_stop<'&', true>(p + i, p + n) - (p + i));
        if (plain) {
            if (w != i) std::memmove(p + w, p + i, plain);
            w += plain;
            i += plain;
            continue;
        }
        const unsigned char c = p[i];
        if (c >= 0x80) {
            uint32_t cp;
            const size_t len = decode_utf8(p + i, n - i, cp);
            if (!len) return "found a byte that is not well-formed UTF-8 (" + describe(c) + ")";
            if (!is_char(cp)) return "found " + code_point_text(cp) + ", which XML does not allow";
            for (size_t k = 0; k < len; ++k) p[w++] = p[i + k];
            i += len;
            continue;
        }
        if (c == '\r') {
            p[w++] = kind == Run::attribute ? ' ' : kind == Run::literal ? '\r' : '\n';
            i += kind != Run::literal && i + 1 < n && p[i + 1] == '\n' ? 2 : 1;
            continue;
        }
        if (c < 0x20 && c != '\t' && c != '\n')
            return "found control character " + describe(c) + ", which XML does not allow";
        if ((kind == Run::text || kind == Run::attribute) && c == '&') {
            size_t length;
            if (const char decoded = predefined(p + i, n - i, length)) {
                p[w++] = static_cast<unsigned char>(decoded);
                i += length;
                continue;
            }
            char decoded[4];
            size_t decoded_size = 0;
            std::string problem = reference(std::string_view(run).substr(i), decoded, decoded_size, length);
            if (!problem.empty())
                return unknown_reference ? unknown_reference(std::move(problem), run, w, i, kind) : problem;
            for (size_t k = 0; k < decoded_size; ++k) p[w++] = static_cast<unsigned char>(decoded[k]);
            i += length;
            continue;
        }
        if (c == '<' && kind == Run::attribute) return "found '<' in an attribute value, where XML does not allow it";
        if (c == ']' && kind == Run::text && run.compare(i, 3, "]]>") == 0)
            return "found ']]>' in character data, where XML does not allow it";
        p[w++] = kind == Run::attribute && (c == '\t' || c == '\n') ? ' ' : c;
        ++i;
    }
    run.resize(w);
    return {};
}

bool is_utf8_encoding(std::string_view e) {
    std::string lower;
    for (char c : e) lower.push_back(c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c);
    return lower == "utf-8" || lower == "utf8" || lower == "us-ascii" || lower == "ascii";
}

std::string expected(int found, const char* what) {
    return "found " + describe(found) + " where " + what + " expected";
}

std::string describe(int c) {
    if (c < 0) return "end of input";
    if (c == ' ') return "a space";
    if (c >= 0x21 && c < 0x7F) return std::string("'") + static_cast<char>(c) + "'";
    char buf[16];
    std::snprintf(buf, sizeof buf, "byte 0x%02X", static_cast<unsigned>(c));
    return buf;
}

}  // namespace tarvo::xml
