// tarvo grammars: the grammars with the sizes of their tables, the DOCTYPE
// SYSTEM name of their documents and where their grammar files lie.
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <system_error>

#include "cli.h"

namespace tarvo::cli {

namespace {

namespace fs = std::filesystem;

fs::path g_program;

// The file of a built-in grammar installed beside the program, else where
// the build took it from (relative to the source tree).
std::string grammar_file_shown(const std::string& recorded) {
    const std::string dir = installed_grammars_dir();
    if (dir.empty() || recorded.empty()) return recorded;
    std::error_code ec;
    fs::path installed = fs::path(dir) / fs::path(recorded).filename();
    return fs::is_regular_file(installed, ec) ? installed.string() : recorded;
}

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
        row(g.name, c, g.system_name, grammar_file_shown(g.grammar_file), g.source_name);
        total.add(c);
    }
    row("total", total, "", "", "");
    write_out("\nDocuments name their grammar in the DOCTYPE with the SYSTEM name shown; tarvo\n"
              "skips the DOCTYPE, and 'tarvo export GRAMMAR --format dtd' writes that DTD for\n"
              "other tools. The recorded source name is what each grammar was compiled from\n"
              "before it came to tarvo; no file of that name is part of tarvo.\n");
    if (!installed_grammars_dir().empty())
        write_out("The grammar files listed are the ones installed with this program.\n");
    return kExitValid;
}

}  // namespace

void set_program_path(const char* argv0) {
    std::error_code ec;
    // The kernel's record first: argv[0] may be a bare name found on PATH.
    fs::path self = fs::read_symlink("/proc/self/exe", ec);
    if (ec && argv0 && std::string_view(argv0).find('/') != std::string_view::npos) self = fs::absolute(argv0, ec);
    if (!ec) g_program = self;
}

std::string installed_grammars_dir() {
    if (g_program.empty()) return {};
    std::error_code ec;
    fs::path dir = (g_program.parent_path() / TARVO_GRAMMARS_FROM_BIN).lexically_normal();
    return fs::is_directory(dir, ec) ? dir.string() : std::string();
}

std::string grammar_set_version() {
    // FNV-1a, 64 bits, over each grammar's JSON description: names, rows,
    // attributes, defaults and value lists, all that decides a verdict.
    uint64_t hash = 0xcbf29ce484222325ull;
    auto add = [&hash](std::string_view bytes) {
        for (unsigned char c : bytes) hash = (hash ^ c) * 0x100000001b3ull;
    };
    for (const tarvo::SchemaTable* t : tarvo::grammars()) {
        add(describe_json(grammar_info(*t)));
        add(std::string_view("\0", 1));
    }
    char text[64];
    std::snprintf(text, sizeof text, "grammars %016llx (%zu built in)", static_cast<unsigned long long>(hash),
                  tarvo::grammars().size());
    return text;
}

Runner declare_grammars(CLI::App& app) {
    app.footer("Exit status:\n"
               "  0  the list was written\n"
               "  2  usage error\n"
               "  4  the output could not be written");
    return run_grammars;
}

}  // namespace tarvo::cli
