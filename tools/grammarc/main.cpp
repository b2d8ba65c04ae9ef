// tarvo-grammarc: compiles the grammars listed in a catalogue into one C++
// source of static tables (see src/schema/schema_table.h), so that the reader
// starts with every grammar in place and never builds one at run time. The
// tables are laid out by src/grammar/layout.cpp, as load_grammar() lays out
// a grammar file at run time; this only prints them.
//
//   tarvo-grammarc --catalogue FILE [--schemas-dir DIR] (--output FILE | --check)
#include "grammar/grammar_file.h"
#include "grammar/layout.h"
#include "schema/schema_table.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <sstream>
#include <system_error>

namespace fs = std::filesystem;
using namespace tarvo::grammar_file;

namespace {

// The seed of a built-in grammar's keyed indexes, should one need them: any
// fixed value, so that a build gives the same tables every time; the
// layout checks their runs as it does at run time.
constexpr tarvo::HashKey kBuildSeed = {0x7461727630677261ull, 0x6d6d61727374626cull};

bool read_file(const fs::path& path, std::string& out) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    std::ostringstream ss;
    ss << in.rdbuf();
    out = ss.str();
    return !in.bad();
}

std::string trim(const std::string& s) {
    size_t b = s.find_first_not_of(" \t\r");
    if (b == std::string::npos) return {};
    return s.substr(b, s.find_last_not_of(" \t\r") + 1 - b);
}

// Every byte outside printable ASCII, and the three that could end or alter
// a literal (", \, ? for trigraph-like sequences), as a three-digit octal
// escape: fixed width, so a following digit can never extend it.
std::string literal(std::string_view s) {
    std::string out = "\"";
    for (unsigned char c : s) {
        if (c >= 0x20 && c < 0x7f && c != '"' && c != '\\' && c != '?') {
            out += static_cast<char>(c);
        } else {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\%03o", c);
            out += buf;
        }
    }
    return out + "\"";
}

struct Position {
    tarvo::ContentPosition p;
};
std::ostream& operator<<(std::ostream& o, Position x) {
    if (x.p.element == tarvo::POSITION_END)
        o << "{POSITION_END, ";
    else if (x.p.element == tarvo::POSITION_TEXT)
        o << "{POSITION_TEXT, ";
    else
        o << "{" << x.p.element << ", ";
    return o << x.p.context << "}";
}

// A pointer into one of the layout's arrays: that array plus the offset.
struct Ref {
    const std::string& prefix;
    const char* array;
    ptrdiff_t offset;  // -1: nullptr
};
std::ostream& operator<<(std::ostream& o, const Ref& r) {
    if (r.offset < 0) return o << "nullptr";
    return o << r.prefix << "_" << r.array << " + " << r.offset;
}

// Prints a laid-out grammar as static data: each array of the layout as one
// array named after it, and every pointer into one as that array plus the
// offset. Nothing here decides where anything goes.
class Printer {
public:
    Printer(std::ostream& out, const TableLayout& t, const std::string& prefix) : out_(out), t_(t), p_(prefix) {}

    void print() {
        std::ostream& o = out_;
        o << "\n// " << literal(t_.table.name) << " from " << literal(t_.source.entry) << "\n";
        array("ContentPosition", "positions", t_.positions,
              [&](std::ostream& e, const tarvo::ContentPosition& c) { e << Position{c}; });
        array("const char*", "values", t_.values, [&](std::ostream& e, const char* const& v) {
            e << literal({v, t_.value_lengths[static_cast<size_t>(&v - t_.values.data())]});
        });
        array("uint32_t", "value_lengths", t_.value_lengths, [](std::ostream& e, uint32_t n) { e << n; });
        array("uint32_t", "slots", t_.slots, [](std::ostream& e, uint32_t s) {
            if (s == tarvo::kEmptySlot)
                e << "~0u";
            else
                e << s << "u";
        });
        array("SuccessorRow", "rows", t_.rows, [&](std::ostream& e, const tarvo::SuccessorRow& r) {
            e << "{" << Position{r.own} << ", " << r.count << ", " << ref(r.successors, t_.positions, "positions") << "}";
        });
        array("AttributeRule", "attributes", t_.attributes, [&](std::ostream& e, const tarvo::AttributeRule& r) {
            e << "{" << literal({r.name, r.name_length}) << ", " << r.name_length << ", " << r.bucket << ", "
              << r.allowed_count << ", " << ref(r.allowed, t_.values, "values") << ", "
              << ref(r.allowed_lengths, t_.value_lengths, "value_lengths") << ", "
              << (r.default_value ? literal({r.default_value, r.default_length}) : "nullptr") << ", "
              << r.default_length << ", ";
            index(e, r.value_index);
            e << "}";
        });
        array("ElementRule", "elements", t_.elements, [&](std::ostream& e, const tarvo::ElementRule& r) {
            e << "{" << literal({r.name, r.name_length}) << ", " << r.name_length << ", " << r.index << ", "
              << r.first_count << ", " << ref(r.first, t_.positions, "positions") << ", " << r.row_count << ", "
              << ref(r.rows, t_.rows, "rows") << ", " << r.attribute_count << ", "
              << ref(r.attributes, t_.attributes, "attributes") << ", ";
            index(e, r.attribute_index);
            e << "}";
        });
        const tarvo::SchemaTable& t = t_.table;
        o << "constexpr SchemaTable " << p_ << "_table = {" << literal(t.name) << ", " << literal(t.source_path) << ", "
          << t.element_count << ", " << ref(t.elements, t_.elements, "elements") << ", " << t.text_row_count << ", "
          << ref(t.text_rows, t_.rows, "rows") << ", ";
        index(o, t.name_index);
        o << ", " << literal(t.grammar_file) << "};\n";
    }

private:
    // `name` as an array of `type`, the entries that `item` prints for the
    // items of `v` in lines of about 100 columns; none when `v` is empty.
    template <class T, class Item>
    void array(const char* type, const char* name, const std::vector<T>& v, Item&& item) {
        if (v.empty()) return;
        out_ << "constexpr " << type << " " << p_ << "_" << name << "[] = {";
        size_t column = 100;
        for (const T& x : v) {
            std::ostringstream entry;
            item(entry, x);
            const std::string text = entry.str();
            if (column + text.size() > 100) {
                out_ << "\n   ";
                column = 3;
            }
            out_ << " " << text << ",";
            column += text.size() + 2;
        }
        out_ << "\n};\n";
    }

