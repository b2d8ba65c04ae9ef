// tarvo grammars: the grammars with the sizes of their tables, the DOCTYPE
// SYSTEM name of their documents and where their grammar files lie.
#include <cstdio>
#include <string>

#include "cli.h"

namespace tarvo::cli {

namespace {

struct Counts {
    long elements = 0, rows = 0, text_rows = 0, attributes = 0, mandatory = 0, empty_default = 0, listed = 0;
    void add(const Counts& c) {
        elements += c.elements;
        rows += c.rows;
        text_rows += c.text_rows;
        attributes += c.attributes;
        mandatory += c.mandatory;
        empty_default += c.empty_default;
        listed += c.listed;
    }
};

template <class... Args>
void print(const char* format, Args... args) {
    int n = std::snprintf(nullptr, 0, format, args...);
    std::string line(static_cast<size_t>(n) + 1, '\0');
    std::snprintf(line.data(), line.size(), format, args...);
    line.pop_back();
    write_out(line);
}

const char kRow[] = "%-30s %8ld %6ld %5ld %10ld %9ld %6ld %6ld  %-34s %-54s %s\n";

void row(const std::string& name, const Counts& c, const std::string& system, const std::string& file,
         const std::string& source) {
    print(kRow, name.c_str(), c.elements, c.rows, c.text_rows, c.attributes, c.mandatory, c.empty_default, c.listed,
          system.c_str(), file.c_str(), source.c_str());
}

int run_grammars() {
    print("%-30s %8s %6s %5s %10s %9s %6s %6s  %-34s %-54s %s\n", "grammar", "elements", "rows", "text",
          "attributes", "mandatory", "empty", "listed", "DOCTYPE SYSTEM name", "grammar file", "recorded source name");
    Counts total;
    for (const tarvo::SchemaTable* t : tarvo::all_grammars()) {
        tarvo::GrammarInfo g = tarvo::grammar_info(*t);
        Counts c;
        c.elements = static_cast<long>(g.elements.size());
        c.text_rows = static_cast<long>(g.text_rows.size());
        for (const tarvo::ElementInfo& e : g.elements) {
            c.rows += static_cast<long>(e.rows.size());
            c.attributes += static_cast<long>(e.attributes.size());
            for (const tarvo::AttributeInfo& a : e.attributes) {
                c.mandatory += a.required;
                c.empty_default += !a.required && a.default_value.empty();
                c.listed += !a.values.empty();
            }
        }
        row(g.name, c, g.system_name, g.grammar_file, g.source_name);
        total.add(c);
    }
    row("total", total, "", "", "");
    write_out("\nDocuments name their grammar in the DOCTYPE with the SYSTEM name shown; tarvo\n"
              "skips the DOCTYPE, and 'tarvo export GRAMMAR --format dtd' writes that DTD for\n"
              "other tools. The recorded source name is what each grammar was compiled from\n"
              "before it came to tarvo; no file of that name is part of tarvo.\n");
    return kExitValid;
}

}  // namespace

Runner declare_grammars(CLI::App& app) {
    app.footer("Exit status:\n"
               "  0  the list was written\n"
               "  2  usage error\n"
               "  4  the output could not be written");
    return run_grammars;
}

}  // namespace tarvo::cli
