// Export of a grammar as a DTD.
//
// Each element's content is a deterministic automaton (grammar_model.h),
// turned into an expression (reduce.h) that is checked against the
// automaton before it is written. A DTD model must be deterministic and
// allows text only as (#PCDATA|a|b)*; where no deterministic expression for
// the automaton is found, the closest one that accepts more is written and
// marked. Names that are not XML names cannot stand in a DTD and are left
// out, and said so.
#include <algorithm>
#include <deque>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "export/automata.h"
#include "export/reduce.h"
#include "export/xml_text.h"
#include "tarvo/grammar.h"

namespace tarvo {

namespace {

using xml_text::comment;
using xml_text::printable;

std::string model_text(const GrammarInfo& g, R r, bool top) {
    auto wrap = [&](R k) {
        std::string s = model_text(g, k, false);
        return k->kind == Re::kSym || s.front() == '(' ? s : "(" + s + ")";
    };
    std::string s;
    switch (r->kind) {
    case Re::kEps: return "EMPTY";
    case Re::kSym: s = g.elements[r->sym].name; break;
    case Re::kSeq:
    case Re::kAlt:
        s = "(";
        for (size_t i = 0; i < r->kids.size(); ++i)
            s += (i ? (r->kind == Re::kSeq ? ", " : " | ") : "") + model_text(g, r->kids[i], false);
        return s + ")";
    case Re::kStar: s = wrap(r->kids[0]) + "*"; break;
    case Re::kPlus: s = wrap(r->kids[0]) + "+"; break;
    case Re::kOpt: s = wrap(r->kids[0]) + "?"; break;
    }
    return top ? "(" + s + ")" : s;
}

struct Content {
    std::string model;
    std::string why;  // loosened: why
};

Content content(const GrammarInfo& g, int e, const std::vector<bool>& skip, Expressions& x) {
    WorkBudget& budget = x.budget();
    ContentAutomaton a;
    ContentModel m;
    if (!content_model(g, e, budget, m, &a, &skip))
        return {"ANY",
                "the content model is too large to work out; any element and text may stand in it in any order and "
                "number"};
    if (!trim(a))
        return {"EMPTY", "no content is valid here (every way through it needs an element that is left out, or "
                         "never closes), which a DTD cannot say"};
    const Nfa exact = from_automaton(a);
    const std::set<int> children = symbols(a, false);
    if (symbols(a, true).count(kTextSymbol)) {
        // Text may only be allowed as (#PCDATA | a | b)*, in any order.
        Content c{"(#PCDATA", ""};
        for (int child : children) c.model += " | " + g.elements[child].name;
        c.model += children.empty() ? ")" : ")*";
        ContentAutomaton any;
        any.states.emplace_back();
        any.states[0].accepting = true;
        any.states[0].next.emplace_back(kTextSymbol, 0);
        for (int child : children) any.states[0].next.emplace_back(child, 0);
        if (inclusion(from_automaton(any), exact, budget) != Inclusion::kYes)
            c.why = "text and child elements may stand in any order and number";
        return c;
    }
    for (R r : candidates(a, x)) {
        bool deterministic = false;
        if (same_language(r, exact, budget, &deterministic) && deterministic) return {model_text(g, r, true), ""};
    }
    // Nearest deterministic form that holds everything: the children in any
    // order, at least one when content is required.
    R any = x.any_of(children);
    return {model_text(g, a.states[0].accepting ? x.star(any) : x.make(Re::kPlus, 0, {any}), true),
            budget.out() ? "the content model is too large to work out; the children may stand in any order and number"
                         : "no deterministic model says the order exactly; the children may stand in any order and "
                           "number"};
}

// The rows of a grammar are numbered as its author wrote them, and
// messages name them ("in this context (3)"). A DTD cannot say which row a
// place is, so the export notes, for each row, one way to reach it: a parent
// whose content the DTD says exactly, and the children from the start of
// that content up to the one standing in that row. tarvo's import follows
// these words through its own automata and numbers its rows the same.
//   <!-- tarvo rows: ...
//     NAME/ROW: PARENT > CHILD ... NAME        (#PCDATA for text)
//   -->
std::string row_notes(const GrammarInfo& g, const std::vector<bool>& exact) {
    const int count = static_cast<int>(g.elements.size());
    auto usable = [&](const ContentItem& it) {
        return it.kind == ContentItem::kText ||
               (it.kind == ContentItem::kElement && it.element >= 0 && it.element < count &&
                xml_text::is_name(g.elements[it.element].name) &&
                g.elements[it.element].name.find("--") == std::string::npos);
    };
    // (element or -1 for text, row) -> (parent, word)
    std::map<std::pair<int, int>, std::pair<int, std::vector<int>>> found;
    for (int parent = 0; parent < count; ++parent) {
        if (!exact[parent]) continue;
        std::set<std::pair<int, int>> seen;
        std::deque<std::pair<ContentItem, std::vector<int>>> queue;
        auto reach = [&](const std::vector<ContentItem>& list, const std::vector<int>& word) {
            for (const ContentItem& it : list) {
                if (!usable(it)) continue;
                std::pair<int, int> key(it.kind == ContentItem::kText ? -1 : it.element, it.context);
                if (!seen.insert(key).second) continue;
                std::vector<int> w = word;
                w.push_back(key.first);
                queue.emplace_back(it, w);
                found.emplace(key, std::make_pair(parent, w));
            }
        };
        reach(g.elements[parent].first, {});
        while (!queue.empty()) {
            auto [it, word] = std::move(queue.front());
            queue.pop_front();
            const auto& rows = it.kind == ContentItem::kText ? g.text_rows : g.elements[it.element].rows;
            if (it.context >= 0 && it.context < static_cast<int>(rows.size())) reach(rows[it.context], word);
        }
    }
    if (found.empty()) return {};
    auto name = [&](int e) { return e < 0 ? std::string("#PCDATA") : g.elements[e].name; };
    std::string out = "<!-- tarvo rows: where each row of an element or of text is reached, as\n"
                      "     NAME/ROW: PARENT > the children from the start of its content up to NAME\n";
    for (const auto& [key, how] : found) {
        out.append("  ").append(name(key.first)).append("/").append(std::to_string(key.second));
        out.append(": ").append(name(how.first)).append(" >");
        for (int e : how.second) out.append(" ").append(name(e));
        out += "\n";
    }
    return out + "-->\n";
}

}  // namespace

Export export_dtd(const GrammarInfo& g) {
    Export x;
    std::string& out = x.text;
    const int count = static_cast<int>(g.elements.size());
    std::vector<bool> skip(count), exact(count);
    for (int e = 0; e < count; ++e) skip[e] = !xml_text::is_name(g.elements[e].name);
    out += comment("DTD of the tarvo grammar '" + g.name + "', written by tarvo export. Documents begin <!DOCTYPE " +
                   (g.roots.empty() ? std::string("ROOT") : g.roots[0]) + " SYSTEM \"" + g.system_name + "\">") +
           "\n";
    WorkBudget budget = export_budget(g);
    Expressions expressions(budget);
    std::map<std::vector<int>, Content> done;  // by first list: the same list, the same content
    for (int e = 0; e < count; ++e) {
        const ElementInfo& el = g.elements[e];
        if (skip[e]) {
            std::string why = "its name is not an XML name, which a DTD cannot hold; no document the DTD accepts "
                              "can hold it";
            out += comment("left out: element " + el.name + ": " + why) + "\n";
            x.loosened.push_back("element " + printable(el.name) + ": " + why);
            continue;
        }
        budget.begin(export_reserve(el));
        std::vector<int> key = first_key(g, e);
        auto found = done.find(key);
        if (found == done.end()) found = done.emplace(std::move(key), content(g, e, skip, expressions)).first;
        const Content& c = found->second;
        exact[e] = c.why.empty() && c.model != "ANY" && el.name.find("--") == std::string::npos;
        if (!c.why.empty()) {
            out += comment("loosened: " + c.why) + "\n";
            x.loosened.push_back("element " + el.name + ": " + c.why);
        }
        out += "<!ELEMENT " + el.name + " " + c.model + ">\n";
        std::string list, notes;
        for (const AttributeInfo& at : el.attributes) {
            if (!xml_text::is_name(at.name)) {
                std::string w = "its name is not an XML name, which a DTD cannot hold; left out" +
                                (at.required ? " (tarvo requires it, so accepts no " + el.name + ")" : std::string());
                notes += comment("loosened: attribute " + at.name + ": " + w) + "\n";
                x.loosened.push_back("attribute " + printable(at.name) + " of " + el.name + ": " + w);
                continue;
            }
            bool enumerable = !at.values.empty() && std::all_of(at.values.begin(), at.values.end(), xml_text::is_nmtoken);
            std::string type = "CDATA";
            if (enumerable) {
                type = "(";
                for (size_t v = 0; v < at.values.size(); ++v) type += (v ? " | " : "") + at.values[v];
                type += ")";
            } else if (!at.values.empty()) {
                std::string w = "its values are not all name tokens, so any value is accepted";
                notes += comment("loosened: attribute " + at.name + ": " + w) + "\n";
                x.loosened.push_back("attribute " + at.name + " of " + el.name + ": " + w);
            }
            std::string dflt;
            if (at.required) {
                dflt = "#REQUIRED";
            } else if ((enumerable && !std::count(at.values.begin(), at.values.end(), at.default_value)) ||
                       !xml_text::is_chars(at.default_value)) {
                // A DTD default must be one of the listed values, and a
                // value a document can hold.
                dflt = "#IMPLIED";
                notes += comment("attribute " + at.name + ": tarvo supplies \"" + at.default_value +
                                 "\" when it is missing, a value that may not be written") +
                         "\n";
            } else {
                dflt = "\"" + xml_text::escape(at.default_value) + "\"";
            }
            list += "\n    " + at.name + " " + type + " " + dflt;
        }
        if (!list.empty()) out += "<!ATTLIST " + el.name + list + ">\n";
        out += notes;
    }
    out += row_notes(g, exact);
    return x;
}

}  // namespace tarvo
