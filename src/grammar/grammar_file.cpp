// Reading and checking grammar files.
//
// A syntax error stops the file at once: the lines after it would only
// produce follow-on noise. Errors in what the lines say (unknown names,
// contexts out of range, repeats) are collected so that one run reports
// them all.
#include "grammar/grammar_file.h"
#include "reader/xml_text.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <unordered_map>
#include <unordered_set>
#include <utility>

#include "containers/sip_hash.h"
#include "reader/char_class.h"
#include "reader/open_file.h"

namespace tarvo::grammar_file {
namespace {

// Element indices, and the entries of one attribute or value list, stay
// far below what int32_t and the indexes' 32-bit masks can hold.
constexpr size_t kMaxNames = size_t{1} << 28;

// For the sets that find repeated names: keyed, so that a grammar file
// cannot make them collide.
struct NameHash {
    size_t operator()(std::string_view s) const { return static_cast<size_t>(sip_hash13(process_hash_key(), s)); }
};
using NameSet = std::unordered_set<std::string_view, NameHash>;

bool element_name_readable(std::string_view name) {
    return !name.empty() && std::all_of(name.begin(), name.end(), [](char c) {
        return is_element_name_char(static_cast<unsigned char>(c));
    });
}

bool attribute_name_readable(std::string_view name) {
    return !name.empty() && is_alpha(static_cast<unsigned char>(name[0])) &&
           std::all_of(name.begin() + 1, name.end(),
                       [](char c) { return is_attribute_name_char(static_cast<unsigned char>(c)); });
}

// A name for a message: bytes outside printable ASCII, and '\', escaped.
std::string shown(std::string_view name) {
    std::string out;
    for (unsigned char c : name) {
        if (c >= 0x20 && c < 0x7f && c != '\\') {
            out += static_cast<char>(c);
        } else {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\x%02x", c);
            out += buf;
        }
    }
    return out;
}

struct SyntaxError {
    int line;
    std::string message;
};

struct Token {
    std::string text;
    bool quoted;
};

bool is_space(char c) { return c == ' ' || c == '\t' || c == '\r'; }

std::vector<Token> tokenize(const std::string& s, int line) {
    std::vector<Token> out;
    size_t i = 0;
    const size_t n = s.size();
    while (i < n) {
        if (is_space(s[i])) {
            ++i;
        } else if (s[i] == '#') {
            break;
        } else if (s[i] == '"') {
            std::string value;
            bool closed = false;
            for (++i; i < n;) {
                char c = s[i++];
                if (c == '"') {
                    closed = true;
                    break;
                }
                if (c == '\\' && i < n) {
                    c = s[i++];
                    if (c != '"' && c != '\\')
                        throw SyntaxError{line, std::string("unknown escape '\\") + c +
                                                    "' (only \\\" and \\\\ are allowed)"};
                } else if (c == '\\') {
                    break;
                }
                value += c;
            }
            if (!closed) throw SyntaxError{line, "unterminated string"};
            if (i < n && !is_space(s[i]) && s[i] != '#')
                throw SyntaxError{line, "missing space after a string"};
            out.push_back({std::move(value), true});
        } else {
            size_t start = i;
            for (; i < n && !is_space(s[i]) && s[i] != '#'; ++i)
                if (s[i] == '"') throw SyntaxError{line, "quote inside a word"};
            out.push_back({s.substr(start, i - start), false});
        }
    }
    return out;
}

// Plain decimal, no sign, no leading zeros, small enough for int32_t.
bool parse_number(std::string_view s, int32_t& v) {
    if (s.empty() || s.size() > 9 || (s.size() > 1 && s[0] == '0')) return false;
    v = 0;
    for (char c : s) {
        if (c < '0' || c > '9') return false;
        v = v * 10 + (c - '0');
    }
    return true;
}

class Parser {
public:
    Parser(const std::string& path, Grammar& g, std::vector<Diagnostic>& diags, const NameRule& names)
        : path_(path), g_(g), diags_(diags), names_(names) {}

    void line(int ln, const std::vector<Token>& t);
    void finish(int last_line);

private:
    void error(int line, std::string message) { diags_.push_back({path_, line, std::move(message)}); }

