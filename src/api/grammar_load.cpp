// Grammars built at run time from grammar files, the registry of loaded
// grammars, and the read-only view of any grammar.
#include <mutex>
#include <stdexcept>
#include <utility>

#include "api/grammar_load.h"
#include "containers/str_dict.h"
#include "schema/grammar_file.h"
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

// The tables of one loaded grammar and everything they point into. Built
// once, never changed afterwards, so the pointers stay valid.
struct OwnedGrammar {
    grammar_file::Grammar source;  // owns every name, value and default
    std::vector<std::vector<ContentPosition>> lists;
    std::vector<std::vector<SuccessorRow>> row_arrays;
    std::vector<std::vector<const char*>> values;
    std::vector<std::vector<uint32_t>> value_lengths;
    std::vector<std::vector<AttributeRule>> attributes;
    std::vector<ElementRule> elements;
    std::vector<SuccessorRow> text_rows;
    std::vector<int16_t> name_slots;
    std::vector<std::vector<int16_t>> slot_arrays;  // attribute names', allowed values'
    std::string path;
    SchemaTable table{};

    const ContentPosition* list(const grammar_file::List& l) {
        std::vector<ContentPosition>& out = lists.emplace_back();
        for (const grammar_file::Entry& en : l) {
            using K = grammar_file::Entry::Kind;
            out.push_back(en.kind == K::End    ? ContentPosition{POSITION_END, -1}
                          : en.kind == K::Text ? ContentPosition{POSITION_TEXT, en.context}
                                               : ContentPosition{en.element, en.context});
        }
        return out.empty() ? nullptr : out.data();
    }

    const SuccessorRow* rows(const std::vector<grammar_file::List>& rs, int32_t own, std::vector<SuccessorRow>& out) {
        for (size_t r = 0; r < rs.size(); ++r)
            out.push_back({{own, static_cast<int32_t>(r)}, static_cast<int32_t>(rs[r].size()), list(rs[r])});
        return out.empty() ? nullptr : out.data();
    }

    const int16_t* slots(std::vector<int16_t> s) {
        if (s.empty()) return nullptr;
        return slot_arrays.emplace_back(std::move(s)).data();
    }

    void build() {
        // Reserved up front: the tables point into these vectors.
        size_t list_count = source.text_rows.size(), attr_count = 0;
        for (const auto& e : source.elements) {
            list_count += 1 + e.rows.size();
            attr_count += e.attributes.size();
        }
        lists.reserve(list_count);
        row_arrays.reserve(source.elements.size());
        attributes.reserve(source.elements.size());
        values.reserve(attr_count);
        slot_arrays.reserve(attr_count + source.elements.size());
        value_lengths.reserve(attr_count);
        elements.reserve(source.elements.size());
        text_rows.reserve(source.text_rows.size());
        for (size_t i = 0; i < source.elements.size(); ++i) {
            const grammar_file::Element& e = source.elements[i];
            const ContentPosition* first = list(e.first);
            const SuccessorRow* rs = rows(e.rows, static_cast<int32_t>(i), row_arrays.emplace_back());
            std::vector<AttributeRule>& as = attributes.emplace_back();
            for (const grammar_file::Attribute& a : e.attributes) {
                std::vector<const char*>& v = values.emplace_back();
                std::vector<uint32_t>& vl = value_lengths.emplace_back();
                for (const std::string& s : a.values) {
                    v.push_back(s.c_str());
                    vl.push_back(static_cast<uint32_t>(s.size()));
                }
                uint32_t value_mask = 0;
                const int16_t* vs = slots(grammar_file::value_slots(a, value_mask));
                as.push_back({a.name.c_str(), static_cast<uint32_t>(a.name.size()), dict_bucket(a.name),
                              static_cast<int32_t>(v.size()), v.empty() ? nullptr : v.data(),
                              vl.empty() ? nullptr : vl.data(), a.required ? nullptr : a.default_value.c_str(),
                              static_cast<uint32_t>(a.required ? 0 : a.default_value.size()), vs, value_mask});
            }
            uint32_t attribute_mask = 0;
            const int16_t* attribute_slots = slots(grammar_file::attribute_slots(e, attribute_mask));
            elements.push_back({e.name.c_str(), static_cast<uint32_t>(e.name.size()), static_cast<int32_t>(i),
                                static_cast<int32_t>(e.first.size()), first, static_cast<int32_t>(e.rows.size()), rs,
                                static_cast<int32_t>(as.size()), as.empty() ? nullptr : as.data(), attribute_slots,
                                attribute_mask});
        }
        const SuccessorRow* trs = rows(source.text_rows, POSITION_TEXT, text_rows);
        uint32_t mask = 0;
        name_slots = grammar_file::build_name_slots(source, mask);
        table = {source.name.c_str(),
                 source.source.c_str(),
                 static_cast<int32_t>(elements.size()),
                 elements.empty() ? nullptr : elements.data(),
                 static_cast<int32_t>(text_rows.size()),
                 trs,
                 name_slots.data(),
                 mask,
                 path.c_str()};
    }
};

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

// The grammar file at `path`, or `text` under that name.
static std::shared_ptr<const SchemaTable> load(const std::string& path, const std::string* text) {
    auto owned = std::make_shared<OwnedGrammar>();
    std::vector<grammar_file::Diagnostic> diags;
    if (!(text ? grammar_file::parse_grammar(path, *text, owned->source, diags)
               : grammar_file::read_grammar_file(path, owned->source, diags))) {
        std::vector<std::string> messages;
        for (const auto& d : diags) messages.push_back(grammar_file::format(d));
        throw GrammarError(std::move(messages));
    }
    owned->path = path;
    owned->build();
    return std::shared_ptr<const SchemaTable>(owned, &owned->table);
}

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
    std::vector<bool> contained(t.element_count, false);
    auto mark = [&](const std::vector<ContentItem>& l) {
        for (const ContentItem& it : l)
            if (it.kind == ContentItem::kElement) contained[it.element] = true;
    };
    for (int32_t i = 0; i < t.element_count; ++i) {
        const ElementRule& e = t.elements[i];
        ElementInfo ei;
        ei.name.assign(e.name, e.name_length);
        ei.first = items(e.first, e.first_count);
        mark(ei.first);
        for (int32_t r = 0; r < e.row_count; ++r) {
            ei.rows.push_back(items(e.rows[r].successors, e.rows[r].count));
            mark(ei.rows.back());
        }
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
    for (int32_t r = 0; r < t.text_row_count; ++r) {
        g.text_rows.push_back(items(t.text_rows[r].successors, t.text_rows[r].count));
        mark(g.text_rows.back());
    }
    for (int32_t i = 0; i < t.element_count; ++i)
        if (!contained[i]) g.roots.push_back(g.elements[i].name);
    return g;
}

std::string item_text(const GrammarInfo& g, const ContentItem& it) {
    if (it.kind == ContentItem::kEnd) return "END";
    if (it.kind == ContentItem::kText) return "TEXT/" + std::to_string(it.context);
    return g.elements[it.element].name + "/" + std::to_string(it.context);
}

}  // namespace tarvo
