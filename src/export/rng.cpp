// Export of a grammar as a RELAX NG schema.
//
// Each element's content is a deterministic automaton (grammar_model.h),
// turned into an expression (reduce.h) that is checked against the
// automaton before it is written, so a schema is never looser than tarvo
// without saying so. RELAX NG has no determinism rule, so the expression is
// the automaton's language; only text cannot be made mandatory there (a
// `text` pattern also matches nothing), which the check finds.
//
// Names that are not XML names without a colon cannot stand in the schema:
// no document can hold such an element or attribute there, so leaving it
// out changes nothing a validator sees, and the export says where it did.
#include <algorithm>
#include <map>
#include <string>
#include <vector>

#include "export/automata.h"
#include "export/reduce.h"
#include "export/xml_text.h"
#include "tarvo/grammar.h"

namespace tarvo {

namespace {

using xml_text::comment;
using xml_text::escape;
using xml_text::printable;

const char kTooLarge[] =
    "the content model is too large to write out; its children may stand in any order and number";
const char kTooLargeToBuild[] =
    "the content model is too large to work out; any element and text may stand in it in any order and number";
const char kElementDefine[] = "el.";   // + the element's name
const char kAnyDefine[] = "tarvo.any";  // no element's define

std::string define_name(const GrammarInfo& g, int e) { return kElementDefine + g.elements[e].name; }

void pattern(const GrammarInfo& g, R r, size_t indent, std::string& out) {
    static const char* const names[] = {"empty", "", "group", "choice", "zeroOrMore", "oneOrMore", "optional"};
    out.append(indent, ' ');
    if (r->kind == Re::kEps) {
        out += "<empty/>\n";
    } else if (r->kind == Re::kSym && r->sym == kTextSymbol) {
        out += "<text/>\n";
    } else if (r->kind == Re::kSym) {
        out.append("<ref name=\"").append(kElementDefine).append(g.elements[r->sym].name).append("\"/>\n");
    } else {
        out.append("<").append(names[r->kind]).append(">\n");
        for (R c : r->kids) pattern(g, c, indent + 2, out);
        out.append(indent, ' ').append("</").append(names[r->kind]).append(">\n");
    }
}

struct Content {
    enum Kind { kPattern, kNothing, kAny } kind = kPattern;
    R r = nullptr;
    std::string why;  // loosened: why
};

Content content(const GrammarInfo& g, int e, const std::vector<bool>& skip, Expressions& x) {
    WorkBudget& budget = x.budget();
    ContentAutomaton a;
    ContentModel m;
    if (!content_model(g, e, budget, m, &a, &skip)) return {Content::kAny, nullptr, kTooLargeToBuild};
    if (!trim(a)) return {Content::kNothing, nullptr, ""};
    const Nfa exact = from_automaton(a);
    // Elimination gives the language itself; a reduced form is shorter to
    // read, and taken when it is the same.
    R r = nullptr;
    for (R c : candidates(a, x))
        if (same_language(c, exact, budget)) {
            r = c;
            break;
        }
    if (!r && !budget.out()) {
        // Written without a check, so paid for by its length.
        r = eliminate_by_degree(a, x);
        if (r && (r->depth > kMaxDepth || !budget.spend(r->length))) r = nullptr;
    }
    // Too large to write exactly: its children and text in any order.
    if (!r) return {Content::kPattern, x.star(x.any_of(symbols(a, true))), kTooLarge};
    // Without text, what a validator accepts is the expression itself.
    if (symbols(a, true).count(kTextSymbol) && inclusion(text_optional(a), exact, budget) != Inclusion::kYes)
        return {Content::kPattern, r, "text that must stand at some place here may be left out"};
    return {Content::kPattern, r, ""};
}

// Whether an attribute can stand in the schema with at least one value.
std::string unwritable(const AttributeInfo& at) {
    if (!xml_text::is_ncname(at.name))
        return "its name cannot stand in a RELAX NG schema (it is not an XML name without a colon)";
    if (at.name == "xmlns") return "a RELAX NG schema cannot declare an attribute named xmlns";
    if (!at.values.empty() && std::none_of(at.values.begin(), at.values.end(), xml_text::is_chars))
        return "none of its values can stand in an XML document";
    return "";
}

// Says, in a comment at `indent` and in the list, which attributes of `el`
// cannot be written.
void leave_out_attributes(const ElementInfo& el, const std::string& indent, Export& x) {
    for (const AttributeInfo& at : el.attributes) {
        std::string why = unwritable(at);
        if (why.empty()) continue;
        why += at.required ? "; the element requires it, so the schema allows no " + el.name : "; left out";
        x.text += indent + comment("left out: attribute " + at.name + ": " + why) + "\n";
        x.loosened.push_back("attribute " + printable(at.name) + " of " + printable(el.name) + ": " + why);
    }
}

void write_attributes(const ElementInfo& el, Export& x) {
    std::string& out = x.text;
    std::vector<const AttributeInfo*> written;
    for (const AttributeInfo& at : el.attributes)
        if (unwritable(at).empty()) written.push_back(&at);
    // Attributes are unordered either way; an interleave lets a validator
    // match each by name instead of trying them in turn, which keeps
    // refusals fast on elements with many optional ones.
    const bool interleave = written.size() > 1;
    const std::string base = interleave ? "        " : "      ";
    if (interleave) out += "      <interleave>\n";
    for (const AttributeInfo* a : written) {
        const AttributeInfo& at = *a;
        std::string ind = at.required ? base : base + "  ";
        if (!at.required) out += base + "<optional>\n";
        bool annotate = !at.required && xml_text::is_chars(at.default_value) &&
                        (at.values.empty() || std::count(at.values.begin(), at.values.end(), at.default_value));
        if (!at.required && !annotate)
            out += ind + comment("a missing " + at.name + " is supplied as \"" + at.default_value +
                                 "\", a value that may not be written") +
                   "\n";
        out += ind + "<attribute name=\"" + escape(at.name) + "\"" +
               (annotate ? " a:defaultValue=\"" + escape(at.default_value) + "\"" : "") + ">\n";
        if (at.values.empty()) {
            out += ind + "  <text/>\n";
        } else {
            if (!std::all_of(at.values.begin(), at.values.end(), xml_text::is_chars)) {
                std::string why = "values no XML document can hold are left out";
                out += ind + "  " + comment(why) + "\n";
                x.loosened.push_back("attribute " + printable(at.name) + " of " + printable(el.name) + ": " + why);
            }
            out += ind + "  <choice>\n";
            for (const std::string& v : at.values)
                if (xml_text::is_chars(v)) out += ind + "    <value type=\"string\">" + escape(v) + "</value>\n";
            out += ind + "  </choice>\n";
        }
        out += ind + "</attribute>\n";
        if (!at.required) out += base + "</optional>\n";
    }
    if (interleave) out += "      </interleave>\n";
}

}  // namespace

Export export_rng(const GrammarInfo& g) {
    Export x;
    std::string& out = x.text;
    const int count = static_cast<int>(g.elements.size());
    std::vector<bool> skip(count);
    for (int e = 0; e < count; ++e) skip[e] = !xml_text::is_ncname(g.elements[e].name);
    out += "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
    out += comment("RELAX NG schema of the tarvo grammar '" + g.name + "', written by tarvo export") + "\n";
    out += "<grammar xmlns=\"http://relaxng.org/ns/structure/1.0\"\n"
           "         xmlns:a=\"http://relaxng.org/ns/compatibility/annotations/1.0\">\n";
    // Any declared element may head a document.
    out += "  <start>\n";
    if (std::count(skip.begin(), skip.end(), false) == 0) {
        out += "    <notAllowed/>\n";
    } else {
        out += "    <choice>\n";
        for (int e = 0; e < count; ++e)
            if (!skip[e]) out += "      <ref name=\"" + define_name(g, e) + "\"/>\n";
        out += "    </choice>\n";
    }
    out += "  </start>\n";
    WorkBudget budget = export_budget(g);
    Expressions expressions(budget);
    std::map<std::vector<int>, Content> done;  // by first list: the same list, the same content
    bool any_used = false;
    for (int e = 0; e < count; ++e) {
        const ElementInfo& el = g.elements[e];
        if (skip[e]) {
            std::string why = "its name cannot stand in a RELAX NG schema (it is not an XML name without a colon); "
                              "no document the schema accepts can hold it";
            out += "  " + comment("left out: element " + el.name + ": " + why) + "\n";
            x.loosened.push_back("element " + printable(el.name) + ": " + why);
            continue;
        }
        budget.begin(export_reserve(el));
        out += "  <define name=\"" + define_name(g, e) + "\">\n";
        if (std::any_of(el.attributes.begin(), el.attributes.end(),
                        [](const AttributeInfo& at) { return at.required && !unwritable(at).empty(); })) {
            // No document can hold a valid one.
            leave_out_attributes(el, "    ", x);
            out += "    <notAllowed/>\n  </define>\n";
            continue;
        }
        out += "    <element name=\"" + escape(el.name) + "\">\n";
        leave_out_attributes(el, "      ", x);
        write_attributes(el, x);
        std::vector<int> key = first_key(g, e);
        auto found = done.find(key);
        if (found == done.end()) found = done.emplace(std::move(key), content(g, e, skip, expressions)).first;
        const Content& c = found->second;
        if (!c.why.empty()) {
            out += "      " + comment("loosened: " + c.why) + "\n";
            x.loosened.push_back("element " + el.name + ": " + c.why);
        }
        if (c.kind == Content::kAny) {
            any_used = true;
            out += "      <ref name=\"" + std::string(kAnyDefine) + "\"/>\n";
        } else if (c.kind == Content::kNothing) {
            out += "      " + comment("no content is valid here: every way through it needs an element that is "
                                      "left out, or never closes") +
                   "\n      <notAllowed/>\n";
        } else {
            pattern(g, c.r, 6, out);
        }
        out += "    </element>\n  </define>\n";
    }
    if (any_used) {
        // What a content too large to work out is written as.
        out += "  <define name=\"" + std::string(kAnyDefine) + "\">\n    <zeroOrMore>\n      <choice>\n"
               "        <text/>\n";
        for (int e = 0; e < count; ++e)
            if (!skip[e]) out += "        <ref name=\"" + define_name(g, e) + "\"/>\n";
        out += "      </choice>\n    </zeroOrMore>\n  </define>\n";
    }
    out += "</grammar>\n";
    return x;
}

}  // namespace tarvo
