// tarvo check: check documents against a grammar and report each outcome.
//
// The operands are first turned into the list of documents (standard input,
// files, the *.xml files under directories), so that a usage error stops the
// run before anything is checked. The documents are then checked on -j
// threads; each one's Result is kept until all before it are printed, then
// printed in list order, so the output does not depend on the number of
// threads. A report is written in pieces from the texts the Result holds,
// never made whole in memory.
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "choose.h"
#include "cli.h"
#include "formats.h"
#include "jobs.h"
#include "output.h"

namespace tarvo::cli {

namespace {

const char kCheckFooter[] =
    "Formats:\n"
    "  text    warnings on standard output, errors on standard error (the default)\n"
    "  gcc     one line per problem on standard output: FILE:LINE:COLUMN: error: TEXT [code], or\n"
    "          warning:, with ' (expected: A, B)' and \"; did you mean 'X'?\" where known, then\n"
    "          FILE:LINE:COLUMN: note: TEXT for the reader's line on where it happened; a line\n"
    "          break in TEXT becomes a space; a file that cannot be opened gives FILE: error: TEXT\n"
    "  json    one object per document and line on standard output: path, valid, status (valid,\n"
    "          invalid, unreadable, no-grammar), code, diagnostics, one per problem (severity,\n"
    "          kind, code, line, column, element, attribute, parent, path, expected, suggestion,\n"
    "          message, os_error when there is one, note: line, column and message, or null)\n"
    "  sarif   one SARIF 2.1.0 log for the whole run on standard output: one rule per code, one\n"
    "          result per problem, its note as a related location, the closest allowed name or\n"
    "          value in the message and in the result's properties\n"
    "  github  one workflow command per problem: ::error file=F,line=L,col=C,title=CODE::TEXT, or\n"
    "          ::warning, the note as the message's second line\n"
    "\n"
    "Codes: unknown-element, misplaced-element, missing-element, unknown-attribute,\n"
    "missing-attribute, invalid-value, text-not-allowed, syntax, unreadable, callback-failed,\n"
    "no-grammar.\n"
    "\n"
    "With -a, each FILE's grammar is the one whose SYSTEM name (see 'tarvo grammars') its DOCTYPE\n"
    "names, as written or as the last segment of a path or URI, or else the one grammar that has\n"
    "its root element as a root. Only the head of the file, up to its first element's name, is read\n"
    "for that. With --internal-dtd, a DOCTYPE whose internal subset declares elements is the grammar\n"
    "(read in XML mode); other files take the GRAMMAR given, or under -a their own. A FILE whose\n"
    "grammar cannot be chosen is reported with code no-grammar (status no-grammar in json) and\n"
    "counted in the summary line, which then ends ', G without grammar'.\n"
    "\n"
    "Every format writes each control byte of a file name or message (C0, DEL, C1) as \\xHH, json\n"
    "as a \\u escape, so that none starts a line or acts on the terminal; text keeps one message a\n"
    "line.\n"
    "\n"
    "FILE '-' is standard input, called <stdin> in messages. A directory needs -r; its *.xml files\n"
    "are checked in the order of their paths, byte by byte; a FIFO, socket or device among them is\n"
    "not opened but reported unreadable. Without -q, more than one FILE ends with\n"
    "'N files: V valid, I invalid, U unreadable' on standard error; with -q, that line comes when\n"
    "some FILE is not valid, after the names of those.\n"
    "\n"
    "Exit status:\n"
    "  0  every document is valid\n"
    "  1  some document is invalid, or has a warning under --werror\n"
    "  2  usage error, unknown grammar, or a grammar file that cannot be loaded\n"
    "  3  some file could not be read, or had no grammar (-a, --internal-dtd), and no document is invalid\n"
    "  4  the output could not be written";

struct CheckOptions {
    tarvo::Options parse;  // flags, the error limit, paths for the formats that show them

    bool stream = false;
    bool recursive = false;
    bool quiet = false;
    bool werror = false;
    bool auto_grammar = false;
    bool internal_dtd = false;
    unsigned jobs = 0;  // 0: not given, one per core
    Format format = Format::text;
    GrammarOperand grammar;
    std::vector<std::string> files;
};

// What a printed report leaves for the exit status.
struct Tally {
    Outcome outcome = Outcome::valid;
    bool warned = false;
};

// Writes each report in its turn. In the text format a document's
// warnings go to standard output, its errors to standard error; a SARIF log
// holds the results of the whole run, so it opens before the first report
// and closes after the last. Under -q only the name of each document that
// is not valid is printed.
class Printer {
public:
    Printer(Format format, bool quiet) : format_(format), quiet_(quiet) {
        if (format_ == Format::sarif && !quiet_) {
            Writer out(write_out);
            sarif_begin(out);
        }
    }
    ~Printer() {
        if (format_ == Format::sarif && !quiet_) {
            Writer out(write_out);
            sarif_end(out);
        }
    }
    Printer(const Printer&) = delete;
    Printer& operator=(const Printer&) = delete;

