// The public entry points: each parse has a report of its own, which its
// parse loop fills and which becomes the call's Result.
#include <string>
#include <string_view>

#include "diag/report.h"
#include "reader/document_parser.h"
#include "schema/schema_table.h"
#include "tarvo/tarvo.h"

#ifndef TARVO_VERSION
#define TARVO_VERSION "0.0.0"
#endif

namespace tarvo {

bool Handler::start_tag(int, std::string_view, std::span<const Attribute>) { return true; }
bool Handler::text(int, std::string_view, std::string_view) { return true; }
bool Handler::end_tag(int, std::string_view) { return true; }
std::string Handler::failure() const { return "handler failed"; }

std::span<const SchemaTable* const> grammars() { return {kGrammars, static_cast<size_t>(kGrammarCount)}; }

std::string_view grammar_name(const SchemaTable& grammar) { return grammar.name; }

std::string_view element_name(const SchemaTable& grammar, int element) {
    const ElementRule& e = grammar.elements[element];
    return {e.name, e.name_length};
}

int element_count(const SchemaTable& grammar) { return grammar.element_count; }

Result parse_file(const SchemaTable& grammar, const char* path, Handler* handler, const Options& options) {
    ReportBuilder report;
    DocumentParser parser;
    parser.set_handler(handler);
    Status status = parser.parse_file(grammar, path, options, report);
    return report.finish(status);
}

Result parse_file(const SchemaTable& grammar, const char* path, Handler* handler, Flags flags) {
    return parse_file(grammar, path, handler, Options{flags});
}

Result parse_buffer(const SchemaTable& grammar, std::string_view data, std::string_view name, Handler* handler,
                    const Options& options) {
    ReportBuilder report;
    DocumentParser parser;
    parser.set_handler(handler);
    Status status = parser.parse_buffer(grammar, data, std::string(name), options, report);
    return report.finish(status);
}

Result parse_buffer(const SchemaTable& grammar, std::string_view data, std::string_view name, Handler* handler,
                    Flags flags) {
    return parse_buffer(grammar, data, name, handler, Options{flags});
}

Result parse_source(const SchemaTable& grammar, const DocumentSource& read, std::string_view name, Handler* handler,
                    const Options& options) {
    ReportBuilder report;
    DocumentParser parser;
    parser.set_handler(handler);
    Status status = parser.parse_source(grammar, read, std::string(name).c_str(), options, report);
    return report.finish(status);
}

Result parse_source(const SchemaTable& grammar, const DocumentSource& read, std::string_view name, Handler* handler,
                    Flags flags) {
    return parse_source(grammar, read, name, handler, Options{flags});
}

Result unreadable_result(std::string_view name, int os_error) {
    ReportBuilder report;
    return report.finish(report_unreadable(report, std::string(name).c_str(), os_error));
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

const char* version() { return TARVO_VERSION; }

}  // namespace tarvo
