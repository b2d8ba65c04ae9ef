#include "formats.h"

#include <iterator>
#include <span>
#include <string>

namespace tarvo::cli {

namespace {

// The problem codes a record can carry, in the order the help and the
// SARIF rules list them.
struct Code {
    const char* id;
    const char* description;
};
constexpr Code kCodes[] = {
    {"unknown-element", "The grammar has no element of that name."},
    {"misplaced-element", "The element may not stand here."},
    {"missing-element", "An element that must come here is missing."},
    {"unknown-attribute", "The element does not declare the attribute."},
    {"missing-attribute", "A mandatory attribute is not given."},
    {"invalid-value", "The value is not one of the attribute's allowed values."},
    {"text-not-allowed", "Character data may not stand here."},
    {"syntax", "The text is not in the accepted form."},
    {"unreadable", "The document could not be read."},
    {"callback-failed", "A callback of the caller failed."},
    {"no-grammar", "No grammar could be chosen for the document."},
};

// Calls f(problem, note) for each problem shown, `note` its note record or
// null. A note with no problem before it is a problem of its own.
template <class F>
void for_each_problem(const tarvo::Result& r, F f) {
    std::span<const tarvo::Diagnostic> ds = r.diagnostics();
    for (size_t i = 0; i < ds.size(); ++i) {
        if (!shown(r, ds[i])) continue;
        bool has_note = !ds[i].note && i + 1 < ds.size() && ds[i + 1].note && shown(r, ds[i + 1]);
        f(ds[i], has_note ? &ds[i + 1] : nullptr);
        if (has_note) ++i;
    }
}

const char* severity_name(const tarvo::Diagnostic& d) {
    return d.severity == tarvo::Severity::warning ? "warning" : "error";
}

// TEXT (expected: A, B); did you mean 'X'? with `put` writing each piece
// that comes from outside, the format's own punctuation raw.
template <class Put>
void write_message(Writer& w, const tarvo::Diagnostic& d, Put put) {
    put(d.message);
    if (!d.expected.empty()) {
        w.raw(" (expected: ");
        for (size_t i = 0; i < d.expected.size(); ++i) {
            if (i) w.raw(", ");
            put(d.expected[i]);
        }
        w.raw(")");
    }
    if (!d.suggestion.empty()) {
        w.raw("; did you mean '");
        put(d.suggestion);
        w.raw("'?");
    }
}

// Where the token starts: compilers' tools read FILE:LINE:COLUMN and no
// more, so the end stays out of this format.
std::string position(const tarvo::Diagnostic& d) {
    return ':' + std::to_string(d.line) + ':' + std::to_string(d.column);
}

// A record's span as JSON members: "line":L,"column":C,"end_line":..,"end_column":..
std::string json_span(const tarvo::Diagnostic& d) {
    return "\"line\":" + std::to_string(d.line) + ",\"column\":" + std::to_string(d.column) + ",\"end_line\":" +
           std::to_string(d.end_line) + ",\"end_column\":" + std::to_string(d.end_column);
}

// Whether a record's suggestion comes with a fix: replacing the span by
// it makes the document right there. An attribute's name or value is one
// token; an element's name stands in its end tag too, which the reader
// skipped, so its suggestion stays a suggestion.
bool has_fix(const tarvo::Diagnostic& d) {
    return !d.suggestion.empty() && d.line > 0 &&
           (d.kind == tarvo::DiagnosticKind::unknown_attribute || d.kind == tarvo::DiagnosticKind::wrong_attribute_value);
}

std::string sarif_region(const tarvo::Diagnostic& d) {
    return "{\"startLine\":" + std::to_string(d.line) + ",\"startColumn\":" + std::to_string(d.column) +
           ",\"endLine\":" + std::to_string(d.end_line) + ",\"endColumn\":" + std::to_string(d.end_column) + "}";
}

// A file name as a URI reference: every byte but the unreserved ones and
// '/' percent-encoded, so that no name reads as a scheme or holds a byte a
// URI may not.
void write_uri(Writer& w, std::string_view name) {
    static const char kHex[] = "0123456789ABCDEF";
    std::string piece;
    for (char c : name) {
        unsigned char u = static_cast<unsigned char>(c);
        bool plain = (u >= 'a' && u <= 'z') || (u >= 'A' && u <= 'Z') || (u >= '0' && u <= '9') ||
                     c == '-' || c == '.' || c == '_' || c == '~' || c == '/';
        if (plain) {
            piece += c;
        } else {
            piece += '%';
            piece += kHex[u >> 4];
            piece += kHex[u & 15];
        }
        if (piece.size() >= 4096) w.raw(piece), piece.clear();
    }
    w.raw(piece);
}

// The record's names as JSON members after a first one: the element, the
// attribute, the parent, the path (when `path`), the allowed and the
// closest allowed names or values.
void write_names(Writer& w, const tarvo::Diagnostic& d, bool path) {
    w.raw(",\"element\":").json_or_null(d.element);
    w.raw(",\"attribute\":").json_or_null(d.attribute);
    w.raw(",\"parent\":").json_or_null(d.parent);
    if (path) w.raw(",\"path\":").json_or_null(d.path);
    w.raw(",\"expected\":").json_list(d.expected);
    w.raw(",\"suggestion\":").json_or_null(d.suggestion);
}

void write_physical_location(Writer& w, std::string_view name, const tarvo::Diagnostic& d) {
    w.raw("{\"artifactLocation\":{\"uri\":\"");
    write_uri(w, name);
    w.raw("\"}");
    if (d.line > 0) w.raw(",\"region\":" + sarif_region(d));
    w.raw("}");
}

void write_sarif_result(Writer& w, std::string_view name, long document, const tarvo::Diagnostic& d,
                        const tarvo::Diagnostic* note) {
    w.raw("{");
    if (!d.code.empty()) {
        w.raw("\"ruleId\":").json(d.code);
        for (size_t i = 0; i < std::size(kCodes); ++i)
            if (d.code == kCodes[i].id) w.raw(",\"ruleIndex\":" + std::to_string(i));
        w.raw(",");
    }
    w.raw("\"level\":\"").raw(severity_name(d)).raw("\",\"message\":{\"text\":\"");
    write_message(w, d, [&w](std::string_view s) { w.json_chars(s); });
    w.raw("\"},\"locations\":[{\"physicalLocation\":");
    write_physical_location(w, name, d);
    if (!d.path.empty())
        w.raw(",\"logicalLocations\":[{\"fullyQualifiedName\":").json(d.path).raw(",\"kind\":\"element\"}]");
    w.raw("}]");
    if (note) {
        w.raw(",\"relatedLocations\":[{\"id\":1,\"physicalLocation\":");
        write_physical_location(w, name, *note);
        w.raw(",\"message\":{\"text\":").json(note->message).raw("}}]");
    }
    if (has_fix(d)) {
        w.raw(",\"fixes\":[{\"description\":{\"text\":\"Replace with '");
        w.json_chars(d.suggestion);
        w.raw("'\"},\"artifactChanges\":[{\"artifactLocation\":{\"uri\":\"");
        write_uri(w, name);
        w.raw("\"},\"replacements\":[{\"deletedRegion\":" + sarif_region(d) + ",\"insertedContent\":{\"text\":");
        w.json(d.suggestion).raw("}}]}]}]");
    }
    w.raw(",\"properties\":{\"kind\":\"").raw(tarvo::kind_name(d.kind)).raw("\"");
    if (document > 0) w.raw(",\"document\":" + std::to_string(document));
    write_names(w, d, false);
    if (d.os_error) w.raw(",\"os_error\":" + std::to_string(d.os_error));
    w.raw("}}");
}

}  // namespace

Outcome outcome_of(const tarvo::Result& r) {
    if (r.ok()) return Outcome::valid;
    if (r.status != tarvo::Status::unreadable) return Outcome::invalid;
    const auto ds = r.diagnostics();
    return !ds.empty() && ds[0].code == "no-grammar" ? Outcome::no_grammar : Outcome::unreadable;
}

bool shown(const tarvo::Result& r, const tarvo::Diagnostic& d) {
    return d.severity == tarvo::Severity::warning || !r.ok();
}

void write_text(Writer& w, const tarvo::Result& r, tarvo::Severity severity) {
    if ((severity == tarvo::Severity::warning ? r.warnings() : r.errors()).empty()) return;
    for (const tarvo::Diagnostic& d : r.diagnostics())
        if (d.severity == severity) w.text(d.message).raw("\n");
}

// A line break inside a message becomes a space; a message about no
// position (a file that could not be opened) is NAME: error: TEXT.
void write_gcc(Writer& w, std::string_view name, const tarvo::Result& r) {
    auto put = [&w](std::string_view s) { w.text(s, Breaks::space); };
    for_each_problem(r, [&](const tarvo::Diagnostic& d, const tarvo::Diagnostic* note) {
        w.text(name);
        if (d.line > 0) w.raw(position(d));
        w.raw(": ").raw(severity_name(d)).raw(": ");
        write_message(w, d, put);
        if (!d.code.empty()) w.raw(" [").text(d.code).raw("]");
        w.raw("\n");
        if (!note) return;
        w.text(name);
        if (note->line > 0) w.raw(position(*note));
        w.raw(": note: ");
        put(note->message);
        w.raw("\n");
    });
}

void write_json(Writer& w, std::string_view name, long document, const tarvo::Result& r) {
    static const char* const kOutcomes[] = {"valid", "invalid", "unreadable", "no-grammar"};
    Outcome outcome = outcome_of(r);
    w.raw("{\"path\":").json(name);
    if (document > 0) w.raw(",\"document\":" + std::to_string(document));
    w.raw(",\"valid\":").raw(outcome == Outcome::valid ? "true" : "false");
    w.raw(",\"status\":\"").raw(kOutcomes[static_cast<int>(outcome)]);
    w.raw("\",\"code\":" + std::to_string(static_cast<int>(r.status)) + ",\"diagnostics\":[");
    bool first = true;
    for_each_problem(r, [&](const tarvo::Diagnostic& d, const tarvo::Diagnostic* note) {
        w.raw(first ? "{\"severity\":\"" : ",{\"severity\":\"").raw(severity_name(d));
        first = false;
        w.raw("\",\"kind\":\"").raw(tarvo::kind_name(d.kind));
        w.raw("\",\"code\":").json_or_null(d.code);
        w.raw("," + json_span(d));
        write_names(w, d, true);
        w.raw(",\"fix\":");
        if (has_fix(d))
            w.raw("{\"range\":{" + json_span(d) + "},\"text\":").json(d.suggestion).raw("}");
        else
            w.raw("null");
        w.raw(",\"message\":").json(d.message);
        if (d.os_error) w.raw(",\"os_error\":" + std::to_string(d.os_error));
        w.raw(",\"note\":");
        if (note)
            w.raw("{" + json_span(*note) + ",\"message\":").json(note->message).raw("}");
        else
            w.raw("null");
        w.raw("}");
    });
    w.raw("]}\n");
}

// The note is the message's second line; a problem about no position has
// neither line nor col. The end column is the token's last (GitHub counts
// both ends in), left out for an empty token.
void write_github(Writer& w, std::string_view name, const tarvo::Result& r) {
    for_each_problem(r, [&](const tarvo::Diagnostic& d, const tarvo::Diagnostic* note) {
        w.raw("::").raw(severity_name(d)).raw(" file=").workflow(name, true);
        if (d.line > 0) {
            w.raw(",line=" + std::to_string(d.line) + ",col=" + std::to_string(d.column));
            if (d.end_line > d.line || d.end_column > d.column)
                w.raw(",endLine=" + std::to_string(d.end_line) + ",endColumn=" + std::to_string(d.end_column - 1));
        }
        if (!d.code.empty()) w.raw(",title=").workflow(d.code, true);
        w.raw("::");
        write_message(w, d, [&w](std::string_view s) { w.workflow(s, false); });
        if (note) w.raw("%0A").workflow(note->message, false);
        w.raw("\n");
    });
}

void sarif_begin(Writer& w) {
    w.raw("{\"version\":\"2.1.0\",\"runs\":[{\"tool\":{\"driver\":{\"name\":\"tarvo\",\"version\":")
        .json(tarvo::version())
        .raw(",\"rules\":[");
    for (size_t i = 0; i < std::size(kCodes); ++i) {
        w.raw(i ? ",{\"id\":\"" : "{\"id\":\"").raw(kCodes[i].id);
        w.raw("\",\"shortDescription\":{\"text\":\"").raw(kCodes[i].description).raw("\"}}");
    }
    w.raw("]}},\"results\":[");
}

void write_sarif(Writer& w, std::string_view name, long document, const tarvo::Result& r, bool& first) {
    for_each_problem(r, [&](const tarvo::Diagnostic& d, const tarvo::Diagnostic* note) {
        w.raw(first ? "\n" : ",\n");
        first = false;
        write_sarif_result(w, name, document, d, note);
    });
}

void sarif_end(Writer& w) { w.raw("\n]}]}\n"); }

}  // namespace tarvo::cli
