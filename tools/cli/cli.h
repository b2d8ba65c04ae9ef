// The pieces the `tarvo` commands share: the command table's entry type,
// exit statuses, option values, the parse flags, grammar lookup, standard
// input and the output streams.
#pragma once

#include <CLI/CLI.hpp>

#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "tarvo/tarvo.h"

namespace tarvo::cli {

constexpr int kExitValid = 0;
constexpr int kExitInvalid = 1;
constexpr int kExitUsage = 2;
constexpr int kExitUnreadable = 3;
constexpr int kExitOutputFailed = 4;

// What a command does once its options are parsed; returns the exit status.
using Runner = std::function<int()>;

// One subcommand. `declare` adds the command's options to `app` (bound to an
// options struct that the returned runner owns), so one declaration feeds
// both parsing and --help.
struct Command {
    const char* name;
    const char* summary;
    Runner (*declare)(CLI::App& app);
};

Runner declare_check(CLI::App& app);
Runner declare_events(CLI::App& app);
Runner declare_grammars(CLI::App& app);
Runner declare_grammar(CLI::App& app);
Runner declare_export(CLI::App& app);
Runner declare_import_dtd(CLI::App& app);

// A usage error found after parsing (a missing operand, options that do not
// go together); reported like a parsing error.
struct UsageError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// Makes `option` refuse every value but `values`, with a one-line message
// that lists them; its help shows them as A|B|C.
CLI::Option* one_of(CLI::Option* option, std::vector<std::string> values);

// -A, -U and -E, the tolerances of every command that parses.
void add_parse_flags(CLI::App& app, tarvo::Flags& flags);

// The grammar called `name`; an unknown name is reported with the list of
// known ones and the returned pointer is null.
const tarvo::SchemaTable* find_grammar_or_report(const std::string& name);

// The GRAMMAR operand, or a grammar file given with --grammar-file (or a
// DTD with --dtd) instead.
struct GrammarOperand {
    std::string name, file, dtd;

    // Adds the GRAMMAR positional (first of the command's operands) and --grammar-file.
    void declare(CLI::App& app);
    // With --grammar-file no GRAMMAR is written, so what was taken for it is
    // the first of the operands after it: puts it back in front of `rest`.
    void shift_into(std::vector<std::string>& rest);
    // The grammar, or null after reporting why (unknown name, or the file's
    // "file:line: reason" messages). Throws UsageError when neither is given.
    std::shared_ptr<const tarvo::SchemaTable> resolve() const;
};

// What standard input is called in messages and reports.
inline constexpr char kStdinName[] = "<stdin>";

// All of standard input, or the error number of a failed read.
struct StdinData {
    std::string bytes;
    int error = 0;
};
StdinData read_stdin();

// The outcome of a document that could not be read: status unreadable and
// the message of a file that cannot be opened, "Could not open file NAME
// for reading", with the system's error number (0 for none).
tarvo::Result unreadable(const std::string& name, int os_error);

// "tarvo: DTD: checked more loosely than the DTD at PLACE" on standard
// error for each place an imported DTD's grammar is looser.
void report_loosened(const std::string& dtd, const std::vector<std::string>& loosened);

// Where this program was started from (argv[0]), for the files installed
// beside it; then the directory of the grammar files installed with it, or
// empty when there is none (a build tree).
void set_program_path(const char* argv0);
std::string installed_grammars_dir();

// "grammars HASH (N built in)": a hash of the built-in grammars' tables as
// described, so that two programs with the same line check the same way.
std::string grammar_set_version();

// Writes the manual page or the completions of one shell (`what`: man,
// bash, zsh, fish) for `app` with its commands declared; the exit status.
int generate(CLI::App& app, std::string_view what);

// Standard output and error. A write that fails is remembered, so the command
// runs to its end and then exits with kExitOutputFailed and the reason.
void write_out(std::string_view text);
void write_err(std::string_view text);
// A message and a line break on standard error, the message's control
// bytes escaped: it may quote a path or a name that came from outside.
void report_error(std::string_view message);
// A grammar file's problems, one line each.
void report_errors(const tarvo::GrammarError& e);
// Writes pending standard output, so that what follows on standard error
// comes after it.
void flush_out();

}  // namespace tarvo::cli
