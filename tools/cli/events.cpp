// tarvo events: the events of one parse as JSON Lines, then its outcome.
#include <memory>
#include <string>
#include <vector>

#include "choose.h"
#include "cli.h"
#include "output.h"

namespace tarvo::cli {

namespace {

const char kEventsFooter[] =
    "Every string is valid UTF-8 and escapes each control character (C0, DEL, C1).\n"
    "FILE '-' is standard input, called <stdin> in messages.\n"
    "\n"
    "With -a or --internal-dtd, FILE's grammar is chosen as 'tarvo check' chooses each FILE's (see\n"
    "'tarvo check --help'). When none can be, the outcome line alone is printed, its error\n"
    "'No grammar found for FILE: REASON'.\n"
    "\n"
    "Exit status:\n"
    "  0  the document is valid\n"
    "  1  the document is invalid\n"
    "  2  usage error, unknown grammar, or a grammar file that cannot be loaded\n"
    "  3  the file could not be read, or had no grammar (-a, --internal-dtd)\n"
    "  4  the output could not be written";

struct EventsOptions {
    tarvo::Flags flags = tarvo::Flags::strict;
    bool auto_grammar = false;
    bool internal_dtd = false;
    GrammarOperand grammar;
    std::string file;
};

// Each event is one line; a long name, value or text is written in pieces
// as it is escaped, so no line is held whole.
class JsonEvents : public tarvo::Handler {
public:
    bool start_tag(int, std::string_view name, std::span<const tarvo::Attribute> attrs) override {
        out_.raw("{\"event\":\"start\",\"name\":").json(name).raw(",\"attributes\":{");
        for (size_t i = 0; i < attrs.size(); ++i) out_.raw(i ? "," : "").json(attrs[i].name).raw(":").json(attrs[i].value);
        return line_end("}}\n");
    }
    bool text(int, std::string_view element, std::string_view text) override {
        out_.raw("{\"event\":\"text\",\"name\":").json(element).raw(",\"text\":").json(text);
        return line_end("}\n");
    }
    bool end_tag(int, std::string_view name) override {
        out_.raw("{\"event\":\"end\",\"name\":").json(name);
        return line_end("}\n");
    }

    // The outcome line: validity, status and every message.
    void outcome(const tarvo::Result& r) {
        out_.raw("{\"event\":\"outcome\",\"valid\":").raw(r.ok() ? "true" : "false");
        out_.raw(",\"status\":" + std::to_string(static_cast<int>(r.status)) + ",\"warnings\":");
        out_.json_list(r.warning_messages()).raw(",\"errors\":").json_list(r.error_messages());
        line_end("}\n");
    }

private:
    // Each line is handed on whole as it ends, so a reader of the output
    // (a terminal, a pipe) gets every event as soon as it is made.
    bool line_end(const char* tail) {
        out_.raw(tail).flush();
        return true;
    }

    Writer out_{write_out};
};

int run_events(EventsOptions& o) {
    std::vector<std::string> operands;
    if (!o.file.empty()) operands.push_back(o.file);
    o.grammar.shift_into(operands);
    GrammarChooser chooser(o.auto_grammar, o.internal_dtd, o.grammar, operands);
    if (operands.empty()) throw UsageError("FILE is required");
    if (chooser.per_document() && operands.size() > 1) throw UsageError("unexpected '" + operands[1] + "'");
    o.file = operands[0];
    if (!chooser.resolve(o.grammar)) return kExitUsage;
    if (o.internal_dtd) o.flags = o.flags | tarvo::Flags::xml;
    JsonEvents events;
    tarvo::Result r;
    StdinData in;
    if (o.file == "-") in = read_stdin();
    if (in.error) {
        r = unreadable(kStdinName, in.error);
    } else if (chooser.per_document()) {
        r = chooser.parse(o.file == "-" ? tarvo::Source::bytes(in.bytes, kStdinName) : tarvo::Source::file(o.file),
                          &events, tarvo::Options{o.flags});
    } else {
        r = o.file == "-" ? tarvo::parse_buffer(chooser.given(), in.bytes, kStdinName, &events, o.flags)
                          : tarvo::parse_file(chooser.given(), o.file.c_str(), &events, o.flags);
    }
    events.outcome(r);
    return r.ok() ? kExitValid : r.status == tarvo::Status::unreadable ? kExitUnreadable : kExitInvalid;
}

}  // namespace

Runner declare_events(CLI::App& app) {
    auto o = std::make_shared<EventsOptions>();
    app.footer(kEventsFooter);
    add_parse_flags(app, o->flags);
    app.add_flag("-a,--auto", o->auto_grammar,
                 "Read FILE against the grammar its DOCTYPE's SYSTEM name or its root element names (as 'tarvo "
                 "check -a' chooses it); no GRAMMAR is written then");
    app.add_flag("--internal-dtd", o->internal_dtd,
                 "Read FILE against the DTD its DOCTYPE's internal subset declares, when it declares elements; "
                 "implies -X");
    o->grammar.declare(app);
    app.add_option("FILE", o->file, "The document to read; '-' is standard input");
    return [o] { return run_events(*o); };
}

}  // namespace tarvo::cli
