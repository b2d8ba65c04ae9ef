// tarvo check: check documents against a grammar and report each outcome.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "cli.h"

namespace tarvo::cli {

namespace {

struct CheckOptions {
    int flags = PARSE_STRICT;
    bool stream = false;
    GrammarOperand grammar;
    std::vector<std::string> files;
};

void print_text(void (*write)(std::string_view), const std::string& text) {
    if (text.empty()) return;
    write(text);
    write("\n");
}

// Documents back to back: the outcome of each, up to the first that fails.
int run_stream_check(const CheckOptions& o, const tarvo::SchemaTable& grammar) {
    const std::string& name = o.files.empty() ? std::string("-") : o.files[0];
    std::FILE* in = name == "-" ? stdin : std::fopen(name.c_str(), "rb");
    if (!in) {
        std::fprintf(stderr, "tarvo: cannot open %s for reading\n", name.c_str());
        return kExitInvalid;
    }
    // A failed read (a closed standard input, a directory) is not the end
    // of the documents: say so instead of judging what was read.
    int read_error = 0;
    tarvo::StreamReader reader([in, &read_error](char* buf, size_t cap) {
        size_t n = std::fread(buf, 1, cap, in);
        if (n == 0 && std::ferror(in)) read_error = errno;
        return n;
    });
    int exit_code = kExitValid;
    for (int n = 1;; ++n) {
        tarvo::Result r = reader.read(grammar, nullptr, o.flags);
        if (read_error) {
            std::fprintf(stderr, "tarvo: cannot read %s: %s\n", name.c_str(), std::strerror(read_error));
            exit_code = kExitInvalid;
            break;
        }
        print_text(write_out, r.warnings);
        write_out("document " + std::to_string(n) + (r.ok() ? ": valid\n" : ": invalid\n"));
        flush_out();
        if (!r.ok()) {
            print_text(write_err, r.errors);
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
    std::shared_ptr<const tarvo::SchemaTable> grammar = o.grammar.resolve();
    if (!grammar) return kExitUsage;
    if (o.stream) {
        if (o.files.size() > 1) throw UsageError("--stream reads one FILE or standard input");
        return run_stream_check(o, *grammar);
    }
    if (o.files.empty()) throw UsageError("missing FILE");
    int exit_code = kExitValid;
    for (const std::string& file : o.files) {
        tarvo::Result r = tarvo::parse_file(*grammar, file.c_str(), nullptr, o.flags);
        print_text(write_out, r.warnings);
        flush_out();
        // A valid document's refusals (of elements skipped under -E) are not
        // part of its outcome, as a caller of the module never sees them.
        if (!r.ok()) {
            print_text(write_err, r.errors);
            exit_code = kExitInvalid;
        }
    }
    return exit_code;
}

}  // namespace

Runner declare_check(CLI::App& app) {
    auto o = std::make_shared<CheckOptions>();
    add_parse_flags(app, o->flags);
    app.add_flag("--stream", o->stream,
                 "FILE (default: standard input) holds documents sent back to back without XML declaration; "
                 "check each until one fails");
    o->grammar.declare(app);
    app.add_option("FILE", o->files, "Documents to check; warnings go to standard output, errors to standard error");
    return [o] { return run_check(*o); };
}

}  // namespace tarvo::cli
