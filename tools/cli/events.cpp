// tarvo events: the events of one parse as JSON Lines, then its outcome.
#include <memory>
#include <string>

#include "cli.h"
#include "json.h"

namespace tarvo::cli {

namespace {

struct EventsOptions {
    tarvo::Flags flags = tarvo::Flags::strict;
    GrammarOperand grammar;
    std::string file;
};

class JsonEvents : public tarvo::Handler {
public:
    bool start_tag(int, std::string_view name, std::span<const tarvo::Attribute> attrs) override {
        line_ = "{\"event\":\"start\",\"name\":";
        put_string(name);
        line_ += ",\"attributes\":{";
        for (size_t i = 0; i < attrs.size(); ++i) {
            if (i) line_ += ',';
            put_string(attrs[i].name);
            line_ += ':';
            put_string(attrs[i].value);
        }
        emit("}}");
        return true;
    }
    bool text(int, std::string_view element, std::string_view text) override {
        line_ = "{\"event\":\"text\",\"name\":";
        put_string(element);
        line_ += ",\"text\":";
        put_string(text);
        emit("}");
        return true;
    }
    bool end_tag(int, std::string_view name) override {
        line_ = "{\"event\":\"end\",\"name\":";
        put_string(name);
        emit("}");
        return true;
    }

    // The outcome line: validity, status and every message.
    void outcome(const tarvo::Result& r) {
        line_ = "{\"event\":\"outcome\",\"valid\":";
        line_ += r.ok() ? "true" : "false";
        line_ += ",\"status\":" + std::to_string(static_cast<int>(r.status)) + ",\"warnings\":";
        put_list(r.warning_messages());
        line_ += ",\"errors\":";
        put_list(r.error_messages());
        emit("}");
    }

private:
    void put_list(std::span<const std::string_view> items) {
        line_ += '[';
        for (size_t i = 0; i < items.size(); ++i) {
            if (i) line_ += ',';
            put_string(items[i]);
        }
        line_ += ']';
    }
    // A long string goes out in pieces, so that the line never holds a
    // second copy of all of it.
    void put_string(std::string_view s) {
        constexpr size_t kPiece = 1 << 16;
        line_ += '"';
        while (s.size() > kPiece) {
            size_t end = json_piece_end(s, kPiece);
            append_json_chars(line_, s.substr(0, end));
            write_out(line_);
            line_.clear();
            s.remove_prefix(end);
        }
        append_json_chars(line_, s);
        line_ += '"';
    }
    void emit(const char* tail) {
        line_ += tail;
        line_ += '\n';
        write_out(line_);
    }
    std::string line_;
};

int run_events(EventsOptions& o) {
    std::vector<std::string> operands;
    if (!o.file.empty()) operands.push_back(o.file);
    o.grammar.shift_into(operands);
    if (operands.empty()) throw UsageError("FILE is required");
    o.file = operands[0];
    std::shared_ptr<const tarvo::SchemaTable> grammar = o.grammar.resolve();
    if (!grammar) return kExitUsage;
    JsonEvents events;
    tarvo::Result r = tarvo::parse_file(*grammar, o.file.c_str(), &events, o.flags);
    events.outcome(r);
    return r.ok() ? kExitValid : kExitInvalid;
}

}  // namespace

Runner declare_events(CLI::App& app) {
    auto o = std::make_shared<EventsOptions>();
    add_parse_flags(app, o->flags);
    o->grammar.declare(app);
    app.add_option("FILE", o->file, "The document to read");
    return [o] { return run_events(*o); };
}

}  // namespace tarvo::cli
