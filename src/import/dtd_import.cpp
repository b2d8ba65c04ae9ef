// From a DTD to a grammar file.
//
// Each element's content model becomes an automaton (content_automaton.h);
// the positions of all of them together are the places a child can stand.
// Places of one element that nothing distinguishes (the same element, and
// from there on the same content may follow) share one successor row, as
// hand-written grammars share them between parents; they are found by
// partition refinement. Rows are then numbered element by element, in
// declaration order, as each element's content reaches them.
#include "import/dtd_import.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <cstdio>
#include <map>
#include <set>

#include "grammar/grammar_load.h"
#include "import/content_automaton.h"
#include "import/dtd_reader.h"
#include "tarvo/grammar.h"

// g++ 12 at -O3 warns falsely (-Wrestrict) on "literal" + std::string.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wrestrict"
#endif

namespace tarvo::dtd {

namespace {

constexpr size_t kMaxElements = 32767;           // element indices are stored as int16_t
constexpr size_t kMaxEntries = size_t(1) << 23;  // list entries over the whole grammar
constexpr size_t kRefineWork = size_t(1) << 26;  // signature entries the row sharing may compute

const char* loosened_type(const std::string& type) {
    if (type == "ID") return "type ID: any value is accepted; it is not checked to be a name, nor to be unique";
    if (type == "IDREF" || type == "IDREFS")
        return "type IDREF: any value is accepted; it is not checked to name an ID of the document";
    if (type == "ENTITY" || type == "ENTITIES")
        return "type ENTITY: any value is accepted; it is not checked to name an unparsed entity";
    if (type == "NMTOKEN" || type == "NMTOKENS")
        return "type NMTOKEN: any value is accepted; it is not checked to be made of name tokens";
    return nullptr;
}

// A grammar-file word: no whitespace, '#' or '"'.
std::string word(std::string s) {
    for (char& c : s)
        if (c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '#' || c == '"') c = '_';
    return s.empty() ? "dtd" : s;
}

std::string quoted(const std::string& s) {
    std::string out = "\"";
    for (char c : s) {
        if (c == '"' || c == '\\') out += '\\';
        out += c;
    }
    return out + "\"";
}

std::string base_name(const std::string& path) {
    size_t slash = path.find_last_of("/\\");
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

class Importer {
public:
    Importer(const std::string& path, const Dtd& d, std::vector<grammar_file::Diagnostic>& diags)
        : path_(path), dtd_(d), diags_(diags) {}

    bool run(const std::string& root, Imported& out);

private:
    void error(int line, std::string message) { diags_.push_back({path_, line, std::move(message)}); }
    void declare();
    int symbol_of(const std::string& name, const std::string& user, int line);
    void build_automata();
    void share_rows();
    void number();
    void number_as_noted();
    std::string item(int position) const;
    std::string list(bool end, const std::vector<int>& positions) const;
    void write_attributes(int element, std::string& out);
    std::string write(const std::string& name);

    const std::string& path_;
    const Dtd& dtd_;
    std::vector<grammar_file::Diagnostic>& diags_;
    std::vector<std::string> loosened_;

    std::vector<std::string> names_;
    std::map<std::string, int> index_;
    std::vector<const ElementDecl*> decl_;  // null: used but never declared

    // Every position of every content model, numbered across the grammar.
    std::vector<int> start_;                // of each element: its automaton's first global position
    std::vector<const ContentAutomaton*> automaton_of_;
    std::vector<ContentAutomaton> automata_;
    std::vector<int> symbol_;
    std::vector<bool> last_;
    std::vector<std::vector<int>> follow_;

    std::vector<int> class_;    // of each position: the row it shares
    std::vector<int> context_;  // of each class
    std::vector<int> sample_;   // of each class: a position in it
    std::vector<std::vector<int>> rows_;  // of each element: its classes by context
    std::vector<int> text_rows_;
};

void Importer::declare() {
    for (const ElementDecl& e : dtd_.elements) {
        if (e.name == "END" || e.name == "TEXT") {
            error(e.line, "element name '" + e.name + "' is reserved in tarvo's grammar files");
            continue;
        }
        auto [it, fresh] = index_.emplace(e.name, static_cast<int>(names_.size()));
        if (!fresh) {
            error(e.line, "element '" + e.name + "' declared twice (also at line " +
                              std::to_string(decl_[it->second]->line) + ")");
            continue;
        }
        names_.push_back(e.name);
        decl_.push_back(&e);
    }
}

// The element a model names; one never declared is added, empty, and said so.
int Importer::symbol_of(const std::string& name, const std::string& user, int line) {
    auto [it, fresh] = index_.emplace(name, static_cast<int>(names_.size()));
    if (fresh) {
        if (name == "END" || name == "TEXT") error(line, "element name '" + name + "' is reserved in tarvo's grammar files");
        names_.push_back(name);
        decl_.push_back(nullptr);
        loosened_.push_back("element " + name + ": used in the content of " + user +
                            " but not declared; it is taken to be EMPTY");
    }
    return it->second;
}

void Importer::build_automata() {
    // Every name used must be known before ANY lists them all.
    std::vector<Particle> stack;
    for (const ElementDecl* d : std::vector<const ElementDecl*>(decl_)) {
        using C = ElementDecl::Content;
        if (d->content != C::Mixed && d->content != C::Children) continue;
        stack.assign(1, d->model);
        while (!stack.empty()) {
            Particle p = std::move(stack.back());
            stack.pop_back();
            if (p.kind == Particle::Kind::Name) symbol_of(p.name, d->name, d->line);
            for (Particle& k : p.kids) stack.push_back(std::move(k));
        }
    }
    if (names_.size() > kMaxElements) {
        error(0, "too many elements (" + std::to_string(names_.size()) + "; at most " + std::to_string(kMaxElements) + ")");
        return;
    }
    const int count = static_cast<int>(names_.size());
    size_t budget = kMaxEntries;
    automata_.reserve(names_.size() + 1);
    const ContentAutomaton* any = nullptr;
    auto lookup = [&](const std::string& n) { return index_.at(n); };
    for (int e = 0; e < count; ++e) {
        const ElementDecl* d = decl_[e];
        using C = ElementDecl::Content;
        if (!d || d->content == C::Empty) {
            automaton_of_.push_back(&automata_.emplace_back());
            continue;
        }
        if (d->content == C::Any && any) {
            automaton_of_.push_back(any);
            continue;
        }
        Particle model = d->model;
        if (d->content == C::Any) {
            // Text and every element, in any order and number.
            model = {Particle::Kind::Choice, '*', {}, {{Particle::Kind::Text, 0, {}, {}}}};
            for (const std::string& n : names_) model.kids.push_back({Particle::Kind::Name, 0, n, {}});
        }
        ContentAutomaton& a = automata_.emplace_back();
        BuildOutcome r = build_automaton(model, lookup, count, budget, a);
        if (r.kind == BuildOutcome::Kind::TooLarge) {
            error(d->line, "the content models are too large for a grammar (more than " + std::to_string(kMaxEntries) +
                               " successors), at '" + d->name + "'");
            return;
        }
        if (r.kind == BuildOutcome::Kind::NotDeterministic) {
            std::string where = r.after < 0 ? std::string("at its start")
                                : a.symbols[r.after] == kTextSymbol ? std::string("after character data")
                                                                    : "after '" + names_[a.symbols[r.after]] + "'";
            std::string what = r.symbol == kTextSymbol ? std::string("character data") : "'" + names_[r.symbol] + "'";
            error(d->line, "the content model of '" + d->name + "' is not deterministic: " + what +
                               " may stand at two places " + where);
        }
        if (d->content == C::Any) any = &a;
        automaton_of_.push_back(&a);
    }
    if (!diags_.empty()) return;
    // Shared automata (ANY, EMPTY) are laid out once.
    std::map<const ContentAutomaton*, int> laid;
    for (int e = 0; e < count; ++e) {
        const ContentAutomaton* a = automaton_of_[e];
        auto [it, fresh] = laid.emplace(a, static_cast<int>(symbol_.size()));
        start_.push_back(it->second);
        if (!fresh) continue;
        for (size_t p = 0; p < a->symbols.size(); ++p) {
            symbol_.push_back(a->symbols[p]);
            last_.push_back(a->last[p]);
            std::vector<int>& f = follow_.emplace_back();
            for (int q : a->follow[p]) f.push_back(it->second + q);
        }
    }
}

// Moore's refinement: positions start out apart by element and by whether
// the parent may close after them, and part whenever what follows them
// leads to different classes. Should the work grow past its bound, every
// position keeps a row of its own, which reads every document the same.
void Importer::share_rows() {
    const size_t n = symbol_.size();
    class_.assign(n, 0);
    std::map<std::pair<int, bool>, int> initial;
    for (size_t g = 0; g < n; ++g)
        class_[g] = initial.emplace(std::make_pair(symbol_[g], bool(last_[g])), static_cast<int>(initial.size())).first->second;
    size_t classes = initial.size(), work = 0;
    std::vector<int> next(n), signature;
    std::vector<std::pair<int, int>> moves;
    for (;;) {
        std::map<std::vector<int>, int> ids;
        for (size_t g = 0; g < n; ++g) {
            moves.clear();
            for (int t : follow_[g]) moves.emplace_back(symbol_[t], class_[t]);
            std::sort(moves.begin(), moves.end());
            signature.assign(1, class_[g]);
            for (auto [s, c] : moves) signature.insert(signature.end(), {s, c});
            work += signature.size();
            if (work > kRefineWork) {
                for (size_t h = 0; h < n; ++h) class_[h] = static_cast<int>(h);
                return;
            }
            next[g] = ids.emplace(signature, static_cast<int>(ids.size())).first->second;
        }
        class_.swap(next);
        if (ids.size() == classes) return;
        classes = ids.size();
    }
}

// Contexts in the order each element's content reaches its rows, the
// elements taken in declaration order; an element no content holds keeps
// one empty row 0, the one it takes as a document's root.
void Importer::number() {
    const size_t classes = class_.empty() ? 0 : *std::max_element(class_.begin(), class_.end()) + 1;
    context_.assign(classes, -1);
    sample_.assign(classes, -1);
    rows_.assign(names_.size(), {});
    std::vector<int> seen(classes, -1), queue;
    for (size_t e = 0; e < names_.size(); ++e) {
        const ContentAutomaton& a = *automaton_of_[e];
        queue.clear();
        auto reach = [&](int position) {
            int c = class_[position];
            if (seen[c] == static_cast<int>(e)) return;
            seen[c] = static_cast<int>(e);
            if (context_[c] < 0) {
                std::vector<int>& rows = symbol_[position] == kTextSymbol ? text_rows_ : rows_[symbol_[position]];
                context_[c] = static_cast<int>(rows.size());
                sample_[c] = position;
                rows.push_back(c);
            }
            queue.push_back(c);
        };
        for (int p : a.first) reach(start_[e] + p);
        for (size_t i = 0; i < queue.size(); ++i)
            for (int t : follow_[sample_[queue[i]]]) reach(t);
    }
}

// Rows as tarvo's DTD export noted them (dtd_reader.h, RowHint), so that a
// grammar exported and imported again numbers its rows as before. Notes
// that do not fit these automata (a DTD edited since) leave the numbering
// above as it is, all of them.
void Importer::number_as_noted() {
    if (dtd_.row_hints.empty()) return;
    std::vector<int> want(context_.size(), -1);
    for (const RowHint& h : dtd_.row_hints) {
        auto parent = index_.find(h.parent);
        if (parent == index_.end()) return;
        const int e = parent->second;
        const ContentAutomaton& a = *automaton_of_[e];
        int position = -1;
        for (const std::string& s : h.word) {
            auto named = index_.find(s);
            const int symbol = s == "#PCDATA" ? kTextSymbol : named == index_.end() ? kTextSymbol - 1 : named->second;
            const std::vector<int>& next = position < 0 ? a.first : a.follow[position];
            auto it = std::find_if(next.begin(), next.end(), [&](int q) { return a.symbols[q] == symbol; });
            if (it == next.end()) return;
            position = *it;
        }
        if (position < 0) return;
        const int c = class_[start_[e] + position];
        if (want[c] >= 0 && want[c] != h.row) return;
        want[c] = h.row;
    }
    auto renumber = [&](const std::vector<int>& rows, std::vector<int>& out) {
        out.assign(rows.size(), -1);
        for (int c : rows) {
            if (want[c] < 0 || want[c] >= static_cast<int>(rows.size()) || out[want[c]] >= 0) return false;
            out[want[c]] = c;
        }
        return true;
    };
    std::vector<std::vector<int>> rows(rows_.size());
    std::vector<int> text_rows;
    for (size_t e = 0; e < rows_.size(); ++e)
        if (!renumber(rows_[e], rows[e])) return;
    if (!renumber(text_rows_, text_rows)) return;
    rows_.swap(rows);
    text_rows_.swap(text_rows);
    for (size_t c = 0; c < want.size(); ++c)
        if (context_[c] >= 0) context_[c] = want[c];
}

std::string Importer::item(int position) const {
    int s = symbol_[position];
    return (s == kTextSymbol ? std::string("TEXT") : names_[s]) + "/" + std::to_string(context_[class_[position]]);
}

std::string Importer::list(bool end, const std::vector<int>& positions) const {
    std::string out = end ? "END" : "";
    for (int p : positions) {
        if (!out.empty()) out += ' ';
        out += item(p);
    }
    return out.empty() ? "(none)" : out;
}

void Importer::write_attributes(int element, std::string& out) {
    const std::string& e = names_[element];
    std::set<std::string> seen;
    for (const AttributeDecl& a : dtd_.attributes) {
        // The first declaration of an attribute is the one that holds.
        if (a.element != e || !seen.insert(a.name).second) continue;
        using D = AttributeDecl::Default;
        std::string value = a.kind == D::Implied ? a.supplied : a.value;
        if (value.find('\n') != std::string::npos) {
            error(a.line, "the default of attribute '" + a.name + "' of '" + e +
                              "' holds a line feed, which a grammar file cannot hold");
            continue;
        }
        out += "  attr " + a.name;
        if (a.kind == D::Required)
            out += " required";
        else
            out += " default " + quoted(value);
        std::vector<std::string> values = a.kind == D::Fixed ? std::vector<std::string>{a.value} : a.values;
        if (!values.empty()) {
            out += " values";
            for (const std::string& v : values) out += " " + quoted(v);
        }
        out += "\n";
        if (const char* why = loosened_type(a.type)) loosened_.push_back("attribute " + a.name + " of " + e + ": " + why);
        if (a.kind == D::Implied && !a.supplied_line)
            loosened_.push_back("attribute " + a.name + " of " + e +
                                ": #IMPLIED: when it is missing, tarvo delivers it with the value \"\"");
    }
}

std::string Importer::write(const std::string& name) {
    std::string body = "grammar " + word(name) + "\nsource " + word(base_name(path_)) + "\n";
    size_t entries = 0;
    for (size_t e = 0; e < names_.size(); ++e) {
        const ContentAutomaton& a = *automaton_of_[e];
        std::vector<int> first;
        for (int p : a.first) first.push_back(start_[e] + p);
        entries += first.size() + 1;
        body += "\nelement " + std::to_string(e) + " " + names_[e] + "\n  first " + list(a.nullable, first) + "\n";
        if (rows_[e].empty()) body += "  row 0 (none)\n";
        for (size_t c = 0; c < rows_[e].size(); ++c) {
            int p = sample_[rows_[e][c]];
            entries += follow_[p].size() + 1;
            body += "  row " + std::to_string(c) + " " + list(last_[p], follow_[p]) + "\n";
        }
        write_attributes(static_cast<int>(e), body);
    }
    if (!text_rows_.empty()) body += "\n";
    for (size_t c = 0; c < text_rows_.size(); ++c) {
        int p = sample_[text_rows_[c]];
        entries += follow_[p].size() + 1;
        body += "text " + std::to_string(c) + " " + list(last_[p], follow_[p]) + "\n";
    }
    if (entries > kMaxEntries)
        error(0, "the grammar would be too large (" + std::to_string(entries) + " list entries; at most " +
                     std::to_string(kMaxEntries) + ")");
    std::string head = "# Imported from " + base_name(path_) + " by tarvo import-dtd.\n";
    if (!loosened_.empty()) head += "# Checked more loosely than the DTD says:\n";
    for (std::string l : loosened_) {
        std::replace(l.begin(), l.end(), '\n', ' ');
        head += "#   " + l + "\n";
    }
    return head + body;
}

bool Importer::run(const std::string& root, Imported& out) {
    declare();
    if (!root.empty() && !index_.count(root)) error(0, "the root element '" + root + "' is not declared");
    for (const auto& [line, what] : dtd_.unread)
        if (std::find(loosened_.begin(), loosened_.end(), what) == loosened_.end()) loosened_.push_back(what);
    if (!diags_.empty()) return false;
    build_automata();
    if (!diags_.empty()) return false;
    share_rows();
    number();
    number_as_noted();
    if (!root.empty())
        loosened_.push_back("root: a document may begin with any declared element, not only " + root);
    std::string stem = base_name(path_);
    if (size_t dot = stem.rfind('.'); dot != std::string::npos && dot > 0) stem.resize(dot);
    out.grammar = write(root.empty() ? stem : root);
    out.loosened = loosened_;
    return diags_.empty();
}

}  // namespace

bool import_dtd_text(const std::string& path, const std::string& text, const std::string& root, Imported& out,
                     std::vector<grammar_file::Diagnostic>& diags) {
    Dtd d;
    std::vector<grammar_file::Diagnostic> found;
    bool ok = read_dtd(path, text, d, found) && Importer(path, d, found).run(root, out);
    std::stable_sort(found.begin(), found.end(),
                     [](const grammar_file::Diagnostic& a, const grammar_file::Diagnostic& b) { return a.line < b.line; });
    diags.insert(diags.end(), found.begin(), found.end());
    return ok && found.empty();
}

}  // namespace tarvo::dtd

namespace tarvo {

DtdImport import_dtd(const std::string& path, const std::string& root) {
    std::string text;
    if (int error = grammar_file::read_text_file(path, text))
        throw GrammarError({path + ":0: cannot read DTD file: " + std::strerror(error)});
    dtd::Imported im;
    std::vector<grammar_file::Diagnostic> diags;
    if (!dtd::import_dtd_text(path, text, root, im, diags)) {
        std::vector<std::string> messages;
        for (const auto& d : diags) messages.push_back(grammar_file::format(d));
        throw GrammarError(std::move(messages));
    }
    return {std::move(im.grammar), std::move(im.loosened)};
}

std::shared_ptr<const SchemaTable> load_dtd(const std::string& path, std::vector<std::string>* loosened) {
    DtdImport x = import_dtd(path);
    if (loosened) *loosened = x.loosened;
    return load_grammar_text(path, x.grammar);
}

}  // namespace tarvo
