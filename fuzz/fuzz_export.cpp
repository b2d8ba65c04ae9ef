// libFuzzer target over the export and the description: any text as a
// grammar file, loaded as a program loads one at run time, then described
// in every format, whole and one element, and exported as RELAX NG and as a
// DTD. Whatever the grammar, each must finish within its work budget (the
// fuzzer's timeout finds a hang) and be well-formed: the XML checked by a
// small reader of its own here, the DTD's markup and literals, the JSON's
// strings and brackets, the text free of control characters.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz_support.h"
#include "tarvo/grammar.h"
#include "tarvo/tarvo.h"

namespace {

using std::string_view;

// Well-formed UTF-8 of: characters an XML document may hold (kXml); those
// but control characters other than line ends (kText); any, but C0 control
// characters other than line ends (kJson: JSON strings escape them).
enum class Chars { kXml, kText, kJson };

bool chars_ok(string_view s, Chars kind) {
    for (size_t i = 0; i < s.size();) {
        unsigned char c = static_cast<unsigned char>(s[i]);
        uint32_t cp;
        size_t len;
        if (c < 0x80) {
            cp = c, len = 1;
        } else if (c >= 0xC2 && c <= 0xDF) {
            cp = c & 0x1F, len = 2;
        } else if (c >= 0xE0 && c <= 0xEF) {
            cp = c & 0x0F, len = 3;
        } else if (c >= 0xF0 && c <= 0xF4) {
            cp = c & 0x07, len = 4;
        } else {
            return false;
        }
        if (s.size() - i < len) return false;
        for (size_t k = 1; k < len; ++k) {
            unsigned char b = static_cast<unsigned char>(s[i + k]);
            if ((b & 0xC0) != 0x80) return false;
            cp = cp << 6 | (b & 0x3F);
        }
        static const uint32_t kLeast[] = {0, 0, 0x80, 0x800, 0x10000};
        if (cp < kLeast[len] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return false;
        if (kind != Chars::kJson && (cp == 0xFFFE || cp == 0xFFFF)) return false;
        if (cp < 0x20 && cp != '\n' && (kind != Chars::kXml || (cp != '\t' && cp != '\r'))) return false;
        if (kind == Chars::kText && cp >= 0x7F && cp <= 0x9F) return false;
        i += len;
    }
    return true;
}

bool is_name_byte(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' || c == '-' ||
           c == '.' || c == ':' || static_cast<unsigned char>(c) >= 0x80;
}

// A reference at s[i] ('&'): "&name;" or "&#digits;"; its length, 0 if none.
size_t reference(string_view s, size_t i) {
    size_t j = i + 1;
    if (j < s.size() && s[j] == '#') ++j;
    size_t start = j;
    while (j < s.size() && is_name_byte(s[j])) ++j;
    return j > start && j < s.size() && s[j] == ';' ? j + 1 - i : 0;
}

// A quoted literal at s[i]: no '<', '&' only in references; its length, 0 if bad.
size_t literal(string_view s, size_t i) {
    char q = s[i];
    for (size_t j = i + 1; j < s.size(); ++j) {
        if (s[j] == q) return j + 1 - i;
        if (s[j] == '<') return 0;
        if (s[j] == '&') {
            size_t r = reference(s, j);
            if (!r) return 0;
            j += r - 1;
        }
    }
    return 0;
}

// A comment at s[i] ("<!--"): no "--" inside; its length, 0 if bad.
size_t comment(string_view s, size_t i) {
    size_t end = s.find("--", i + 4);
    return end != string_view::npos && end + 2 < s.size() && s[end + 2] == '>' ? end + 3 - i : 0;
}

bool xml_ok(string_view s) {
    if (!chars_ok(s, Chars::kXml)) return false;
    std::vector<string_view> open;
    int roots = 0;
    for (size_t i = 0; i < s.size();) {
        if (s[i] == '&') {
            size_t r = reference(s, i);
            if (!r || open.empty()) return false;
            i += r;
            continue;
        }
        if (s[i] != '<') {
            if (open.empty() && s[i] != ' ' && s[i] != '\n') return false;
            ++i;
            continue;
        }
        if (s.compare(i, 4, "<!--") == 0) {
            size_t c = comment(s, i);
            if (!c) return false;
            i += c;
            continue;
        }
        if (s.compare(i, 2, "<?") == 0) {
            size_t end = s.find("?>", i);
            if (end == string_view::npos || i != 0) return false;
            i = end + 2;
            continue;
        }
        bool closing = i + 1 < s.size() && s[i + 1] == '/';
        size_t j = i + (closing ? 2 : 1), start = j;
        while (j < s.size() && is_name_byte(s[j])) ++j;
        if (j == start) return false;
        string_view name = s.substr(start, j - start);
        // Attributes: name="literal", white space between.
        while (j < s.size() && s[j] != '>' && s[j] != '/') {
            if (s[j] == ' ' || s[j] == '\n') {
                ++j;
                continue;
            }
            size_t a = j;
            while (j < s.size() && is_name_byte(s[j])) ++j;
            if (closing || j == a || j + 1 >= s.size() || s[j] != '=' || s[j + 1] != '"') return false;
            size_t l = literal(s, j + 1);
            if (!l) return false;
            j += 1 + l;
        }
        if (j >= s.size()) return false;
        bool empty = s[j] == '/';
        if (empty && (closing || j + 1 >= s.size() || s[j + 1] != '>')) return false;
        i = j + (empty ? 2 : 1);
        if (closing) {
            if (open.empty() || open.back() != name) return false;
            open.pop_back();
        } else {
            if (open.empty() && ++roots > 1) return false;
            if (!empty) open.push_back(name);
        }
    }
    return open.empty() && roots == 1;
}

// Comments, and declarations whose literals hold no markup; no parameter
// entity reference anywhere.
bool dtd_ok(string_view s) {
    if (!chars_ok(s, Chars::kXml)) return false;
    for (size_t i = 0; i < s.size();) {
        if (s.compare(i, 4, "<!--") == 0) {
            size_t c = comment(s, i);
            if (!c) return false;
            i += c;
        } else if (s.compare(i, 10, "<!ELEMENT ") == 0 || s.compare(i, 10, "<!ATTLIST ") == 0) {
            size_t j = i + 10;
            for (; j < s.size() && s[j] != '>'; ++j) {
                if (s[j] == '<' || s[j] == '%' || s[j] == '&' || s[j] == '\'') return false;
                if (s[j] == '"') {
                    size_t l = literal(s, j);
                    if (!l) return false;
                    j += l - 1;
                }
            }
            if (j == s.size()) return false;
            i = j + 1;
        } else if (s[i] == '\n') {
            ++i;
        } else {
            return false;
        }
    }
    return true;
}

bool json_ok(string_view s) {
    if (!chars_ok(s, Chars::kJson)) return false;
    std::vector<char> open;
    for (size_t i = 0; i < s.size(); ++i) {
        char c = s[i];
        if (c == '"') {
            for (++i; i < s.size() && s[i] != '"'; ++i)
                if (s[i] == '\\' && ++i < s.size() && string_view("\"\\/bfnrtu").find(s[i]) == string_view::npos)
                    return false;
            if (i >= s.size()) return false;
        } else if (c == '[' || c == '{') {
            open.push_back(c == '[' ? ']' : '}');
        } else if (c == ']' || c == '}') {
            if (open.empty() || open.back() != c) return false;
            open.pop_back();
        }
    }
    return open.empty();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string path = tarvo_fuzz::write_scratch_file({reinterpret_cast<const char*>(data), size});
    if (path.empty()) return 0;
    std::shared_ptr<const tarvo::SchemaTable> table;
    try {
        table = tarvo::load_grammar(path);
    } catch (const tarvo::GrammarError&) {
        return 0;
    }
    const tarvo::GrammarInfo g = tarvo::grammar_info(*table);
    // The whole grammar, and one element picked by the input's size.
    for (int element : {-1, g.elements.empty() ? -1 : static_cast<int>(size % g.elements.size())}) {
        if (!chars_ok(tarvo::describe_text(g, element), Chars::kText)) __builtin_trap();
        if (!json_ok(tarvo::describe_json(g, element))) __builtin_trap();
        if (!json_ok(tarvo::describe_dot(g, element))) __builtin_trap();  // brackets and quoted strings, as JSON's
    }
    for (const tarvo::Export& x : {tarvo::export_rng(g), tarvo::export_dtd(g)})
        for (const std::string& l : x.loosened)
            if (!chars_ok(l, Chars::kText)) __builtin_trap();
    if (!xml_ok(tarvo::export_rng(g).text)) __builtin_trap();
    if (!dtd_ok(tarvo::export_dtd(g).text)) __builtin_trap();
    return 0;
}
