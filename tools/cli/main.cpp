// tarvo: check documents against a grammar from the shell, built in or
// loaded from a grammar file.
//
// Each command is one entry of kCommands: its name, summary and a function
// that declares its options, its help footer with the exit statuses that
// apply to it, and returns what runs it. Adding a command is adding an entry
// and its declare function.
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "cli.h"
#include "output.h"

namespace tarvo::cli {

namespace {

const Command kCommands[] = {
    {"check", "Check each FILE against GRAMMAR", declare_check},
    {"events", "Print the events of one parse as JSON Lines, then its outcome", declare_events},
    {"grammars", "List the built-in grammars: table sizes, DOCTYPE SYSTEM name, grammar file", declare_grammars},
    {"grammar", "Describe a grammar or one ELEMENT: content, text places, attributes (text, JSON, Graphviz)",
     declare_grammar},
    {"export", "Write a grammar as a RELAX NG schema or a DTD; stderr names every place it accepts more",
     declare_export},
    {"import-dtd", "Write a DTD as a grammar file; stderr names every place it checks more loosely than the DTD",
     declare_import_dtd},
};

const char kExitStatuses[] =
    "Exit status:\n"
    "  0  success; for check and events: every document is valid\n"
    "  1  check, events: some document is invalid\n"
    "  2  usage error, unknown grammar, or a grammar file that cannot be loaded\n"
    "  3  check, events: some file could not be read, and no document is invalid\n"
    "  4  the output could not be written\n"
    "'tarvo COMMAND --help' lists the statuses of COMMAND.";

int g_write_errno = 0;

int usage_error(const CLI::App& app, const std::string& message) {
    std::string path = app.get_name();
    for (const CLI::App* sub : app.get_subcommands()) path += " " + sub->get_name();
    report_error("tarvo: " + message);
    std::fprintf(stderr, "Run '%s --help' for usage.\n", path.c_str());
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

void report_error(std::string_view message) { write_err(escape_controls(message) + "\n"); }

void report_errors(const tarvo::GrammarError& e) {
    for (const std::string& m : e.messages()) report_error(m);
}

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
    flag("-X,--xml", tarvo::Flags::xml,
         "Read XML 1.0: comments, processing instructions, CDATA, character references, a DOCTYPE, XML names");
}

const tarvo::SchemaTable* find_grammar_or_report(const std::string& name) {
    if (const tarvo::SchemaTable* g = tarvo::find_grammar(name)) return g;
    std::string known;
    for (const tarvo::SchemaTable* g : tarvo::grammars()) known += "\n  " + std::string(tarvo::grammar_name(*g));
    write_err(escape_controls("tarvo: unknown grammar '" + name + "'; known grammars:") + known + "\n");
    return nullptr;
}

CLI::Option* one_of(CLI::Option* option, std::vector<std::string> values) {
    std::string list, names;
    for (const std::string& v : values) {
        list += (list.empty() ? "" : ", ") + v;
        names += (names.empty() ? "" : "|") + v;
    }
    auto check = [values, list](const std::string& value) -> std::string {
        if (std::find(values.begin(), values.end(), value) != values.end()) return {};
        return "'" + value + "' is not one of " + list;
    };
    return option->check(CLI::Validator(check, "", ""))->type_name(names);
}

StdinData read_stdin() {
    StdinData d;
    char buf[65536];
    errno = 0;
    for (;;) {
        size_t n = std::fread(buf, 1, sizeof buf, stdin);
        d.bytes.append(buf, n);
        if (n < sizeof buf) break;
    }
    if (std::ferror(stdin)) d.error = errno ? errno : EIO;
    return d;
}

tarvo::Result unreadable(const std::string& name, int os_error) {
    const std::string message = "Could not open file " + name + " for reading";
    tarvo::Diagnostic d;
    d.kind = tarvo::DiagnosticKind::input_output;
    d.message = message;
    d.os_error = os_error;
    return tarvo::Result(tarvo::Status::unreadable, {&d, 1});
}

}  // namespace tarvo::cli

int main(int argc, char** argv) {
    using namespace tarvo::cli;
    CLI::App app("tarvo: a validating XML reader; grammars are built in or loaded with --grammar-file", "tarvo");
    app.footer(kExitStatuses);
    // The first line as it always was; then the library actually loaded
    // (a shared one may be of another build) and the built-in grammars,
    // whose hash is worked out only when asked for.
    app.set_version_flag(
        "--version",
        std::function<std::string()>([] {
            return std::string("tarvo ") + TARVO_CLI_VERSION + "\nlibrary " + tarvo::version() + "\n" +
                   grammar_set_version();
        }),
        "Print the version, the library's and the built-in grammars' and exit");
    app.require_subcommand(1);
    std::vector<std::pair<CLI::App*, Runner>> runners;
    for (const Command& c : kCommands) {
        CLI::App* sub = app.add_subcommand(c.name, c.summary);
        runners.emplace_back(sub, c.declare(*sub));
    }
    set_program_path(argv[0]);
    // Hidden: what the build runs to write the manual page and completions.
    if (argc == 3 && std::string_view(argv[1]) == "--generate") return finish(generate(app, argv[2]));
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
