// tarvo-grammarc: compiles the grammars listed in a catalogue into one C++
// source of static tables (see src/schema/schema_table.h), so that the reader
// starts with every grammar in place and never builds one at run time.
//
//   tarvo-grammarc --catalogue FILE [--schemas-dir DIR] (--output FILE | --check)
#include "containers/str_dict.h"  // the attribute set's buckets, precomputed per rule
#include "schema/grammar_file.h"
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

std::string position(int32_t element, int32_t context) {
    std::string e = element == tarvo::POSITION_END    ? "POSITION_END"
                    : element == tarvo::POSITION_TEXT ? "POSITION_TEXT"
                                                      : std::to_string(element);
    return "{" + e + ", " + std::to_string(context) + "}";
}

class Emitter {
public:
    explicit Emitter(std::ostream& out) : out_(out) {}
    void grammar(const Grammar& g, const std::string& p);

private:
    // Emits the positions of `l` as array `name`; returns what a table
    // refers to it by (nullptr for an empty list, which has no array).
    std::string list(const List& l, const std::string& name);
    std::string rows(const std::vector<List>& rows, int32_t own, const std::string& name);
    std::string attributes(const Element& e, const std::string& name);
    std::string name_slots(const Grammar& g, const std::string& name, uint32_t& mask);
    // Emits `slots` as array `name`; nullptr when there is no index.
    std::string slot_array(const std::vector<int16_t>& slots, const std::string& name);

    std::ostream& out_;
};

std::string Emitter::list(const List& l, const std::string& name) {
    if (l.empty()) return "nullptr";
    out_ << "constexpr ContentPosition " << name << "[] = {";
    for (size_t i = 0; i < l.size(); ++i) {
        const Entry& en = l[i];
        int32_t element = en.kind == Entry::Kind::End    ? tarvo::POSITION_END
                          : en.kind == Entry::Kind::Text ? tarvo::POSITION_TEXT
                                                         : en.element;
        // END names the close of the parent, not a place with successors.
        int32_t context = en.kind == Entry::Kind::End ? -1 : en.context;
        out_ << (i ? ", " : "") << position(element, context);
    }
    out_ << "};\n";
    return name;
}

std::string Emitter::rows(const std::vector<List>& rows, int32_t own, const std::string& name) {
    if (rows.empty()) return "nullptr";
    std::vector<std::string> refs;
    for (size_t r = 0; r < rows.size(); ++r) refs.push_back(list(rows[r], name + std::to_string(r)));
    out_ << "constexpr SuccessorRow " << name << "s[] = {\n";
    for (size_t r = 0; r < rows.size(); ++r)
        out_ << "    {" << position(own, static_cast<int32_t>(r)) << ", " << rows[r].size() << ", " << refs[r]
             << "},\n";
    out_ << "};\n";
    return name + "s";
}

std::string Emitter::attributes(const Element& e, const std::string& name) {
    if (e.attributes.empty()) return "nullptr";
    std::vector<std::string> value_refs;
    std::vector<uint32_t> value_masks;
    for (size_t i = 0; i < e.attributes.size(); ++i) {
        uint32_t mask = 0;
        value_refs.push_back(slot_array(value_slots(e.attributes[i], mask), name + std::to_string(i) + "_value_slots"));
        value_masks.push_back(mask);
    }
    for (size_t i = 0; i < e.attributes.size(); ++i) {
        const Attribute& a = e.attributes[i];
        if (a.values.empty()) continue;
        std::string v = name + std::to_string(i) + "_values";
        out_ << "constexpr const char* " << v << "[] = {";
        for (size_t k = 0; k < a.values.size(); ++k) out_ << (k ? ", " : "") << literal(a.values[k]);
        out_ << "};\nconstexpr uint32_t " << v << "_lengths[] = {";
        for (size_t k = 0; k < a.values.size(); ++k) out_ << (k ? ", " : "") << a.values[k].size();
        out_ << "};\n";
    }
    out_ << "constexpr AttributeRule " << name << "s[] = {\n";
    for (size_t i = 0; i < e.attributes.size(); ++i) {
        const Attribute& a = e.attributes[i];
        std::string v = name + std::to_string(i) + "_values";
        out_ << "    {" << literal(a.name) << ", " << a.name.size() << ", " << tarvo::dict_bucket(a.name) << ", "
             << a.values.size() << ", ";
        if (a.values.empty())
            out_ << "nullptr, nullptr, ";
        else
            out_ << v << ", " << v << "_lengths, ";
        if (a.required)
            out_ << "nullptr, 0, ";
        else
            out_ << literal(a.default_value) << ", " << a.default_value.size() << ", ";
        out_ << value_refs[i] << ", " << value_masks[i] << "},\n";
    }
    out_ << "};\n";
    return name + "s";
}

