// Descriptions of a grammar for people (text), programs (JSON) and Graphviz.
//
// The contents of elements can be far larger than the grammar (each lists
// the rows it reaches, and every element may reach every row), so a
// description of the whole grammar works within a budget proportional to
// the grammar's size: past it, the elements left are given without their
// contents, and say so. One element is always described in full, in time
// linear in the size of the grammar.
#include <algorithm>
#include <set>
#include <string>
#include <vector>

#include "export/grammar_model.h"
#include "export/xml_text.h"
#include "tarvo/grammar.h"
#include "tarvo/json.h"

// g++ 12 at -O3 warns falsely (-Wrestrict) on "literal" + std::string.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wrestrict"
#endif

namespace tarvo {

namespace {

std::string json_string(std::string_view s) {
    std::string out;
    append_json_string(out, s);
    return out;
}

using xml_text::printable;

// Quoted, then made printable: a \xNN written is never one quoted.
std::string quoted(std::string_view s) {
    std::string out = "\"";
    for (char c : s) {
        if (c == '"' || c == '\\') out += '\\';
        out += c;
    }
    return printable(out + "\"");
}

// item_text(), made printable, appended to `out`.
void append_item(std::string& out, const GrammarInfo& g, const ContentItem& it) {
    if (it.kind == ContentItem::kEnd) {
        out += "END";
        return;
    }
    if (it.kind == ContentItem::kText)
        out += "TEXT";
    else
        xml_text::append_printable(out, g.elements[it.element].name);
    out += '/';
    out += std::to_string(it.context);
}

void append_list(std::string& out, const GrammarInfo& g, const std::vector<ContentItem>& l) {
    if (l.empty()) out += "(none)";
    for (size_t i = 0; i < l.size(); ++i) {
        if (i) out += ' ';
        append_item(out, g, l[i]);
    }
}

std::string list_text(const GrammarInfo& g, const std::vector<ContentItem>& l) {
    std::string out;
    append_list(out, g, l);
    return out;
}

std::string list_json(const GrammarInfo& g, const std::vector<ContentItem>& l) {
    std::string out = "[";
    for (size_t i = 0; i < l.size(); ++i) out += (i ? ", " : "") + json_string(item_text(g, l[i]));
    return out + "]";
}

std::vector<int> selected(const GrammarInfo& g, int element) {
    std::vector<int> out;
    for (int i = 0; i < static_cast<int>(g.elements.size()); ++i)
        if (element < 0 || element == i) out.push_back(i);
    return out;
}

// The content models of the elements described, each paid for with what it
// writes; nullptr for one the budget no longer covers.
class Contents {
public:
    Contents(const GrammarInfo& g, int element)
        : g_(g), element_(element), budget_(element < 0 ? describe_budget(g) : WorkBudget::unlimited()), models_(g, budget_) {}

    const ContentModel* of(int e) {
        if (element_ >= 0) {
            one_ = content_model(g_, e);
            return &one_;
        }
        const ContentModel* m = models_.of(e);
        if (!m) return nullptr;
        uint64_t cost = 1;
        for (const ContentItem& it : m->positions) cost += 1 + ContentModel::list_after(g_, it).size();
        return budget_.spend(cost) ? m : nullptr;
    }

