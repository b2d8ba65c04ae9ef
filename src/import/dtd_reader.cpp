// Reading a DTD.
//
// The text is read through a stack of frames: the file at the bottom, the
// replacement text of each parameter entity being read above it. Where
// declarations allow whitespace, a reference `%name;` pushes the entity's
// text with a space on either side, so an entity never joins the tokens
// around it. Lines are counted in the file only. Expansion is bounded (an
// entity may not refer to itself, and all expansions together may not grow
// past a multiple of the file), so no DTD makes the reading run away.
#include "import/dtd_reader.h"

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <map>
#include <sstream>
#include <string_view>
#include <utility>

// g++ 12 at -O3 warns falsely (-Wrestrict) on "literal" + std::string.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wrestrict"
#endif

namespace tarvo::dtd {

bool is_name_start(unsigned char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_' || c == ':' || c >= 0x80;
}

bool is_name_char(unsigned char c) {
    return is_name_start(c) || (c >= '0' && c <= '9') || c == '-' || c == '.';
}

namespace {

struct SyntaxError {
    int line;
    std::string message;
};

constexpr size_t kMaxEntityDepth = 64;  // entities open inside one another
constexpr int kMaxGroupDepth = 200;     // nested groups in one content model

bool is_space(int c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

struct Entity {
    std::string value;  // replacement text of an internal entity
    bool external = false;
    bool unparsed = false;
    std::string system;
};

void append_utf8(std::string& out, uint32_t cp) {
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | cp >> 6);
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | cp >> 12);
        out += static_cast<char>(0x80 | (cp >> 6 & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | cp >> 18);
        out += static_cast<char>(0x80 | (cp >> 12 & 0x3F));
        out += static_cast<char>(0x80 | (cp >> 6 & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

bool is_xml_char(uint32_t cp) {
    return cp == 0x9 || cp == 0xA || cp == 0xD || (cp >= 0x20 && cp <= 0xD7FF) || (cp >= 0xE000 && cp <= 0xFFFD) ||
           (cp >= 0x10000 && cp <= 0x10FFFF);
}

std::string collapse_spaces(std::string_view s) {
    std::string out;
    for (char c : s) {
        if (c == ' ' && (out.empty() || out.back() == ' ')) continue;
        out += c;
    }
    if (!out.empty() && out.back() == ' ') out.pop_back();
    return out;
}

class Reader {
public:
    Reader(const std::string& text, Dtd& out) : out_(out), budget_(16 * text.size() + (1u << 20)) {
        size_t start = text.compare(0, 3, "\xEF\xBB\xBF") == 0 ? 3 : 0;
        frames_.push_back({text.substr(start), 0, ""});
    }

    void run();
    int line() const { return line_; }

private:
    struct Frame {
        std::string text;
        size_t pos;
        std::string entity;  // empty for the file
    };

    [[noreturn]] void fail(std::string message) const { throw SyntaxError{line_, std::move(message)}; }

    // The next character, -1 at the end of the file; a finished entity is
    // left behind on the way.
    int peek() {
        for (;;) {
            Frame& f = frames_.back();
            if (f.pos < f.text.size()) return static_cast<unsigned char>(f.text[f.pos]);
            if (frames_.size() == 1) return -1;
            frames_.pop_back();
        }
    }
    // The character after the next, within the same frame (-1 if none).
    int peek_second() {
        peek();
        const Frame& f = frames_.back();
        return f.pos + 1 < f.text.size() ? static_cast<unsigned char>(f.text[f.pos + 1]) : -1;
    }
    int get() {
        int c = peek();
        if (c < 0) return c;
        ++frames_.back().pos;
        if (c == '\n' && frames_.size() == 1) ++line_;
        return c;
    }
    bool looking_at(std::string_view s) {
        peek();
        const Frame& f = frames_.back();
        return f.text.compare(f.pos, s.size(), s) == 0;
    }
    void consume(std::string_view s) {
        for (size_t i = 0; i < s.size(); ++i) get();
    }
    void expect(char c, const char* where) {
        int got = peek();
        if (got != c) fail(std::string("expected '") + c + "' " + where + ", found " + describe(got));
        get();
    }
    static std::string describe(int c) {
        if (c < 0) return "the end of the file";
        if (c == '\n') return "a line end";
        std::string out = "'";
        out += static_cast<char>(c);
        return out += '\'';
    }

    // Whitespace and parameter-entity references; whether there were any.
    bool skip_space() {
        bool any = false;
        for (;;) {
            int c = peek();
            if (is_space(c)) {
                get();
                any = true;
            } else if (c == '%' && peek_second() >= 0 && is_name_start(static_cast<unsigned char>(peek_second()))) {
                open_reference();
                any = true;
            } else {
                return any;
            }
        }
    }
    void require_space(const char* where) {
        if (!skip_space()) fail(std::string("expected whitespace ") + where + ", found " + describe(peek()));
    }

    void open_reference();
    std::string name(const char* what);
    std::string nmtoken(const char* what);
    std::string literal(const char* what);
    std::string entity_value(const std::string& raw);
    void attribute_value(std::string_view raw, std::string& out, std::vector<std::string>& open);
    uint32_t char_reference(std::string_view raw, size_t& i) const;

    void comment();
    void skip_to(std::string_view end, const char* what);
    void conditional();
    void element();
    Particle group(int depth);
    Particle particle(int depth);
    void occurrence(Particle& p);
    void attlist();
    void entity();
    void notation();
    void annotation(std::string_view text);
    void row_hints(std::string_view text);

    Dtd& out_;
    std::vector<Frame> frames_;
    int line_ = 1;
    size_t budget_;  // characters that expansions may still add
    int include_depth_ = 0;
    std::map<std::string, Entity> parameter_, general_;
    std::string last_attlist_;  // element of the latest ATTLIST
};

void Reader::open_reference() {
    get();  // '%'
    std::string n = name("parameter entity name");
    expect(';', "after a parameter entity name");
    auto it = parameter_.find(n);
    if (it == parameter_.end()) fail("undefined parameter entity %" + n + ";");
    const Entity& e = it->second;
    if (e.external) {
        out_.unread.emplace_back(line_, "parameter entity %" + n + "; is external (\"" + e.system +
                                            "\"): it is not read, and what it declares is missing");
        return;
    }
    for (const Frame& f : frames_)
        if (f.entity == n) fail("parameter entity %" + n + "; refers to itself");
    if (frames_.size() > kMaxEntityDepth) fail("parameter entities nested too deeply at %" + n + ";");
    if (e.value.size() + 2 > budget_) fail("parameter entities expand to too much text at %" + n + ";");
    budget_ -= e.value.size() + 2;
    frames_.push_back({" " + e.value + " ", 0, n});
}

std::string Reader::name(const char* what) {
    int c = peek();
    if (c < 0 || !is_name_start(static_cast<unsigned char>(c))) fail(std::string("expected ") + what + ", found " + describe(c));
    std::string out;
    while ((c = peek()) >= 0 && is_name_char(static_cast<unsigned char>(c))) out += static_cast<char>(get());
    return out;
}

std::string Reader::nmtoken(const char* what) {
    std::string out;
    int c;
    while ((c = peek()) >= 0 && is_name_char(static_cast<unsigned char>(c))) out += static_cast<char>(get());
    if (out.empty()) fail(std::string("expected ") + what + ", found " + describe(c));
    return out;
}

std::string Reader::literal(const char* what) {
    int q = peek();
    if (q != '"' && q != '\'') fail(std::string("expected ") + what + " in quotes, found " + describe(q));
    get();
    std::string out;
    for (int c; (c = get()) != q;) {
        if (c < 0) fail(std::string("unterminated ") + what);
        out += static_cast<char>(c);
    }
    return out;
}

uint32_t Reader::char_reference(std::string_view raw, size_t& i) const {
    // raw[i] is '&', raw[i + 1] is '#'
    size_t j = i + 2;
    bool hex = j < raw.size() && raw[j] == 'x';
    if (hex) ++j;
    uint32_t cp = 0;
    size_t digits = 0;
    for (; j < raw.size() && raw[j] != ';'; ++j, ++digits) {
        char c = raw[j];
        int d = c >= '0' && c <= '9' ? c - '0'
                : hex && c >= 'a' && c <= 'f' ? c - 'a' + 10
                : hex && c >= 'A' && c <= 'F' ? c - 'A' + 10
                                                : -1;
        if (d < 0 || cp > 0x10FFFF) fail("bad character reference");
        cp = cp * (hex ? 16 : 10) + static_cast<uint32_t>(d);
    }
    if (j == raw.size() || digits == 0 || !is_xml_char(cp)) fail("bad character reference");
    i = j + 1;
    return cp;
}

// An entity value: character references and parameter entities are
// replaced now, general entities are kept for where the entity is used.
std::string Reader::entity_value(const std::string& raw) {
    std::string out;
    for (size_t i = 0; i < raw.size();) {
        if (raw.compare(i, 2, "&#") == 0) {
            append_utf8(out, char_reference(raw, i));
        } else if (raw[i] == '%') {
            size_t end = raw.find(';', i);
            std::string n = raw.substr(i + 1, end == std::string::npos ? std::string::npos : end - i - 1);
            if (end == std::string::npos || n.empty() || !is_name_start(static_cast<unsigned char>(n[0])))
                fail("'%' in an entity value must begin a parameter entity reference");
            auto it = parameter_.find(n);
            if (it == parameter_.end()) fail("undefined parameter entity %" + n + ";");
            if (it->second.external) {
                out_.unread.emplace_back(line_, "parameter entity %" + n + "; is external (\"" + it->second.system +
                                                    "\"): it is not read, and an entity value that uses it lacks it");
            } else {
                if (it->second.value.size() > budget_) fail("parameter entities expand to too much text at %" + n + ";");
                budget_ -= it->second.value.size();
                out += it->second.value;
            }
            i = end + 1;
        } else {
            out += raw[i++];
        }
    }
    return out;
}

// An attribute default as a document would give it: references replaced,
// each whitespace character a space; `open` holds the general entities
// being replaced, which may not refer to themselves.
void Reader::attribute_value(std::string_view raw, std::string& out, std::vector<std::string>& open) {
    for (size_t i = 0; i < raw.size();) {
        char c = raw[i];
        if (c == '<') fail("'<' in an attribute value");
        if (c != '&') {
            out += c == '\t' || c == '\n' || c == '\r' ? ' ' : c;
            ++i;
            continue;
        }
        if (raw.compare(i, 2, "&#") == 0) {
            append_utf8(out, char_reference(raw, i));
            continue;
        }
        size_t end = raw.find(';', i);
        if (end == std::string::npos) fail("'&' in an attribute value must begin a reference");
        std::string n(raw.substr(i + 1, end - i - 1));
        i = end + 1;
        static const std::pair<const char*, char> predefined[] = {
            {"lt", '<'}, {"gt", '>'}, {"amp", '&'}, {"apos", '\''}, {"quot", '"'}};
        auto p = std::find_if(std::begin(predefined), std::end(predefined),
                              [&](const auto& x) { return n == x.first; });
        if (p != std::end(predefined)) {
            out += p->second;
            continue;
        }
        auto it = general_.find(n);
        if (it == general_.end()) fail("undefined entity &" + n + "; in an attribute value");
        if (it->second.external || it->second.unparsed)
            fail("external entity &" + n + "; in an attribute value (external entities are never read)");
        if (std::count(open.begin(), open.end(), n)) fail("entity &" + n + "; refers to itself");
        if (open.size() > kMaxEntityDepth) fail("entities nested too deeply at &" + n + ";");
        if (it->second.value.size() > budget_) fail("entities expand to too much text at &" + n + ";");
        budget_ -= it->second.value.size();
        open.push_back(n);
        attribute_value(it->second.value, out, open);
        open.pop_back();
    }
}

void Reader::run() {
    using Parse = void (Reader::*)();
    static const std::pair<std::string_view, Parse> declarations[] = {
        {"<!ELEMENT", &Reader::element},
        {"<!ATTLIST", &Reader::attlist},
        {"<!ENTITY", &Reader::entity},
        {"<!NOTATION", &Reader::notation},
    };
    for (;;) {
        skip_space();
        if (peek() < 0) break;
        auto d = std::find_if(std::begin(declarations), std::end(declarations),
                              [&](const auto& x) { return looking_at(x.first); });
        if (d != std::end(declarations)) {
            consume(d->first);
            (this->*d->second)();
        } else if (looking_at("<!--")) {
            comment();
        } else if (looking_at("<?")) {
            consume("<?");
            skip_to("?>", "processing instruction");
        } else if (looking_at("<![")) {
            conditional();
        } else if (include_depth_ > 0 && looking_at("]]>")) {
            consume("]]>");
            --include_depth_;
        } else if (looking_at("<!DOCTYPE")) {
            fail("a DOCTYPE declaration: give the DTD file itself");
        } else {
            fail("expected a declaration, found " + describe(peek()));
        }
    }
    if (include_depth_ > 0) fail("unterminated conditional section");
}

void Reader::comment() {
    consume("<!--");
    std::string text;
    for (;;) {
        if (peek() < 0) fail("unterminated comment");
        if (looking_at("-->")) break;
        text += static_cast<char>(get());
    }
    consume("-->");
    annotation(text);
}

void Reader::skip_to(std::string_view end, const char* what) {
    while (!looking_at(end)) {
        if (peek() < 0) fail(std::string("unterminated ") + what);
        get();
    }
    consume(end);
}

void Reader::conditional() {
    consume("<![");
    skip_space();
    std::string kind = name("INCLUDE or IGNORE");
    skip_space();
    expect('[', "after INCLUDE or IGNORE");
    if (kind == "INCLUDE") {
        ++include_depth_;
    } else if (kind == "IGNORE") {
        // Skipped whole, nested sections included; nothing in it is read.
        for (int depth = 1; depth > 0;) {
            if (peek() < 0) fail("unterminated conditional section");
            if (looking_at("<![")) {
                consume("<![");
                ++depth;
            } else if (looking_at("]]>")) {
                consume("]]>");
                --depth;
            } else {
                get();
            }
        }
    } else {
        fail("expected INCLUDE or IGNORE, found '" + kind + "'");
    }
}

void Reader::element() {
    require_space("after <!ELEMENT");
    ElementDecl d;
    d.line = line_;
    d.name = name("an element name");
    require_space("after the element name");
    if (peek() == '(') {
        get();
        skip_space();
        if (peek() == '#') {
            get();
            if (name("PCDATA") != "PCDATA") fail("expected #PCDATA");
            d.content = ElementDecl::Content::Mixed;
            d.model.kind = Particle::Kind::Choice;
            d.model.kids.push_back({Particle::Kind::Text, 0, {}, {}});
            for (;;) {
                skip_space();
                if (peek() == ')') break;
                expect('|', "between the names of a mixed model");
                skip_space();
                Particle p{Particle::Kind::Name, 0, name("an element name"), {}};
                for (const Particle& k : d.model.kids)
                    if (k.name == p.name)
                        fail("'" + p.name + "' stands twice in the mixed content of '" + d.name + "'");
                d.model.kids.push_back(std::move(p));
            }
            get();
            if (peek() == '*') {
                get();
                d.model.occurrence = '*';
            } else if (d.model.kids.size() > 1) {
                fail("a mixed model that names elements must end in ')*'");
            }
        } else {
            d.content = ElementDecl::Content::Children;
            d.model = group(1);
        }
    } else {
        std::string kind = name("EMPTY, ANY or a content model");
        if (kind == "EMPTY")
            d.content = ElementDecl::Content::Empty;
        else if (kind == "ANY")
            d.content = ElementDecl::Content::Any;
        else
            fail("expected EMPTY, ANY or a content model, found '" + kind + "'");
    }
    skip_space();
    expect('>', "at the end of the element declaration");
    out_.elements.push_back(std::move(d));
}

// A group whose '(' is read.
Particle Reader::group(int depth) {
    if (depth > kMaxGroupDepth) fail("content model nested too deeply");
    Particle g;
    g.kind = Particle::Kind::Seq;
    g.kids.push_back(particle(depth));
    char separator = 0;
    for (;;) {
        skip_space();
        int c = peek();
        if (c == ')') break;
        if (c != ',' && c != '|') fail("expected ',', '|' or ')' in a content model, found " + describe(c));
        if (separator && c != separator) fail("a group mixes ',' and '|'");
        separator = static_cast<char>(c);
        get();
        g.kids.push_back(particle(depth));
    }
    get();
    if (separator == '|') g.kind = Particle::Kind::Choice;
    occurrence(g);
    return g;
}

Particle Reader::particle(int depth) {
    skip_space();
    if (peek() == '(') {
        get();
        return group(depth + 1);
    }
    if (peek() == '#') fail("#PCDATA may only stand first in a mixed model");
    Particle p{Particle::Kind::Name, 0, name("an element name or '('"), {}};
    occurrence(p);
    return p;
}

void Reader::occurrence(Particle& p) {
    int c = peek();
    if (c == '?' || c == '*' || c == '+') p.occurrence = static_cast<char>(get());
}

void Reader::attlist() {
    require_space("after <!ATTLIST");
    std::string element = name("an element name");
    last_attlist_ = element;
    for (;;) {
        bool spaced = skip_space();
        if (peek() == '>') break;
        if (!spaced) fail("expected whitespace before an attribute name, found " + describe(peek()));
        AttributeDecl a;
        a.element = element;
        a.line = line_;
        a.name = name("an attribute name");
        require_space("after the attribute name");
        auto names = [&](bool tokens) {
            expect('(', "before the allowed values");
            for (;;) {
                skip_space();
                std::string v = tokens ? nmtoken("a name token") : name("a notation name");
                if (std::count(a.values.begin(), a.values.end(), v))
                    fail("attribute '" + a.name + "' lists value \"" + v + "\" twice");
                a.values.push_back(std::move(v));
                skip_space();
                if (peek() == ')') break;
                expect('|', "between allowed values");
            }
            get();
        };
        if (peek() == '(') {
            names(true);
        } else {
            a.type = name("an attribute type");
            static const char* const types[] = {"CDATA",  "ID",       "IDREF",   "IDREFS",   "ENTITY",
                                                "ENTITIES", "NMTOKEN", "NMTOKENS", "NOTATION"};
            if (std::none_of(std::begin(types), std::end(types), [&](const char* t) { return a.type == t; }))
                fail("unknown attribute type '" + a.type + "'");
            if (a.type == "NOTATION") {
                require_space("after NOTATION");
                names(false);
            }
        }
        require_space("before the attribute default");
        std::string raw;
        if (peek() == '#') {
            get();
            std::string k = name("REQUIRED, IMPLIED or FIXED");
            if (k == "REQUIRED") {
                a.kind = AttributeDecl::Default::Required;
            } else if (k == "IMPLIED") {
                a.kind = AttributeDecl::Default::Implied;
            } else if (k == "FIXED") {
                a.kind = AttributeDecl::Default::Fixed;
                require_space("after #FIXED");
                raw = literal("a default value");
            } else {
                fail("expected #REQUIRED, #IMPLIED or #FIXED, found '#" + k + "'");
            }
        } else {
            a.kind = AttributeDecl::Default::Value;
            raw = literal("a default value");
        }
        if (a.kind == AttributeDecl::Default::Fixed || a.kind == AttributeDecl::Default::Value) {
            std::vector<std::string> open;
            attribute_value(raw, a.value, open);
            if (a.type != "CDATA") a.value = collapse_spaces(a.value);
        }
        out_.attributes.push_back(std::move(a));
    }
    get();
}

void Reader::entity() {
    require_space("after <!ENTITY");
    bool parameter = false;
    if (peek() == '%') {
        get();
        parameter = true;
        require_space("after '%'");
    }
    std::string n = name("an entity name");
    require_space("after the entity name");
    Entity e;
    if (peek() == '"' || peek() == '\'') {
        e.value = entity_value(literal("an entity value"));
    } else {
        std::string kind = name("a quoted value, SYSTEM or PUBLIC");
        if (kind != "SYSTEM" && kind != "PUBLIC") fail("expected a quoted value, SYSTEM or PUBLIC, found '" + kind + "'");
        require_space(("after " + kind).c_str());
        if (kind == "PUBLIC") {
            literal("a public identifier");
            require_space("after the public identifier");
        }
        e.external = true;
        e.system = literal("a system identifier");
        bool spaced = skip_space();
        if (!parameter && spaced && peek() >= 0 && is_name_start(static_cast<unsigned char>(peek()))) {
            if (name("NDATA") != "NDATA") fail("expected NDATA or '>'");
            require_space("after NDATA");
            name("a notation name");
            e.unparsed = true;
        }
    }
    skip_space();
    expect('>', "at the end of the entity declaration");
    // The first declaration of an entity is the one that holds.
    if (!parameter && !general_.count(n)) out_.general.push_back({n, {e.value, e.external || e.unparsed}});
    (parameter ? parameter_ : general_).emplace(n, std::move(e));
}

void Reader::notation() {
    require_space("after <!NOTATION");
    name("a notation name");
    for (int c; (c = peek()) != '>';) {
        if (c < 0) fail("unterminated notation declaration");
        if (c == '"' || c == '\'')
            literal("an identifier");
        else
            get();
    }
    get();
}

// tarvo's DTD export notes, after the ATTLIST of an element, the value it
// supplies for a missing attribute where the DTD can only say #IMPLIED:
//   attribute NAME: tarvo supplies "VALUE" when it is missing, ...
void Reader::annotation(std::string_view text) {
    static constexpr std::string_view rows = " tarvo rows:";
    if (text.substr(0, rows.size()) == rows) return row_hints(text.substr(rows.size()));
    static constexpr std::string_view head = " attribute ", middle = ": tarvo supplies \"",
                                      tail = "\" when it is missing";
    if (text.substr(0, head.size()) != head || last_attlist_.empty()) return;
    size_t m = text.find(middle);
    size_t t = text.rfind(tail);
    if (m == std::string_view::npos || t == std::string_view::npos || t < m + middle.size()) return;
    std::string_view attribute = text.substr(head.size(), m - head.size());
    for (auto it = out_.attributes.rbegin(); it != out_.attributes.rend(); ++it) {
        if (it->element != last_attlist_ || it->name != attribute) continue;
        it->supplied = std::string(text.substr(m + middle.size(), t - m - middle.size()));
        it->supplied_line = line_;
        return;
    }
}

// The lines after the first of a "tarvo rows:" note: NAME/ROW: PARENT > WORD...
// A line that does not read so is passed over; the importer checks what the
// rest says against its own automata.
void Reader::row_hints(std::string_view text) {
    std::istringstream lines{std::string(text)};
    std::string line, arrow, word;
    std::getline(lines, line);  // the rest of the note's first line
    while (std::getline(lines, line)) {
        std::istringstream in(line);
        std::string head;
        RowHint h;
        if (!(in >> head >> h.parent >> arrow) || arrow != ">" || head.size() < 4 || head.back() != ':') continue;
        const size_t slash = head.rfind('/', head.size() - 2);
        const char* digits = head.data() + slash + 1;
        const char* end = head.data() + head.size() - 1;
        if (slash == std::string::npos || slash == 0 || std::from_chars(digits, end, h.row).ptr != end || h.row < 0)
            continue;
        h.name = head.substr(0, slash);
        while (in >> word) h.word.push_back(word);
        if (!h.word.empty() && h.word.back() == h.name) out_.row_hints.push_back(std::move(h));
    }
}

}  // namespace

bool read_dtd(const std::string& path, const std::string& text, Dtd& out,
              std::vector<grammar_file::Diagnostic>& diags) {
    Reader r(text, out);
    try {
        r.run();
    } catch (const SyntaxError& e) {
        diags.push_back({path, e.line, e.message});
        return false;
    }
    return true;
}

}  // namespace tarvo::dtd