    const std::string& word(int ln, const std::vector<Token>& t, size_t i, const char* what) {
        if (i >= t.size()) throw SyntaxError{ln, std::string("missing ") + what};
        if (t[i].quoted) throw SyntaxError{ln, std::string("expected ") + what + ", not a string"};
        return t[i].text;
    }
    int32_t number(int ln, const std::vector<Token>& t, size_t i, const char* what) {
        const std::string& w = word(ln, t, i, what);
        int32_t v;
        if (!parse_number(w, v)) throw SyntaxError{ln, "bad number '" + w + "' for " + what};
        return v;
    }
    static void no_more(int ln, const std::vector<Token>& t, size_t n) {
        if (t.size() > n) throw SyntaxError{ln, "unexpected '" + t[n].text + "' at end of line"};
    }
    Element& current(int ln, const std::string& keyword) {
        if (current_ < 0) throw SyntaxError{ln, "'" + keyword + "' outside an element"};
        return g_.elements[current_];
    }

    void header(int ln, const std::vector<Token>& t);
    void element(int ln, const std::vector<Token>& t);
    void attribute(int ln, const std::vector<Token>& t);
    List list(int ln, const std::vector<Token>& t, size_t from);
    void close_element();
    void check_list(List& l);

    const std::string& path_;
    Grammar& g_;
    std::vector<Diagnostic>& diags_;
    const NameRule& names_;
    int32_t current_ = -1;
    std::unordered_map<std::string, int32_t, NameHash> by_name_;  // first declaration wins
    // The current element's attributes by name: where each was declared.
    std::unordered_map<std::string, int, NameHash> attribute_lines_;
};

void Parser::line(int ln, const std::vector<Token>& t) {
    if (t.empty()) return;
    const std::string& kw = word(ln, t, 0, "keyword");
    if (kw == "grammar" || kw == "source") {
        header(ln, t);
    } else if (kw == "element") {
        element(ln, t);
    } else if (kw == "first") {
        Element& e = current(ln, kw);
        if (e.first_line)
            throw SyntaxError{ln, "'first' given twice for '" + e.name + "' (also at line " +
                                      std::to_string(e.first_line) + ")"};
        e.first_line = ln;
        e.first = list(ln, t, 1);
    } else if (kw == "row") {
        Element& e = current(ln, kw);
        int32_t r = number(ln, t, 1, "row number");
        if (r != static_cast<int32_t>(e.rows.size()))
            throw SyntaxError{ln, "row " + std::to_string(r) + " out of order, expected row " +
                                      std::to_string(e.rows.size())};
        e.rows.push_back(list(ln, t, 2));
    } else if (kw == "attr") {
        attribute(ln, t);
    } else if (kw == "text") {
        // Text rows belong to the grammar, so this ends the element before.
        close_element();
        int32_t r = number(ln, t, 1, "text row number");
        if (r != static_cast<int32_t>(g_.text_rows.size()))
            throw SyntaxError{ln, "text row " + std::to_string(r) + " out of order, expected text row " +
                                      std::to_string(g_.text_rows.size())};
        List l = list(ln, t, 2);
        // Character data must be able to end the parent or run into more text.
        bool closes = std::any_of(l.begin(), l.end(), [](const Entry& en) { return en.kind != Entry::Kind::Element; });
        if (!closes)
            error(ln, "text row " + std::to_string(r) + " lists neither END nor TEXT");
        g_.text_rows.push_back(std::move(l));
    } else {
        throw SyntaxError{ln, "unknown keyword '" + kw + "'"};
    }
}

void Parser::header(int ln, const std::vector<Token>& t) {
    const std::string& kw = t[0].text;
    bool is_name = kw == "grammar";
    std::string& value = is_name ? g_.name : g_.source;
    int& at = is_name ? g_.name_line : g_.source_line;
    if (at)
        throw SyntaxError{ln, "'" + kw + "' given twice (also at line " + std::to_string(at) + ")"};
    if (!g_.elements.empty() || !g_.text_rows.empty())
        throw SyntaxError{ln, "'" + kw + "' must come before the first element"};
    value = word(ln, t, 1, is_name ? "registry name" : "source path");
    no_more(ln, t, 2);
    at = ln;
}

void Parser::element(int ln, const std::vector<Token>& t) {
    if (!g_.name_line) throw SyntaxError{ln, "missing 'grammar' line before the first element"};
    if (!g_.source_line) throw SyntaxError{ln, "missing 'source' line before the first element"};
    int32_t index = number(ln, t, 1, "element index");
    const std::string& name = word(ln, t, 2, "element name");
    no_more(ln, t, 3);
    close_element();
    int32_t position = static_cast<int32_t>(g_.elements.size());
    if (g_.elements.size() >= kMaxNames) throw SyntaxError{ln, "too many elements"};
    if (index != position)
        error(ln, "element index " + std::to_string(index) + " does not match its position " +
                      std::to_string(position));
    if (name == "END" || name == "TEXT" || name == "(none)")
        error(ln, "'" + name + "' cannot name an element: it is a list keyword");
    else if (!names_.element(name))
        error(ln, "element name '" + shown(name) + "' cannot occur in a document: " + names_.element_form);
    auto [it, fresh] = by_name_.emplace(name, position);
    if (!fresh)
        error(ln, "duplicate element name '" + name + "' (also at line " +
                      std::to_string(g_.elements[it->second].line) + ")");
    Element e;
    e.name = name;
    e.line = ln;
    g_.elements.push_back(std::move(e));
    current_ = position;
}

void Parser::attribute(int ln, const std::vector<Token>& t) {
    Element& e = current(ln, "attr");
    Attribute a;
    a.name = word(ln, t, 1, "attribute name");
    a.line = ln;
    const std::string& kind = word(ln, t, 2, "'required' or 'default'");
    size_t i = 3;
    if (kind == "default") {
        if (i >= t.size() || !t[i].quoted) throw SyntaxError{ln, "'default' needs a quoted value"};
        a.required = false;
        a.default_value = t[i++].text;
    } else if (kind != "required") {
        throw SyntaxError{ln, "expected 'required' or 'default', not '" + kind + "'"};
    }
    if (i < t.size()) {
        if (t[i].quoted || t[i].text != "values")
            throw SyntaxError{ln, "unexpected '" + t[i].text + "', expected 'values'"};
        if (++i == t.size()) throw SyntaxError{ln, "'values' needs at least one quoted value"};
        for (; i < t.size(); ++i) {
            if (!t[i].quoted) throw SyntaxError{ln, "expected a quoted value, not '" + t[i].text + "'"};
            a.values.push_back(t[i].text);
        }
    }
    if (!names_.attribute(a.name))
        error(ln, "attribute name '" + shown(a.name) + "' cannot occur in a document: " + names_.attribute_form);
    auto [other, fresh] = attribute_lines_.emplace(a.name, ln);
    if (!fresh)
        error(ln, "duplicate attribute '" + a.name + "' in '" + e.name + "' (also at line " +
                      std::to_string(other->second) + ")");
    if (e.attributes.size() >= kMaxNames) throw SyntaxError{ln, "too many attributes in '" + e.name + "'"};
    if (a.values.size() >= kMaxNames) throw SyntaxError{ln, "too many values"};
    NameSet seen;
    for (const std::string& v : a.values)
        if (!seen.insert(v).second) error(ln, "attribute '" + a.name + "' lists value \"" + v + "\" twice");
    e.attributes.push_back(std::move(a));
}

List Parser::list(int ln, const std::vector<Token>& t, size_t from) {
    List out;
    if (from >= t.size()) throw SyntaxError{ln, "empty list (write '(none)')"};
    if (!t[from].quoted && t[from].text == "(none)") {
        if (t.size() > from + 1) throw SyntaxError{ln, "'(none)' must stand alone"};
        return out;
    }
    NameSet seen;
    for (size_t i = from; i < t.size(); ++i) {
        const Token& tok = t[i];
        if (tok.quoted) throw SyntaxError{ln, "unexpected string in a list"};
        const std::string& w = tok.text;
        Entry en;
        en.line = ln;
        if (w == "(none)") throw SyntaxError{ln, "'(none)' must stand alone"};
        if (w == "TEXT") throw SyntaxError{ln, "TEXT needs a context (TEXT/c)"};
        size_t slash = w.rfind('/');
        if (w == "END") {
            en.kind = Entry::Kind::End;
        } else if (slash == std::string::npos) {
            throw SyntaxError{ln, "'" + w + "' needs a context (" + w + "/c)"};
        } else if (w.compare(0, slash, "END") == 0) {
            error(ln, "END carries no context: write 'END', not '" + w + "'");
            en.kind = Entry::Kind::End;
        } else {
            if (slash == 0) throw SyntaxError{ln, "missing element name in '" + w + "'"};
            if (!parse_number(std::string_view(w).substr(slash + 1), en.context))
                throw SyntaxError{ln, "bad context number in '" + w + "'"};
            en.name = w.substr(0, slash);
            en.kind = en.name == "TEXT" ? Entry::Kind::Text : Entry::Kind::Element;
            if (en.kind == Entry::Kind::Text) en.name.clear();
        }
        // An element entry never has the name END or TEXT, so those two
        // stand for themselves here.
        std::string_view key = en.kind == Entry::Kind::End    ? std::string_view("END")
                               : en.kind == Entry::Kind::Text ? std::string_view("TEXT")
                                                              : std::string_view(w).substr(0, slash);
        if (!seen.insert(key).second)
            error(ln, (en.kind == Entry::Kind::End    ? std::string("END")
                       : en.kind == Entry::Kind::Text ? std::string("TEXT")
                                                      : "element '" + en.name + "'") +
                          " occurs twice in one list");
        out.push_back(std::move(en));
    }
    return out;
}

void Parser::close_element() {
    if (current_ < 0) return;
    const Element& e = g_.elements[current_];
    if (!e.first_line) error(e.line, "element '" + e.name + "' has no 'first' list");
    if (e.rows.empty()) error(e.line, "element '" + e.name + "' has no successor row (row 0)");
    current_ = -1;
    // Dropped, not cleared: clearing would cost the buckets a large element
    // left behind once for every element after it.
    if (!attribute_lines_.empty()) decltype(attribute_lines_)().swap(attribute_lines_);
}

void Parser::check_list(List& l) {
    for (Entry& en : l) {
        if (en.kind == Entry::Kind::Text) {
            if (en.context >= static_cast<int32_t>(g_.text_rows.size()))
                error(en.line, "TEXT/" + std::to_string(en.context) + " out of range: the grammar has " +
                                   std::to_string(g_.text_rows.size()) + " text row(s)");
        } else if (en.kind == Entry::Kind::Element) {
            auto it = by_name_.find(en.name);
            if (it == by_name_.end()) {
                error(en.line, "unknown element '" + en.name + "'");
                continue;
            }
            en.element = it->second;
            size_t rows = g_.elements[it->second].rows.size();
            // An element without rows is reported where it is declared.
            if (rows && static_cast<size_t>(en.context) >= rows)
                error(en.line, "context " + std::to_string(en.context) + " out of range for '" + en.name +
                                   "', which has " + std::to_string(rows) + " row(s)");
        }
    }
}

void Parser::finish(int last_line) {
    close_element();
    if (!g_.name_line) throw SyntaxError{last_line, "missing 'grammar' line"};
    if (!g_.source_line) throw SyntaxError{last_line, "missing 'source' line"};
    for (Element& e : g_.elements) {
        check_list(e.first);
        for (List& r : e.rows) check_list(r);
    }
    for (List& r : g_.text_rows) check_list(r);
}

}  // namespace

const NameRule kTagNames = {
    [](std::string_view n) { return element_name_readable(n) || xml::check_name(n).empty(); },
    [](std::string_view n) { return attribute_name_readable(n) || xml::check_name(n).empty(); },
    "an element name is made of ASCII letters, digits and ':', or is an XML name (read in the XML mode)",
    "an attribute name is an ASCII letter followed by ASCII letters, digits and '_', or an XML name (read in the "
    "XML mode)",
};

bool parse_grammar(const std::string& path, const std::string& text, Grammar& out,
                   std::vector<Diagnostic>& diags, const NameRule& names) {
    std::vector<Diagnostic> found;
    Parser p(path, out, found, names);
    int ln = 0;
    try {
        for (size_t pos = 0; pos < text.size() || ln == 0;) {
            size_t end = text.find('\n', pos);
            if (end == std::string::npos) end = text.size();
            ++ln;
            p.line(ln, tokenize(text.substr(pos, end - pos), ln));
            pos = end + 1;
        }
        p.finish(ln);
    } catch (const SyntaxError& e) {
        found.push_back({path, e.line, e.message});
    }
    std::stable_sort(found.begin(), found.end(),
                     [](const Diagnostic& a, const Diagnostic& b) { return a.line < b.line; });
    diags.insert(diags.end(), found.begin(), found.end());
    return found.empty();
}

int read_text_file(const std::string& path, std::string& text) {
    std::FILE* f = open_for_reading(path.c_str());
    if (!f) return errno;
    char buf[8192];
    int error = 0;
    for (;;) {
        const size_t n = std::fread(buf, 1, sizeof buf, f);
        text.append(buf, n);
        if (n == sizeof buf) continue;
        if (!std::ferror(f)) break;  // the end
        if (errno != EINTR) {         // a directory opens but cannot be read
            error = errno ? errno : EIO;
            break;
        }
        std::clearerr(f);  // a signal: read on
    }
    std::fclose(f);
    return error;
}

bool read_grammar_file(const std::string& path, Grammar& out, std::vector<Diagnostic>& diags,
                       const NameRule& names) {
    std::string text;
    if (int error = read_text_file(path, text)) {
        diags.push_back({path, 0, std::string("cannot read grammar file: ") + std::strerror(error)});
        return false;
    }
    return parse_grammar(path, text, out, diags, names);
}

std::string format(const Diagnostic& d) { return d.file + ":" + std::to_string(d.line) + ": " + d.message; }

}  // namespace tarvo::grammar_file
