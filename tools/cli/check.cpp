// tarvo check: check documents against a grammar and report each outcome.
//
// The operands are first turned into the list of documents (standard input,
// files, the *.xml files under directories), so that a usage error stops the
// run before anything is checked. The documents are then checked on -j
// threads; each one's output is made whole in memory and printed in list
// order, so the output does not depend on the number of threads.
#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include <sys/stat.h>

#include "cli.h"
#include "json.h"

namespace tarvo::cli {

namespace {

namespace fs = std::filesystem;

// What standard input is called in messages and reports.
const char kStdinName[] = "<stdin>";

const char kCheckFooter[] =
    "Formats:\n"
    "  text  warnings on standard output, errors on standard error (the default)\n"
    "  gcc   one line per message on standard output: FILE:LINE:COLUMN: error: TEXT, or warning:,\n"
    "        with ' (expected: A, B)' where known; a line break in TEXT becomes a space; a file\n"
    "        that cannot be opened gives FILE: error: TEXT\n"
    "  json  one object per document and line on standard output: path, valid, status (valid,\n"
    "        invalid, unreadable), code, diagnostics (severity, kind, line, column, element,\n"
    "        attribute, expected, message, os_error when there is one)\n"
    "\n"
    "FILE '-' is standard input, called <stdin> in messages. A directory needs -r; its *.xml files\n"
    "are checked in the order of their paths, byte by byte. Without -q, more than one FILE ends with\n"
    "'N files: V valid, I invalid, U unreadable' on standard error.\n"
    "\n"
    "Exit status:\n"
    "  0  every document is valid\n"
    "  1  some document is invalid\n"
    "  2  usage error or unknown grammar\n"
    "  3  some file could not be read, and no document is invalid\n"
    "  4  the output could not be written";

enum class Format { text, gcc, json };

struct CheckOptions {
    tarvo::Flags flags = tarvo::Flags::strict;
    bool stream = false;
    bool recursive = false;
    bool quiet = false;
    unsigned jobs = 0;  // 0: not given, one per core
    Format format = Format::text;
    GrammarOperand grammar;
    std::vector<std::string> files;
};

enum class Outcome { valid, invalid, unreadable };

const char* outcome_name(Outcome o) {
    return o == Outcome::valid ? "valid" : o == Outcome::invalid ? "invalid" : "unreadable";
}

Outcome outcome_of(const tarvo::Result& r) {
    if (r.ok()) return Outcome::valid;
    return r.status == tarvo::Status::unreadable ? Outcome::unreadable : Outcome::invalid;
}

// What checking one document prints: `out` goes to standard output; in the
// text format the warnings go there and the errors to standard error.
struct Report {
    std::string out;
    // The text format prints the Result's own texts, which are not copied.
    tarvo::Result text;
    Outcome outcome = Outcome::valid;
};

void append_line(std::string& to, std::string_view text) {
    if (text.empty()) return;
    to += text;
    to += '\n';
}

// A valid document's errors (refusals of elements skipped under -E) are not
// part of its outcome, as a caller of the module never sees them; every
// format leaves them out alike.
bool shown(const tarvo::Result& r, const tarvo::Diagnostic& d) {
    return d.severity == tarvo::Severity::warning || !r.ok();
}

// NAME:LINE:COLUMN: error: TEXT (expected: A, B), one line per message: a
// line break inside a message becomes a space. A message about no position
// (a file that could not be opened) is NAME: error: TEXT.
void append_gcc(std::string& out, std::string_view name, const tarvo::Result& r) {
    for (const tarvo::Diagnostic& d : r.diagnostics()) {
        if (!shown(r, d)) continue;
        out += name;
        if (d.line > 0) out += ':' + std::to_string(d.line) + ':' + std::to_string(d.column);
        out += d.severity == tarvo::Severity::warning ? ": warning: " : ": error: ";
        for (char c : d.message) out += c == '\n' || c == '\r' ? ' ' : c;
        if (!d.expected.empty()) {
            out += " (expected: ";
            for (size_t i = 0; i < d.expected.size(); ++i) {
                if (i) out += ", ";
                out += d.expected[i];
            }
            out += ')';
        }
        out += '\n';
    }
}

void append_json_name(std::string& out, std::string_view name) {
    if (name.empty())
        out += "null";
    else
        append_json_string(out, name);
}

// One object on one line: the document, its outcome and its records.
// `document` numbers the documents of a stream; 0 for a file.
void append_json(std::string& out, std::string_view name, long document, const tarvo::Result& r) {
    Outcome outcome = outcome_of(r);
    out += "{\"path\":";
    append_json_string(out, name);
    if (document > 0) out += ",\"document\":" + std::to_string(document);
    out += ",\"valid\":";
    out += outcome == Outcome::valid ? "true" : "false";
    out += ",\"status\":\"";
    out += outcome_name(outcome);
    out += "\",\"code\":" + std::to_string(static_cast<int>(r.status)) + ",\"diagnostics\":[";
    bool first = true;
    for (const tarvo::Diagnostic& d : r.diagnostics()) {
        if (!shown(r, d)) continue;
        out += first ? "{" : ",{";
        first = false;
        out += d.severity == tarvo::Severity::warning ? "\"severity\":\"warning\"" : "\"severity\":\"error\"";
        out += ",\"kind\":\"";
        out += tarvo::kind_name(d.kind);
        out += "\",\"line\":" + std::to_string(d.line) + ",\"column\":" + std::to_string(d.column);
        out += ",\"element\":";
        append_json_name(out, d.element);
        out += ",\"attribute\":";
        append_json_name(out, d.attribute);
        out += ",\"expected\":" + json_list(d.expected) + ",\"message\":";
        append_json_string(out, d.message);
        if (d.os_error) out += ",\"os_error\":" + std::to_string(d.os_error);
        out += '}';
    }
    out += "]}\n";
}

Report make_report(Format format, std::string_view name, tarvo::Result r) {
    Report rep;
    rep.outcome = outcome_of(r);
    switch (format) {
    case Format::text: rep.text = std::move(r); break;
    case Format::gcc: append_gcc(rep.out, name, r); break;
    case Format::json: append_json(rep.out, name, 0, r); break;
    }
    return rep;
}

// One document to check: a path, or standard input.
struct Target {
    std::string path;
    bool is_stdin = false;
};

// Every *.xml file under `dir`, and every directory under it that cannot
// be listed (its check then reports it unreadable, so nothing is passed over
// in silence). Links to directories are not followed: no cycles.
void collect(const fs::path& dir, std::vector<std::string>& found) {
    std::error_code ec;
    fs::directory_iterator it(dir, ec), end;
    for (; !ec && it != end; it.increment(ec)) {
        std::error_code type_ec;
        if (it->is_directory(type_ec) && !it->is_symlink(type_ec))
            collect(it->path(), found);
        else if (it->path().extension() == ".xml")
            found.push_back(it->path().string());
    }
    if (ec) found.push_back(dir.string());
}

// stat() rather than std::filesystem: no path is split for each FILE.
bool is_directory(const std::string& path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::vector<Target> list_targets(const CheckOptions& o) {
    std::vector<Target> targets;
    for (const std::string& file : o.files) {
        if (file == "-") {
            targets.push_back({kStdinName, true});
        } else if (!is_directory(file)) {
            targets.push_back({file});  // a missing file is reported by its check
        } else if (!o.recursive) {
            throw UsageError("'" + file + "' is a directory; -r checks the *.xml files under it");
        } else {
            std::vector<std::string> found;
            collect(file, found);
            std::sort(found.begin(), found.end());
            for (std::string& path : found) targets.push_back({std::move(path)});
        }
    }
    return targets;
}

// All of standard input, or the error number of a failed read.
struct StdinData {
    std::string bytes;
    int error = 0;
};

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

Report check_one(const CheckOptions& o, const tarvo::SchemaTable& grammar, const Target& t, const StdinData& in) {
    if (!t.is_stdin) return make_report(o.format, t.path, tarvo::parse_file(grammar, t.path.c_str(), nullptr, o.flags));
    if (!in.error) return make_report(o.format, t.path, tarvo::parse_buffer(grammar, in.bytes, t.path, nullptr, o.flags));
    // Standard input failed as a file that cannot be read fails.
    return make_report(o.format, t.path, tarvo::unreadable_result(t.path, in.error));
}

void print_report(const CheckOptions& o, const Report& rep) {
    if (o.quiet) return;
    if (o.format != Format::text) return write_out(rep.out);
    auto line = [](void (*write)(std::string_view), std::string_view text) {
        if (text.empty()) return;
        write(text);
        write("\n");
    };
    line(write_out, rep.text.warnings());
    flush_out();  // a document's warnings before its errors, as they were found
    if (!rep.text.ok()) line(write_err, rep.text.errors());
}

// Checks every target, printing each report in list order as soon as it and
// all before it are done. Returns the reports' outcomes.
std::vector<Outcome> check_all(const CheckOptions& o, const tarvo::SchemaTable& grammar,
                               const std::vector<Target>& targets, const StdinData& in) {
    std::vector<Outcome> outcomes(targets.size());
    unsigned jobs = o.jobs ? o.jobs : std::max(1u, std::thread::hardware_concurrency());
    jobs = static_cast<unsigned>(std::min<size_t>(jobs, targets.size()));
    if (jobs <= 1) {
        for (size_t i = 0; i < targets.size(); ++i) {
            Report rep = check_one(o, grammar, targets[i], in);
            print_report(o, rep);
            outcomes[i] = rep.outcome;
        }
        return outcomes;
    }
    // Parses share nothing but the immutable grammar, so each thread (this
    // one too) takes the next target and files its report; whoever files
    // one prints every report that is then next in order, so no thread
    // waits for another.
    std::vector<std::unique_ptr<Report>> reports(targets.size());
    std::mutex mutex;
    size_t printed = 0;
    std::atomic<size_t> next{0};
    auto work = [&] {
        for (size_t i; (i = next.fetch_add(1)) < targets.size();) {
            auto rep = std::make_unique<Report>(check_one(o, grammar, targets[i], in));
            std::lock_guard<std::mutex> lock(mutex);
            reports[i] = std::move(rep);
            for (; printed < targets.size() && reports[printed]; ++printed) {
                print_report(o, *reports[printed]);
                outcomes[printed] = reports[printed]->outcome;
                reports[printed].reset();
            }
        }
    };
    std::vector<std::thread> workers;
    for (unsigned j = 1; j < jobs; ++j) workers.emplace_back(work);
    work();
    for (std::thread& t : workers) t.join();
    return outcomes;
}

// Documents back to back: the outcome of each, up to the first that fails.
int run_stream_check(const CheckOptions& o, const tarvo::SchemaTable& grammar) {
    const std::string& name = o.files.empty() ? std::string("-") : o.files[0];
    const std::string shown_name = name == "-" ? std::string(kStdinName) : name;
    std::FILE* in = name == "-" ? stdin : std::fopen(name.c_str(), "rb");
    if (!in) {
        std::fprintf(stderr, "tarvo: cannot open %s for reading\n", name.c_str());
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
    for (long n = 1;; ++n) {
        tarvo::Result r = reader.read(grammar, nullptr, o.flags);
        if (read_error) {
            flush_out();
            std::fprintf(stderr, "tarvo: cannot read %s: %s\n", name.c_str(), std::strerror(read_error));
            exit_code = kExitUnreadable;
            break;
        }
        std::string out;
        switch (o.format) {
        case Format::text:
            append_line(out, r.warnings());
            out += "document " + std::to_string(n) + (r.ok() ? ": valid\n" : ": invalid\n");
            break;
        case Format::gcc: append_gcc(out, shown_name, r); break;
        case Format::json: append_json(out, shown_name, n, r); break;
        }
        write_out(out);
        flush_out();
        if (!r.ok()) {
            if (o.format == Format::text) {
                std::string err;
                append_line(err, r.errors());
                write_err(err);
            }
            exit_code = kExitInvalid;
            break;
        }
        if (reader.at_end()) break;
    }
    if (in != stdin) std::fclose(in);
    return exit_code;
}

int run_check(CheckOptions& o) {
    o.grammar.shift_into(o.files);
    if (o.stream && (o.recursive || o.jobs || o.quiet))
        throw UsageError("--stream reads one source in order: -r, -j and -q do not apply");
    std::shared_ptr<const tarvo::SchemaTable> grammar = o.grammar.resolve();
    if (!grammar) return kExitUsage;
    if (o.stream) {
        if (o.files.size() > 1) throw UsageError("--stream reads one FILE or standard input");
        if (!o.files.empty() && o.files[0] != "-" && is_directory(o.files[0]))
            throw UsageError("'" + o.files[0] + "' is a directory");
        return run_stream_check(o, *grammar);
    }
    if (o.files.empty()) throw UsageError("missing FILE");
    std::vector<Target> targets = list_targets(o);
    StdinData in;
    if (std::any_of(targets.begin(), targets.end(), [](const Target& t) { return t.is_stdin; })) in = read_stdin();
    std::vector<Outcome> outcomes = check_all(o, *grammar, targets, in);

    size_t counts[3] = {0, 0, 0};
    for (Outcome x : outcomes) ++counts[static_cast<int>(x)];
    size_t valid = counts[0], invalid = counts[1], unreadable = counts[2];
    if (o.quiet ? valid != outcomes.size() : outcomes.size() > 1) {
        flush_out();
        write_err(std::to_string(outcomes.size()) + (outcomes.size() == 1 ? " file: " : " files: ") +
                  std::to_string(valid) + " valid, " + std::to_string(invalid) + " invalid, " +
                  std::to_string(unreadable) + " unreadable\n");
    }
    return invalid ? kExitInvalid : unreadable ? kExitUnreadable : kExitValid;
}

}  // namespace

Runner declare_check(CLI::App& app) {
    auto o = std::make_shared<CheckOptions>();
    app.footer(kCheckFooter);
    add_parse_flags(app, o->flags);
    app.add_option("--format", o->format, "How to report each document (see below)")
        ->transform(CLI::CheckedTransformer(
            std::map<std::string, Format>{{"text", Format::text}, {"gcc", Format::gcc}, {"json", Format::json}}))
        ->option_text("text|gcc|json");
    app.add_flag("-r,--recursive", o->recursive, "Check every *.xml file under each directory FILE");
    app.add_option("-j,--jobs", o->jobs, "Check on N threads (default: one per core); the output is the same for every N")
        ->check(CLI::Range(1u, 1024u))
        ->option_text("N");
    app.add_flag("-q,--quiet", o->quiet, "Print nothing but the summary line, and that only when not all are valid");
    app.add_flag("--stream", o->stream,
                 "FILE (default: standard input) holds documents sent back to back without XML declaration; "
                 "check each until one fails");
    o->grammar.declare(app);
    app.add_option("FILE", o->files, "Documents to check; '-' is standard input");
    return [o] { return run_check(*o); };
}

}  // namespace tarvo::cli
