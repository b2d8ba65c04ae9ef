// Choosing a document's grammar from its head, and the grammar an internal
// subset declares.
#include <algorithm>
#include <cerrno>
#include <cstdio>

#include "detect/reading.h"
#include "grammar/grammar_load.h"
#include "import/dtd_import.h"
#include "reader/open_file.h"
#include "schema/schema_table.h"
#include "tarvo/detect.h"
#include "tarvo/grammar.h"

namespace tarvo {

namespace {

// validate_detected() parses a document up to this size from memory.
constexpr size_t kWholeDocument = size_t(1) << 20;

std::string quoted(std::string_view s) { return std::string("'").append(s).append("'"); }

// The last segment of a path or URI.
std::string_view last_segment(std::string_view s) {
    size_t slash = s.find_last_of("/\\");
    return slash == std::string_view::npos ? s : s.substr(slash + 1);
}

template <class Entry>
std::vector<const SchemaTable*> lookup(const std::vector<Entry>& list, std::string_view key) {
    auto range = std::equal_range(list.begin(), list.end(), Entry{std::string(key), nullptr},
                                  [](const Entry& a, const Entry& b) { return a.key < b.key; });
    std::vector<const SchemaTable*> out;
    for (auto it = range.first; it != range.second; ++it) out.push_back(it->grammar);
    return out;
}

std::string names_of(const std::vector<const SchemaTable*>& grammars) {
    std::string out;
    for (const SchemaTable* g : grammars) out += (out.empty() ? "" : ", ") + std::string(grammar_name(*g));
    return out;
}

}  // namespace

GrammarFinder::GrammarFinder() : GrammarFinder(all_grammars()) {}

GrammarFinder::GrammarFinder(const std::vector<const SchemaTable*>& grammars) {
    // The SYSTEM name and the roots as grammar_info() gives them, read
    // straight from the tables: a run over one small file pays little.
    for (const SchemaTable* t : grammars) {
        systems_.push_back({std::string(t->name) + ".dtd", t});
        for (int32_t e : root_elements(*t))
            roots_.push_back({std::string(t->elements[e].name, t->elements[e].name_length), t});
    }
    auto by_key = [](const Entry& a, const Entry& b) { return a.key < b.key; };
    std::stable_sort(systems_.begin(), systems_.end(), by_key);
    std::stable_sort(roots_.begin(), roots_.end(), by_key);
}

GrammarChoice GrammarFinder::find(const DocumentHead& head) const {
    std::string why;
    if (!head.system_id.empty()) {
        std::vector<const SchemaTable*> found = lookup(systems_, head.system_id);
        if (found.empty()) found = lookup(systems_, last_segment(head.system_id));
        if (found.size() == 1) return {found[0], "DOCTYPE SYSTEM " + quoted(head.system_id)};
        why = found.empty() ? "its DOCTYPE names SYSTEM " + quoted(head.system_id) +
                                  ", which is no grammar's (see 'tarvo grammars')"
                            : "its DOCTYPE names SYSTEM " + quoted(head.system_id) + ", which grammars " +
                                  names_of(found) + " all have";
    }
    const std::string& root = head.root.empty() ? head.doctype_name : head.root;
    if (root.empty()) {
        if (why.empty()) return {nullptr, "no DOCTYPE and no root element was found at its start"};
        return {nullptr, why + ", and no root element was found after it"};
    }
    std::vector<const SchemaTable*> found = lookup(roots_, root);
    if (found.size() == 1) return {found[0], "root element " + quoted(root)};
    why += why.empty() ? "" : ", and ";
    if (found.empty()) return {nullptr, why + "no grammar has root element " + quoted(root)};
    return {nullptr, why + "root element " + quoted(root) + " is a root of several grammars (" + names_of(found) +
                         "); its DOCTYPE's SYSTEM name chooses one"};
}

GrammarChoice detect_grammar(std::string_view bytes) { return GrammarFinder().find(read_document_head(bytes)); }

GrammarChoice detect_grammar_file(const char* path) {
    DocumentHead head = read_document_head_file(path);
    if (head.os_error) return {nullptr, "it could not be read"};
    return GrammarFinder().find(head);
}

const SchemaTable* choose_grammar(const GrammarFinder& finder, const DocumentHead& head, std::string_view name,
                                  Result& outcome) {
    if (head.os_error) {
        outcome = unreadable_result(name, head.os_error);
        return nullptr;
    }
    GrammarChoice choice = finder.find(head);
    if (!choice.grammar) outcome = no_grammar_result(name, choice.reason);
    return choice.grammar;
}

Result parse_detected(const DocumentSource& read, std::string_view name, const HeadChooser& choose, Handler* handler,
                      const Options& options) {
    // Every byte read is kept, so the document is read once (a pipe cannot
    // be read again): one of up to kWholeDocument bytes is read to its end
    // and parsed in place, a longer one from the bytes held and then from
    // the reads after them.
    detail::ReadBytes held;
    const DocumentHead head = detail::read_document_head(read, held);
    if (head.os_error) return unreadable_result(name, head.os_error);  // a read that failed ends here
    Result outcome;
    const SchemaTable* grammar = choose(head, outcome);
    if (!grammar) return outcome;
    int error = 0;
    while (!held.ended() && held.size() < kWholeDocument) {
        const SourceRead r = held.read_more(read, std::max(held.size(), size_t(4096)));
        if (r.error) {
            error = r.error;
            break;
        }
    }
    if (held.ended()) return parse_buffer(*grammar, held.view(), name, handler, options);
    size_t given = 0;
    return parse_source(
        *grammar,
        [&](char* buffer, size_t capacity) -> SourceRead {
            if (given == held.size()) return error ? SourceRead{0, error} : read(buffer, capacity);
            const size_t n = std::min(capacity, held.size() - given);
            std::copy_n(held.view().data() + given, n, buffer);
            given += n;
            return {n, 0};
        },
        name, handler, options);
}

Result parse_detected(const Source& source, const HeadChooser& choose, Handler* handler, const Options& options) {
    const std::string& name = source.name();
    switch (source.kind()) {
    case Source::Kind::unreadable: return unreadable_result(name, source.os_error());
    case Source::Kind::bytes: {
        Result outcome;
        const SchemaTable* grammar = choose(read_document_head(source.data()), outcome);
        return grammar ? parse_buffer(*grammar, source.data(), name, handler, options) : outcome;
    }
    case Source::Kind::file: break;
    }
    std::FILE* f = open_for_reading(name.c_str());
    if (!f) return unreadable_result(name, errno ? errno : EIO);
    Result r = parse_detected(detail::file_source(f), name, choose, handler, options);
    std::fclose(f);
    return r;
}

Result validate_detected(const GrammarFinder& finder, const DocumentSource& read, std::string_view name,
                         const Options& options) {
    return parse_detected(
        read, name, [&](const DocumentHead& head, Result& outcome) { return choose_grammar(finder, head, name, outcome); },
        nullptr, options);
}

Result validate_detected(const GrammarFinder& finder, const Source& source, const Options& options) {
    return parse_detected(
        source,
        [&](const DocumentHead& head, Result& outcome) { return choose_grammar(finder, head, source.name(), outcome); },
        nullptr, options);
}

std::shared_ptr<const SchemaTable> internal_subset_grammar(const DocumentHead& head, const std::string& name,
                                                           std::vector<std::string>* loosened) {
    if (!head.has_internal_subset || head.internal_subset.find("<!ELEMENT") == std::string::npos) return nullptr;
    // Lines in messages are those of the subset.
    const std::string where = name + " (internal subset)";
    dtd::Imported im;
    std::vector<grammar_file::Diagnostic> diags;
    if (!dtd::import_dtd_text(where, head.internal_subset, head.doctype_name, im, diags)) {
        std::vector<std::string> messages;
        for (const auto& d : diags) messages.push_back(grammar_file::format(d));
        throw GrammarError(std::move(messages));
    }
    if (loosened) *loosened = im.loosened;
    return load_grammar_text(where, im.grammar);
}

Result no_grammar_result(std::string_view name, std::string_view reason) {
    const std::string message = "No grammar found for " + std::string(name) + ": " + std::string(reason);
    Diagnostic d;
    d.kind = DiagnosticKind::input_output;
    d.code = "no-grammar";
    d.message = message;
    return Result(Status::unreadable, std::span<const Diagnostic>(&d, 1));
}

}  // namespace tarvo
