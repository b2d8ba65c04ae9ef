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

bool report_handler_error(const std::string& message) {
    Reporter* r = current_reporter();
    if (!r) return false;
    r->add_error(message);
    return true;
}

const char* version() { return TARVO_VERSION; }

}  // namespace tarvo