std::string Emitter::name_slots(const Grammar& g, const std::string& name, uint32_t& mask) {
    return slot_array(build_name_slots(g, mask), name);
}

std::string Emitter::slot_array(const std::vector<int16_t>& slots, const std::string& name) {
    if (slots.empty()) return "nullptr";
    out_ << "constexpr int16_t " << name << "[] = {";
    for (size_t i = 0; i < slots.size(); ++i) out_ << (i ? (i % 16 ? ", " : ",\n    ") : "") << slots[i];
    out_ << "};\n";
    return name;
}

void Emitter::grammar(const Grammar& g, const std::string& p) {
    // Quoted like a literal, so that no byte of a name can disturb the comment.
    out_ << "\n// " << literal(g.name) << " from " << literal(g.entry) << "\n";
    std::vector<std::string> firsts, rowrefs, attrrefs, attrslots;
    std::vector<uint32_t> attrmasks;
    for (size_t i = 0; i < g.elements.size(); ++i) {
        const Element& e = g.elements[i];
        std::string q = p + "_e" + std::to_string(i);
        firsts.push_back(list(e.first, q + "_first"));
        rowrefs.push_back(rows(e.rows, static_cast<int32_t>(i), q + "_row"));
        attrrefs.push_back(attributes(e, q + "_attr"));
        uint32_t mask = 0;
        attrslots.push_back(slot_array(attribute_slots(e, mask), q + "_attr_slots"));
        attrmasks.push_back(mask);
    }
    std::string elements = "nullptr";
    if (!g.elements.empty()) {
        elements = p + "_elements";
        out_ << "constexpr ElementRule " << elements << "[] = {\n";
        for (size_t i = 0; i < g.elements.size(); ++i) {
            const Element& e = g.elements[i];
            out_ << "    {" << literal(e.name) << ", " << e.name.size() << ", " << i << ", " << e.first.size() << ", "
                 << firsts[i] << ", " << e.rows.size() << ", " << rowrefs[i] << ", " << e.attributes.size() << ", "
                 << attrrefs[i] << ", " << attrslots[i] << ", " << attrmasks[i] << "},\n";
        }
        out_ << "};\n";
    }
    std::string text_rows = rows(g.text_rows, tarvo::POSITION_TEXT, p + "_text_row");
    uint32_t mask = 0;
    std::string slots = name_slots(g, p + "_name_slots", mask);
    out_ << "constexpr SchemaTable " << p << "_table = {" << literal(g.name) << ", " << literal(g.source) << ", "
         << g.elements.size() << ", " << elements << ", " << g.text_rows.size() << ", " << text_rows << ", " << slots
         << ", " << mask << ", " << literal("src/schemas/" + g.entry) << "};\n";
}

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
    Emitter emit(out);
    for (size_t i = 0; i < grammars.size(); ++i) {
        // Appended, not "g" + to_string(i): g++ 12 -O3 warns falsely (-Wrestrict) on that form.
        std::string prefix = "g";
        emit.grammar(grammars[i], prefix += std::to_string(i));
    }
    out << "\n}  // namespace\n\nconst SchemaTable* const kGrammars[] = {\n";
    for (size_t i = 0; i < grammars.size(); ++i) out << "    &g" << i << "_table,\n";
    out << "};\nconst int kGrammarCount = " << grammars.size() << ";\n\n}  // namespace tarvo\n";
    return write_if_changed(output, out.str()) ? 0 : 1;
}
