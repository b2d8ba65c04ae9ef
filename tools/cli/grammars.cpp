// tarvo grammars: the built-in grammars with the sizes of their tables.
#include <cstdio>
#include <string>

#include "cli.h"
#include "schema/schema_table.h"

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

void row(const char* name, const char* source, const Counts& c) {
    print("%-30s %-40s %8ld %6ld %5ld %10ld %9ld %6ld %6ld\n", name, source, c.elements, c.rows, c.text_rows,
          c.attributes, c.mandatory, c.empty_default, c.listed);
}

int run_grammars() {
    print("%-30s %-40s %8s %6s %5s %10s %9s %6s %6s\n", "grammar", "source", "elements", "rows", "text",
          "attributes", "mandatory", "empty", "listed");
    Counts total;
    for (const tarvo::SchemaTable* g : tarvo::grammars()) {
        Counts c;
        c.elements = g->element_count;
        c.text_rows = g->text_row_count;
        for (int32_t e = 0; e < g->element_count; ++e) {
            const tarvo::ElementRule& el = g->elements[e];
            c.rows += el.row_count;
            c.attributes += el.attribute_count;
            for (int32_t a = 0; a < el.attribute_count; ++a) {
                const tarvo::AttributeRule& r = el.attributes[a];
                c.mandatory += r.default_value == nullptr;
                c.empty_default += r.default_value && r.default_length == 0;
                c.listed += r.allowed_count > 0;
            }
        }
        row(g->name, g->source_path, c);
        total.add(c);
    }
    row("total", "", total);
    return kExitValid;
}

}  // namespace

Runner declare_grammars(CLI::App&) { return run_grammars; }

}  // namespace tarvo::cli