    // `document` numbers the documents of a stream; 0 for a file.
    Tally print(std::string_view name, long document, const tarvo::Result& r) {
        const auto ds = r.diagnostics();
        Tally tally{outcome_of(r), std::any_of(ds.begin(), ds.end(), [](const tarvo::Diagnostic& d) {
                        return d.severity == tarvo::Severity::warning;
                    })};
        if (quiet_) {
            if (tally.outcome != Outcome::valid) Writer(write_out).text(name).raw("\n");
            return tally;
        }
        {
            Writer out(write_out);
            switch (format_) {
            case Format::text:
                write_text(out, r, tarvo::Severity::warning);
                if (document > 0) out.raw("document " + std::to_string(document) + (r.ok() ? ": valid\n" : ": invalid\n"));
                break;
            case Format::gcc: write_gcc(out, name, r); break;
            case Format::json: write_json(out, name, document, r); break;
            case Format::sarif: write_sarif(out, name, document, r, first_); break;
            case Format::github: write_github(out, name, r); break;
            }
        }
        // A document's warnings before its errors, as they were found; each
        // document of a stream as soon as it is read.
        if (format_ == Format::text || document > 0) flush_out();
        if (format_ == Format::text && !r.ok()) {
            Writer err(write_err);
            write_text(err, r, tarvo::Severity::error);
        }
        return tally;
    }

private:
    Format format_;
    bool quiet_;
    bool first_ = true;  // no SARIF result written yet
};

// Checks every document, printing each report in list order as soon as it
// and all before it are done. Returns what each report leaves.
std::vector<Tally> check_all(const CheckOptions& o, const GrammarChooser& grammar,
                             const std::vector<tarvo::Source>& documents) {
    std::vector<Tally> outcomes(documents.size());
    Printer printer(o.format, o.quiet);
    auto print = [&](size_t i, const tarvo::Result& r) { outcomes[i] = printer.print(documents[i].name(), 0, r); };
    if (grammar.per_document())
        tarvo::each_in_order(
            documents.size(), o.jobs, [&](size_t i) { return grammar.check(documents[i], o.parse); }, print);
    else
        tarvo::validate_each(grammar.given(), documents, o.jobs, o.parse, print);
    return outcomes;
}

// Documents back to back: the outcome of each, up to the first that fails.
int run_stream_check(const CheckOptions& o, const tarvo::SchemaTable& grammar) {
    const std::string& name = o.files.empty() ? std::string("-") : o.files[0];
    const std::string shown_name = name == "-" ? std::string(kStdinName) : name;
    std::FILE* in = name == "-" ? stdin : std::fopen(name.c_str(), "rb");
    if (!in) {
        report_error("tarvo: cannot open " + name + " for reading");
        return kExitUnreadable;
    }
    // A failed read (a closed standard input) is not the end of the
    // documents: say so instead of judging what was read.
    int read_error = 0;
    tarvo::StreamReader reader([in, &read_error](char* buf, size_t cap) {
        size_t n = std::fread(buf, 1, cap, in);
        if (n == 0 && std::ferror(in)) read_error = errno;
        return n;
    });
    int exit_code = kExitValid;
    bool warned = false;
    Printer printer(o.format, false);
    for (long n = 1;; ++n) {
        tarvo::Result r = reader.read(grammar, nullptr, o.parse);
        if (read_error) {
            flush_out();
            report_error("tarvo: cannot read " + name + ": " + std::strerror(read_error));
            exit_code = kExitUnreadable;
            break;
        }
        warned |= printer.print(shown_name, n, r).warned;
        if (!r.ok()) {
            exit_code = kExitInvalid;
            break;
        }
        if (reader.at_end()) break;
    }
    if (in != stdin) std::fclose(in);
    return exit_code == kExitValid && o.werror && warned ? kExitInvalid : exit_code;
}

int run_check(CheckOptions& o) {
    o.grammar.shift_into(o.files);
    if (o.stream && (o.recursive || o.jobs || o.quiet))
        throw UsageError("--stream reads one source in order: -r, -j and -q do not apply");
    if (o.stream && (o.auto_grammar || o.internal_dtd))
        throw UsageError("--stream reads documents without a head: -a and --internal-dtd do not apply");
    GrammarChooser grammar(o.auto_grammar, o.internal_dtd, o.grammar, o.files);
    if (!grammar.resolve(o.grammar)) return kExitUsage;
    if (o.internal_dtd) o.parse.flags = o.parse.flags | tarvo::Flags::xml;
    if (o.stream) {
        if (o.files.size() > 1) throw UsageError("--stream reads one FILE or standard input");
        if (!o.files.empty() && o.files[0] != "-" && is_directory(o.files[0]))
            throw UsageError("'" + o.files[0] + "' is a directory");
        if (shows_paths(o.format)) o.parse.paths = true;
        return run_stream_check(o, grammar.given());
    }
    if (o.files.empty()) throw UsageError("missing FILE");
    StdinData in;
    std::vector<tarvo::Source> documents = list_documents(o.files, o.recursive, o.jobs, in);
    if (shows_paths(o.format)) o.parse.paths = true;
    std::vector<Tally> outcomes = check_all(o, grammar, documents);

    size_t counts[4] = {0, 0, 0, 0};
    bool warned = false;
    for (const Tally& x : outcomes) {
        ++counts[static_cast<int>(x.outcome)];
        warned |= x.warned;
    }
    size_t valid = counts[0], invalid = counts[1], unreadable = counts[2], no_grammar = counts[3];
    if (o.quiet ? valid != outcomes.size() : outcomes.size() > 1) {
        flush_out();
        write_err(std::to_string(outcomes.size()) + (outcomes.size() == 1 ? " file: " : " files: ") +
                  std::to_string(valid) + " valid, " + std::to_string(invalid) + " invalid, " +
                  std::to_string(unreadable) + " unreadable" +
                  (grammar.per_document() ? ", " + std::to_string(no_grammar) + " without grammar\n" : "\n"));
    }
    return invalid || (o.werror && warned) ? kExitInvalid : unreadable || no_grammar ? kExitUnreadable : kExitValid;
}

}  // namespace

Runner declare_check(CLI::App& app) {
    auto o = std::make_shared<CheckOptions>();
    app.footer(kCheckFooter);
    add_parse_flags(app, o->parse.flags);
    o->parse.max_errors = 20;
    app.add_option("--max-errors", o->parse.max_errors,
                   "Report up to N validity errors of a document, going on after each as the matching tolerance "
                   "would (default 20; 0: no limit; 1: stop at the first); a syntax error ends the document")
        ->option_text("N");
    auto set_format = [o](const std::string& f) {
        o->format = f == "gcc"      ? Format::gcc
                    : f == "json"   ? Format::json
                    : f == "sarif"  ? Format::sarif
                    : f == "github" ? Format::github
                                    : Format::text;
    };
    one_of(app.add_option_function<std::string>("--format", set_format, "How to report each document (see below)"),
           {"text", "gcc", "json", "sarif", "github"});
    app.add_flag("--werror", o->werror, "Exit with status 1 when a document has a warning");
    app.add_flag("-r,--recursive", o->recursive, "Check every *.xml file under each directory FILE");
    app.add_option("-j,--jobs", o->jobs, "Check on N threads (default: one per core); the output is the same for every N")
        ->check(CLI::Range(1u, 1024u))
        ->option_text("N");
    app.add_flag("-q,--quiet", o->quiet,
                 "Print only the name of each document that is not valid, one a line, and the summary line when "
                 "there is one");
    app.add_flag("--stream", o->stream,
                 "FILE (default: standard input) holds documents sent back to back without XML declaration; "
                 "check each until one fails");
    app.add_flag("-a,--auto", o->auto_grammar,
                 "Check each FILE against the grammar its DOCTYPE's SYSTEM name or its root element names (see "
                 "below); no GRAMMAR is written then");
    app.add_flag("--internal-dtd", o->internal_dtd,
                 "Check each FILE whose DOCTYPE's internal subset declares elements against that DTD; implies -X");
    o->grammar.declare(app);
    app.add_option("FILE", o->files, "Documents to check; '-' is standard input");
    return [o] { return run_check(*o); };
}

}  // namespace tarvo::cli