    template <class T>
    Ref ref(const T* p, const std::vector<T>& v, const char* array) const {
        return {p_, array, p ? p - v.data() : -1};
    }

    void index(std::ostream& o, const tarvo::NameIndex& ix) const {
        o << "{" << ref(ix.slots, t_.slots, "slots") << ", " << ix.mask << "u, " << ix.keyed << "}";
    }

    std::ostream& out_;
    const TableLayout& t_;
    const std::string& p_;
};

// Leaves an unchanged file alone so that its dependants are not rebuilt, and
// never leaves a half-written one behind.
bool write_if_changed(const fs::path& path, const std::string& content) {
    std::string old;
    if (read_file(path, old) && old == content) return true;
    std::error_code ec;
    if (path.has_parent_path()) fs::create_directories(path.parent_path(), ec);
    fs::path tmp = path;
    tmp += ".tmp";
    {
        std::ofstream out(tmp, std::ios::binary | std::ios::trunc);
        out << content;
        out.close();
        if (!out) {
            std::cerr << "tarvo-grammarc: cannot write " << tmp.string() << "\n";
            fs::remove(tmp, ec);
            return false;
        }
    }
    fs::rename(tmp, path, ec);
    if (ec) {
        std::cerr << "tarvo-grammarc: cannot rename " << tmp.string() << " to " << path.string() << ": "
                  << ec.message() << "\n";
        fs::remove(tmp, ec);
        return false;
    }
    return true;
}

int usage() {
    std::cerr << "usage: tarvo-grammarc --catalogue FILE [--schemas-dir DIR] (--output FILE | --check)\n"
                 "  --schemas-dir defaults to the catalogue's directory\n";
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    std::string catalogue, schemas_dir, output;
    bool check = false;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        std::string* target = a == "--catalogue" ? &catalogue
                              : a == "--schemas-dir" ? &schemas_dir
                              : a == "--output"      ? &output
                                                     : nullptr;
        if (target && i + 1 < argc)
            *target = argv[++i];
        else if (a == "--check")
            check = true;
        else
            return usage();
    }
    if (catalogue.empty() || (output.empty() && !check)) return usage();
    if (schemas_dir.empty()) schemas_dir = fs::path(catalogue).parent_path().string();

    std::string text;
    if (!read_file(catalogue, text)) {
        std::cerr << "tarvo-grammarc: cannot read " << catalogue << "\n";
        return 1;
    }
    std::vector<Grammar> grammars;
    std::vector<Diagnostic> diags;
    std::map<std::string, const Grammar*> registry;
    std::istringstream lines(text);
    std::string line;
    int ln = 0;
    while (std::getline(lines, line)) {
        ++ln;
        std::string entry = trim(line);
        if (entry.empty() || entry[0] == '#') continue;
        std::string path = (fs::path(schemas_dir) / entry).string();
        std::string source;
        if (!read_file(path, source)) {
            diags.push_back({catalogue, ln, "cannot read grammar file '" + path + "'"});
            continue;
        }
        Grammar g;
        g.entry = entry;
        if (!parse_grammar(path, source, g, diags)) continue;
        grammars.push_back(std::move(g));
    }
    for (const Grammar& g : grammars) {
        auto [it, fresh] = registry.emplace(g.name, &g);
        if (!fresh)
            diags.push_back({(fs::path(schemas_dir) / g.entry).string(), g.name_line,
                             "registry name '" + g.name + "' is already used by " + it->second->entry});
    }
    if (diags.empty() && grammars.empty()) diags.push_back({catalogue, ln, "the catalogue lists no grammars"});
    for (const Diagnostic& d : diags) std::cerr << d.file << ":" << d.line << ": " << d.message << "\n";
    if (!diags.empty()) return 1;
    if (check) return 0;

    std::ostringstream out;
    out << "// Generated by tarvo-grammarc from " << fs::path(catalogue).filename().string()
        << " and the grammars it lists; do not edit.\n"
           "#include \"schema/schema_table.h\"\n\n"
           "namespace tarvo {\n"
           "namespace {\n";
    for (size_t i = 0; i < grammars.size(); ++i) {
        // Appended, not "g" + to_string(i): g++ 12 -O3 warns falsely (-Wrestrict) on that form.
        std::string prefix = "g";
        prefix += std::to_string(i);
        std::string file = "src/schemas/" + grammars[i].entry;
        TableLayout t(std::move(grammars[i]), std::move(file), kBuildSeed);
        Printer(out, t, prefix).print();
    }
    out << "\n}  // namespace\n\nconst SchemaTable* const kGrammars[] = {\n";
    for (size_t i = 0; i < grammars.size(); ++i) out << "    &g" << i << "_table,\n";
    out << "};\nconst int kGrammarCount = " << grammars.size() << ";\n\n}  // namespace tarvo\n";
    return write_if_changed(output, out.str()) ? 0 : 1;
}
