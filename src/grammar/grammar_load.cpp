// Grammars built at run time from grammar files, the registry of loaded
// grammars, and the read-only view of any grammar.
#include <mutex>
#include <stdexcept>
#include <utility>

#include "containers/sip_hash.h"
#include "grammar/grammar_file.h"
#include "grammar/grammar_load.h"
#include "grammar/layout.h"
#include "schema/schema_table.h"
#include "tarvo/grammar.h"
#include "tarvo/tarvo.h"

namespace tarvo {

namespace {

std::string join_lines(const std::vector<std::string>& lines) {
    std::string out;
    for (const std::string& l : lines) out += (out.empty() ? "" : "\n") + l;
    return out;
}

struct Registry {
    std::mutex mutex;
    std::vector<std::shared_ptr<const SchemaTable>> loaded;
};

Registry& registry() {
    static Registry* r = new Registry;  // never destroyed: tables must outlive every parse
    return *r;
}

const SchemaTable* find_builtin(std::string_view name) {
    for (const SchemaTable* g : grammars())
        if (name == g->name) return g;
    return nullptr;
}

}  // namespace

GrammarError::GrammarError(std::vector<std::string> messages)
    : std::runtime_error(join_lines(messages)), messages_(std::move(messages)) {}

namespace {

// The grammar file at `path`, or `text` under that name.
std::shared_ptr<const SchemaTable> load(const std::string& path, const std::string* text) {
    grammar_file::Grammar grammar;
    std::vector<grammar_file::Diagnostic> diags;
    if (!(text ? grammar_file::parse_grammar(path, *text, grammar, diags)
               : grammar_file::read_grammar_file(path, grammar, diags))) {
        std::vector<std::string> messages;
        for (const auto& d : diags) messages.push_back(grammar_file::format(d));
        throw GrammarError(std::move(messages));
    }
    // A key of its own: the file's names may have been chosen to collide
    // under any key known beforehand.
    auto owned = std::make_shared<const grammar_file::TableLayout>(std::move(grammar), path, random_hash_key());
    return std::shared_ptr<const SchemaTable>(owned, &owned->table);
}

}  // namespace

std::shared_ptr<const SchemaTable> load_grammar(const std::string& path) { return load(path, nullptr); }

std::shared_ptr<const SchemaTable> load_grammar_text(const std::string& path, const std::string& text) {
    return load(path, &text);
}

const SchemaTable& register_grammar(std::shared_ptr<const SchemaTable> grammar) {
    Registry& r = registry();
    std::lock_guard<std::mutex> lock(r.mutex);
    std::string_view name = grammar->name;
    bool taken = find_builtin(name) != nullptr;
    for (const auto& g : r.loaded) taken = taken || name == g->name;
    if (taken) throw std::invalid_argument("a grammar named '" + std::string(name) + "' is already registered");
    r.loaded.push_back(std::move(grammar));
    return *r.loaded.back();
}

std::shared_ptr<const SchemaTable> unregister_grammar(std::string_view name) {
    Registry& r = registry();
    std::lock_guard<std::mutex> lock(r.mutex);
    for (auto it = r.loaded.begin(); it != r.loaded.end(); ++it)
        if (name == (*it)->name) {
            std::shared_ptr<const SchemaTable> out = std::move(*it);
            r.loaded.erase(it);
            return out;
        }
    if (find_builtin(name))
        throw std::invalid_argument("the grammar '" + std::string(name) + "' is built in and cannot be unregistered");
    return nullptr;
}

std::vector<const SchemaTable*> all_grammars() {
    std::vector<const SchemaTable*> out(grammars().begin(), grammars().end());
    Registry& r = registry();
    std::lock_guard<std::mutex> lock(r.mutex);
    for (const auto& g : r.loaded) out.push_back(g.get());
    return out;
}

const SchemaTable* find_grammar(std::string_view name) {
    if (const SchemaTable* g = find_builtin(name)) return g;
    Registry& r = registry();
    std::lock_guard<std::mutex> lock(r.mutex);
    for (const auto& g : r.loaded)
        if (name == g->name) return g.get();
    return nullptr;
}

std::vector<int32_t> root_elements(const SchemaTable& t) {
    std::vector<bool> contained(static_cast<size_t>(t.element_count), false);
    auto mark = [&](const ContentPosition* p, int32_t n) {
        for (int32_t i = 0; i < n; ++i)
            if (p[i].element >= 0 && p[i].element < t.element_count) contained[static_cast<size_t>(p[i].element)] = true;
    };
    for (int32_t e = 0; e < t.element_count; ++e) {
        mark(t.elements[e].first, t.elements[e].first_count);
        for (int32_t r = 0; r < t.elements[e].row_count; ++r)
            mark(t.elements[e].rows[r].successors, t.elements[e].rows[r].count);
    }
    for (int32_t r = 0; r < t.text_row_count; ++r) mark(t.text_rows[r].successors, t.text_rows[r].count);
    std::vector<int32_t> roots;
    for (int32_t e = 0; e < t.element_count; ++e)
        if (!contained[static_cast<size_t>(e)]) roots.push_back(e);
    return roots;
}

GrammarInfo grammar_info(const SchemaTable& t) {
    auto items = [](const ContentPosition* p, int32_t n) {
        std::vector<ContentItem> out;
        for (int32_t i = 0; i < n; ++i) {
            ContentItem it;
            it.kind = p[i].element == POSITION_END    ? ContentItem::kEnd
                      : p[i].element == POSITION_TEXT ? ContentItem::kText
                                                      : ContentItem::kElement;
            it.element = it.kind == ContentItem::kElement ? p[i].element : -1;
            it.context = it.kind == ContentItem::kEnd ? -1 : p[i].context;
            out.push_back(it);
        }
        return out;
    };
    GrammarInfo g;
    g.name = t.name;
    g.source_name = t.source_path;
    g.system_name = g.name + ".dtd";
    g.grammar_file = t.grammar_file ? t.grammar_file : "";
    for (int32_t i = 0; i < t.element_count; ++i) {
        const ElementRule& e = t.elements[i];
        ElementInfo ei;
        ei.name.assign(e.name, e.name_length);
        ei.first = items(e.first, e.first_count);
        for (int32_t r = 0; r < e.row_count; ++r) ei.rows.push_back(items(e.rows[r].successors, e.rows[r].count));
        for (int32_t a = 0; a < e.attribute_count; ++a) {
            const AttributeRule& ar = e.attributes[a];
            AttributeInfo ai;
            ai.name.assign(ar.name, ar.name_length);
            ai.required = ar.default_value == nullptr;
            if (!ai.required) ai.default_value.assign(ar.default_value, ar.default_length);
            for (int32_t v = 0; v < ar.allowed_count; ++v) ai.values.emplace_back(ar.allowed[v], ar.allowed_lengths[v]);
            ei.attributes.push_back(std::move(ai));
        }
        g.elements.push_back(std::move(ei));
    }
    for (int32_t r = 0; r < t.text_row_count; ++r)
        g.text_rows.push_back(items(t.text_rows[r].successors, t.text_rows[r].count));
    for (int32_t i : root_elements(t)) g.roots.push_back(g.elements[static_cast<size_t>(i)].name);
    return g;
}

std::string item_text(const GrammarInfo& g, const ContentItem& it) {
    if (it.kind == ContentItem::kEnd) return "END";
    if (it.kind == ContentItem::kText) return "TEXT/" + std::to_string(it.context);
    return g.elements[it.element].name + "/" + std::to_string(it.context);
}

}  // namespace tarvo
