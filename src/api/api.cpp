// The public entry points: a parse owns its texts and its Reporter, which
// is registered for the calling thread while the parse runs.
#include <string_view>

#include "diag/reporter.h"
#include "reader/document_parser.h"
#include "schema/schema_table.h"
#include "session.h"
#include "tarvo/tarvo.h"

#ifndef TARVO_VERSION
#define TARVO_VERSION "0.0.0"
#endif

namespace tarvo {

void Handler::start_tag(int, std::string_view, std::span<const Attribute>) {}
void Handler::text(int, std::string_view, std::string_view) {}
void Handler::end_tag(int, std::string_view) {}
void Handler::before_wait() {}
void Handler::after_wait() {}

std::span<const SchemaTable* const> grammars() { return {kGrammars, static_cast<size_t>(kGrammarCount)}; }

std::string_view grammar_name(const SchemaTable& grammar) { return grammar.name; }

std::string_view element_name(const SchemaTable& grammar, int element) {
    const ElementRule& e = grammar.elements[element];
    return {e.name, e.name_length};
}

int element_count(const SchemaTable& grammar) { return grammar.element_count; }

Result parse_file(const SchemaTable& grammar, const char* path, Handler* handler, int flags) {
    ParseSession session;
    DocumentParser parser;
    parser.set_handler(handler);
    return session.finish(parser.parse_file(grammar, path, flags));
}

Result parse_buffer(const SchemaTable& grammar, std::string_view data, std::string_view name, Handler* handler,
                    int flags) {
    ParseSession session;
    DocumentParser parser;
    parser.set_handler(handler);
    return session.finish(parser.parse_buffer(grammar, data, std::string(name), flags));
}

bool report_handler_error(const std::string& message) {
    Reporter* r = current_reporter();
    if (!r) return false;
    Details details;
    details.kind = DiagnosticKind::handler_failed;
    r->add_error(message, details);
    return true;
}

std::string_view kind_name(DiagnosticKind kind) {
    switch (kind) {
    case DiagnosticKind::syntax: return "syntax";
    case DiagnosticKind::unknown_element: return "unknown_element";
    case DiagnosticKind::misplaced_element: return "misplaced_element";
    case DiagnosticKind::unknown_attribute: return "unknown_attribute";
    case DiagnosticKind::wrong_attribute_value: return "wrong_attribute_value";
    case DiagnosticKind::missing_attribute: return "missing_attribute";
    case DiagnosticKind::text_not_allowed: return "text_not_allowed";
    case DiagnosticKind::input_output: return "input_output";
    case DiagnosticKind::handler_failed: return "handler_failed";
    }
    return "syntax";
}

namespace {

// `view` moved with its text from `from` to `to`.
void rebase_view(std::string_view& view, const char* from, const std::string& to) {
    move_view(view, from, to.size(), to.data());
}

}  // namespace

void Result::rebase(const char* from_warnings, const char* from_errors) {
    if (from_warnings == warnings.data() && from_errors == errors.data()) return;
    for (std::string_view& m : warning_messages) rebase_view(m, from_warnings, warnings);
    for (std::string_view& m : error_messages) rebase_view(m, from_errors, errors);
    // A record's names may be views into either text.
    for (Diagnostic& d : diagnostics)
        for (std::string_view* v : {&d.message, &d.element, &d.attribute}) {
            rebase_view(*v, from_warnings, warnings);
            rebase_view(*v, from_errors, errors);
        }
}

Result::Result(const Result& other) { *this = other; }

Result::Result(Result&& other) noexcept { *this = std::move(other); }

Result& Result::operator=(const Result& other) {
    if (this == &other) return *this;
    status = other.status;
    warnings = other.warnings;
    errors = other.errors;
    warning_messages = other.warning_messages;
    error_messages = other.error_messages;
    diagnostics = other.diagnostics;
    names_ = other.names_;
    rebase(other.warnings.data(), other.errors.data());
    return *this;
}

Result& Result::operator=(Result&& other) noexcept {
    if (this == &other) return *this;
    const char* from_warnings = other.warnings.data();
    const char* from_errors = other.errors.data();
    status = other.status;
    warnings = std::move(other.warnings);
    errors = std::move(other.errors);
    warning_messages = std::move(other.warning_messages);
    error_messages = std::move(other.error_messages);
    diagnostics = std::move(other.diagnostics);
    names_ = std::move(other.names_);
    rebase(from_warnings, from_errors);
    return *this;
}

const char* version() { return TARVO_VERSION; }

}  // namespace tarvo