    // The elements whose content may hold `e`; nullptr when not worked out.
    const std::vector<int>* parents(int e) {
        if (!worked_out_) {
            worked_out_ = true;
            if (element_ >= 0) {
                containers_.assign(g_.elements.size(), {});
                containers_[e] = parents_of(g_, e);
                have_ = true;
            } else {
                have_ = tarvo::parents(g_, models_, containers_);
            }
        }
        return have_ ? &containers_[e] : nullptr;
    }

private:
    const GrammarInfo& g_;
    int element_;
    WorkBudget budget_;
    ContentModels models_;
    ContentModel one_;
    bool worked_out_ = false, have_ = false;
    std::vector<std::vector<int>> containers_;
};

const char kNotWorkedOut[] = "the grammar is too large to describe in full; describe this element alone";

std::string attribute_text(const AttributeInfo& a) {
    std::string out = a.required ? "required" : "default " + quoted(a.default_value);
    if (!a.values.empty()) {
        out += ", one of";
        for (const std::string& v : a.values) out += " " + quoted(v);
    }
    return out;
}

}  // namespace

std::string describe_text(const GrammarInfo& g, int element) {
    std::string out;
    if (element < 0) {
        out += "grammar " + printable(g.name) + "\n";
        out += "  documents: <!DOCTYPE " + printable(g.roots.empty() ? std::string("ROOT") : g.roots[0]) +
               " SYSTEM \"" + printable(g.system_name) + "\">\n";
        out += "  grammar file: " + printable(g.grammar_file) + "\n";
        out += "  recorded source name: " + printable(g.source_name) + "\n";
        out += "  " + std::to_string(g.elements.size()) + " elements, " + std::to_string(g.text_rows.size()) +
               " text rows\n";
    }
    Contents contents(g, element);
    for (int e : selected(g, element)) {
        const ElementInfo& el = g.elements[e];
        out += "\nelement " + printable(el.name) + "\n";
        std::string inside;
        if (const std::vector<int>* containers = contents.parents(e)) {
            for (int p : *containers) inside += (inside.empty() ? "" : ", ") + printable(g.elements[p].name);
            if (inside.empty()) inside = "(nothing: only as the root)";
        } else {
            inside = std::string("(not worked out: ") + kNotWorkedOut + ")";
        }
        out += "  inside: " + inside + "\n";
        out += "  first:  " + list_text(g, el.first) + "\n";
        if (const ContentModel* m = contents.of(e)) {
            for (const ContentItem& it : m->positions) {
                out += "  after ";
                append_item(out, g, it);
                out += ": ";
                append_list(out, g, m->list_after(g, it));
                out += '\n';
            }
            std::string text;
            for (const std::string& place : m->text_places) text += (text.empty() ? "" : "; ") + printable(place);
            out += "  text:   " + (m->text_places.empty() ? std::string("nowhere") : text) + "\n";
        } else {
            out += std::string("  what follows each child, and where text may stand: not listed: ") + kNotWorkedOut +
                   "\n";
        }
        if (el.attributes.empty()) {
            out += "  attributes: none\n";
        } else {
            out += "  attributes:\n";
            size_t width = 0;
            for (const AttributeInfo& a : el.attributes) width = std::max(width, printable(a.name).size());
            for (const AttributeInfo& a : el.attributes) {
                std::string name = printable(a.name);
                out += "    " + name + std::string(width - name.size() + 2, ' ') + attribute_text(a) + "\n";
            }
        }
    }
    if (element < 0 && !g.text_rows.empty()) {
        out += "\ntext rows\n";
        for (size_t r = 0; r < g.text_rows.size(); ++r)
            out += "  after TEXT/" + std::to_string(r) + ": " + list_text(g, g.text_rows[r]) + "\n";
    }
    return out;
}

std::string describe_json(const GrammarInfo& g, int element) {
    std::string out = "{\n  \"name\": " + json_string(g.name) + ",\n  \"source_name\": " + json_string(g.source_name) +
                      ",\n  \"system_name\": " + json_string(g.system_name) +
                      ",\n  \"grammar_file\": " + json_string(g.grammar_file) + ",\n  \"roots\": [";
    for (size_t i = 0; i < g.roots.size(); ++i) out += (i ? ", " : "") + json_string(g.roots[i]);
    out += "],\n  \"elements\": [";
    bool first_element = true;
    for (int e : selected(g, element)) {
        const ElementInfo& el = g.elements[e];
        out += first_element ? "\n" : ",\n";
        first_element = false;
        out += "    {\"name\": " + json_string(el.name) + ", \"index\": " + std::to_string(e) +
               ",\n     \"first\": " + list_json(g, el.first) + ",\n     \"rows\": [";
        for (size_t r = 0; r < el.rows.size(); ++r) out += (r ? ", " : "") + list_json(g, el.rows[r]);
        out += "],\n     \"attributes\": [";
        for (size_t a = 0; a < el.attributes.size(); ++a) {
            const AttributeInfo& at = el.attributes[a];
            out += std::string(a ? ",\n" : "\n") + "       {\"name\": " + json_string(at.name) +
                   ", \"required\": " + (at.required ? "true" : "false") +
                   ", \"default\": " + (at.required ? "null" : json_string(at.default_value)) + ", \"values\": [";
            for (size_t v = 0; v < at.values.size(); ++v) out += (v ? ", " : "") + json_string(at.values[v]);
            out += "]}";
        }
        out += el.attributes.empty() ? "]}" : "\n     ]}";
    }
    out += first_element ? "],\n" : "\n  ],\n";
    out += "  \"text_rows\": [";
    for (size_t r = 0; r < g.text_rows.size(); ++r) out += (r ? ", " : "") + list_json(g, g.text_rows[r]);
    return out + "]\n}\n";
}

std::string describe_dot(const GrammarInfo& g, int element) {
    std::string out = "digraph " + json_string(g.name) +
                      " {\n  rankdir=LR;\n  node [fontname=\"Helvetica\", fontsize=11];\n"
                      "  edge [arrowsize=0.7];\n";
    Contents contents(g, element);
    for (int e : selected(g, element)) {
        const ElementInfo& el = g.elements[e];
        std::string p = "e" + std::to_string(e);
        auto node = [&](const ContentItem& it) {
            std::string n = p;
            if (it.kind == ContentItem::kEnd) return n += "_end";
            if (it.kind == ContentItem::kText) return n.append("_t").append(std::to_string(it.context));
            return n.append("_").append(std::to_string(it.element)).append("_").append(std::to_string(it.context));
        };
        out += "  subgraph cluster_" + p + " {\n    label=" + json_string(el.name) + ";\n";
        out += "    " + p + " [label=" + json_string(el.name) + ", shape=box, style=bold];\n";
        const ContentModel* model = contents.of(e);
        if (!model) {
            out += "    " + p + "_more [label=" +
                   json_string("not drawn: the grammar is too large to draw in full; draw this element alone") +
                   ", shape=plaintext];\n  }\n";
            continue;
        }
        const ContentModel& m = *model;
        out += "    " + p + "_end [label=\"END\", shape=doublecircle, fontsize=8];\n";
        for (const ContentItem& it : m.positions) {
            if (it.kind == ContentItem::kText)
                out += "    " + node(it) + " [label=\"text\", shape=note, style=filled, fillcolor=\"#fff3c4\"];\n";
            else
                out += "    " + node(it) + " [label=" + json_string(g.elements[it.element].name) +
                       (it.context ? ", xlabel=" + json_string("/" + std::to_string(it.context)) : std::string()) +
                       ", shape=ellipse];\n";
        }
        auto edges = [&](const std::string& from, const std::vector<ContentItem>& l) {
            bool end = false, text = false;
            for (const ContentItem& it : l) {
                out.append("    ").append(from).append(" -> ").append(node(it)).append(";\n");
                end = end || it.kind == ContentItem::kEnd;
                text = text || it.kind == ContentItem::kText;
            }
            // The element may also close where nothing is listed, or where text may stand.
            if (!end && (l.empty() || text)) out += "    " + from + " -> " + p + "_end [style=dashed];\n";
        };
        edges(p, el.first);
        for (const ContentItem& it : m.positions) edges(node(it), m.list_after(g, it));
        out += "  }\n";
    }
    return out + "}\n";
}

}  // namespace tarvo
