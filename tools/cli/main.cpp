// tarvo: check documents against the built-in grammars from the shell.
//
// Each command is one entry of kCommands: its name, summary and a function
// that declares its options and returns what runs it. Adding a command is
// adding an entry and its declare function.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "cli.h"

namespace tarvo::cli {

namespace {

const Command kCommands[] = {
    {"check", "Check each FILE against GRAMMAR", declare_check},
    {"events", "Print the events of one parse as JSON Lines, then its outcome", declare_events},
    {"grammars", "List the grammars: table sizes, DOCTYPE SYSTEM name, grammar file", declare_grammars},
    {"grammar", "Describe a grammar or one ELEMENT: content, text places, attributes (text, JSON, Graphviz)",
     declare_grammar},
    {"export", "Write a grammar as a RELAX NG schema or a DTD; stderr names every place it accepts more",
     declare_export},
    {"import-dtd", "Write a DTD as a grammar file; stderr names every place it checks more loosely than the DTD",
     declare_import_dtd},
};

const char kExitStatuses[] =
    "Exit status:\n"
    "  0  every document is valid\n"
    "  1  some document is invalid\n"
    "  2  usage error or unknown grammar\n"
    "  4  the output could not be written";

int g_write_errno = 0;

int usage_error(const CLI::App& app, const std::string& message) {
    std::string path = app.get_name();
    for (const CLI::App* sub : app.get_subcommands()) path += " " + sub->get_name();
    std::fprintf(stderr, "tarvo: %s\nRun '%s --help' for usage.\n", message.c_str(), path.c_str());
    return kExitUsage;
}

// The exit status once the command is done: a failed write of its output
// overrides what the command found.
int finish(int status) {
    if (std::fflush(stdout) != 0 && g_write_errno == 0) g_write_errno = errno ? errno : EIO;
    if (g_write_errno == 0) return status;
    std::fprintf(stderr, "tarvo: cannot write the output: %s\n", std::strerror(g_write_errno));
    return kExitOutputFailed;
}

}  // namespace

void write_out(std::string_view text) {
    if (text.empty()) return;
    errno = 0;
    if (std::fwrite(text.data(), 1, text.size(), stdout) != text.size() && g_write_errno == 0)
        g_write_errno = errno ? errno : EIO;
}

void write_err(std::string_view text) { std::fwrite(text.data(), 1, text.size(), stderr); }

void flush_out() {
    errno = 0;
    if (std::fflush(stdout) != 0 && g_write_errno == 0) g_write_errno = errno ? errno : EIO;
}

void add_parse_flags(CLI::App& app, tarvo::Flags& flags) {
    auto flag = [&](const char* names, tarvo::Flags bit, const char* help) {
        app.add_flag_callback(names, [&flags, bit] { flags = flags | bit; }, help);
    };
    flag("-A,--ignore-wrong-attributes", tarvo::Flags::ignore_wrong_attributes,
         "A value outside its allowed list becomes the default (warning)");
    flag("-U,--ignore-unknown-attributes", tarvo::Flags::ignore_unknown_attributes,
         "An undeclared attribute is kept (warning)");
    flag("-E,--ignore-wrong-elements", tarvo::Flags::ignore_wrong_elements, "A misplaced element is skipped whole (warning)");
}

const tarvo::SchemaTable* find_grammar_or_report(const std::string& name) {
    if (const tarvo::SchemaTable* g = tarvo::find_grammar(name)) return g;
    std::string known;
    for (const tarvo::SchemaTable* g : tarvo::grammars()) known += "\n  " + std::string(tarvo::grammar_name(*g));
    std::fprintf(stderr, "tarvo: unknown grammar '%s'; known grammars:%s\n", name.c_str(), known.c_str());
    return nullptr;
}

}  // namespace tarvo::cli

int main(int argc, char** argv) {
    using namespace tarvo::cli;
    CLI::App app("tarvo: a validating XML reader over built-in grammars", "tarvo");
    app.footer(kExitStatuses);
    app.set_version_flag("--version", std::string("tarvo ") + tarvo::version(), "Print the version and exit");
    app.require_subcommand(1);
    std::vector<std::pair<CLI::App*, Runner>> runners;
    for (const Command& c : kCommands) {
        CLI::App* sub = app.add_subcommand(c.name, c.summary);
        sub->footer(kExitStatuses);
        runners.emplace_back(sub, c.declare(*sub));
    }
    if (argc >= 2 && argv[1][0] != '-') {
        std::string_view first = argv[1];
        if (argc == 2 && first == "help") {
            write_out(app.help());
            return finish(kExitValid);
        }
        bool known = false;
        for (const Command& c : kCommands) known = known || first == c.name;
        if (!known) return usage_error(app, "unknown command '" + std::string(first) + "'");
    }
    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForVersion& e) {
        write_out(std::string(e.what()) + "\n");
        return finish(kExitValid);
    } catch (const CLI::Success&) {  // --help
        write_out(app.help());
        return finish(kExitValid);
    } catch (const CLI::ParseError& e) {
        return usage_error(app, e.what());
    }
    for (auto& [sub, run] : runners) {
        if (!sub->parsed()) continue;
        try {
            return finish(run());
        } catch (const UsageError& e) {
            return usage_error(app, e.what());
        }
    }
    return usage_error(app, "missing command");
}
