// The grammar checks called directly on the built-in tables.
#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "diag/reporter.h"
#include "schema/attributes.h"
#include "schema/content_model.h"
#include "schema/schema_table.h"
#include "tarvo/tarvo.h"

namespace tarvo {
namespace {

const SchemaTable& grammar(const std::string& name) {
    const SchemaTable* g = find_grammar(name);
    if (!g) throw std::invalid_argument("no grammar " + name);
    return *g;
}

// Positions written as in the grammar files: "Name/c", "TEXT/c", "END";
// "" is no position.
struct Pos {
    bool present = false;
    ContentPosition p{};
    const ContentPosition* get() const { return present ? &p : nullptr; }
};

Pos pos(const SchemaTable& t, const std::string& s) {
    if (s.empty()) return {};
    if (s == "END") return {true, {POSITION_END, -1}};
    size_t slash = s.find('/');
    std::string name = s.substr(0, slash);
    int c = std::stoi(s.substr(slash + 1));
    if (name == "TEXT") return {true, {POSITION_TEXT, c}};
    int e = find_element(t, name);
    if (e < 0) throw std::invalid_argument("no element " + name);
    return {true, {e, c}};
}

std::string show(const SchemaTable& t, const ContentPosition* p) {
    if (!p) return "";
    if (p->element == POSITION_END) return "END";
    if (p->element == POSITION_TEXT) return "TEXT/" + std::to_string(p->context);
    return std::string(element_name(t, p->element)) + "/" + std::to_string(p->context);
}

enum Check { Start, Text, End };

struct ModelCase {
    const char* grammar;
    Check check;
    const char* name;  // start and end tags
    const char* open;
    const char* previous;
    const char* result;  // start/text: position or ""; end: "true" or ""
    const char* error;   // "" when none is expected
};

const ModelCase kModelCases[] = {
    // dictionary: source 0, translation 1, target 2, dictionary 3.
    {"dictionary", Start, "target", "", "", "target/0", ""},  // any declared element may be the root
    {"dictionary", Start, "dictionary", "", "", "dictionary/0", ""},
    {"dictionary", Start, "Dictionary", "", "", "", "Element 'Dictionary' unknown in DTD"},
    {"dictionary", Start, "dict", "dictionary/0", "", "", "Element 'dict' unknown in DTD"},
    {"dictionary", Start, "", "dictionary/0", "", "", "Element '' unknown in DTD"},
    {"dictionary", Start, "translation", "dictionary/0", "", "translation/0", ""},
    {"dictionary", Start, "translation", "dictionary/0", "translation/0", "translation/0", ""},
    {"dictionary", Start, "source", "translation/0", "", "source/0", ""},
    {"dictionary", Start, "target", "translation/0", "",
     "", "Element is invalid as first child of container element 'translation'"},
    {"dictionary", Start, "target", "translation/0", "source/0", "target/0", ""},
    {"dictionary", Start, "target", "translation/0", "target/0",
     "", "Element is invalid as successor of current element 'target' in this context (0)"},
    {"dictionary", Start, "target", "source/0", "TEXT/0",
     "", "Element is invalid within character data in this context (0)"},
    {"dictionary", Start, "dictionary", "", "dictionary/0",  // after the root has closed
     "", "Element is invalid as successor of current element 'dictionary' in this context (0)"},
    {"dictionary", Start, "target", "", "source/0", "target/0", ""},
    {"dictionary", Text, "", "source/0", "", "TEXT/0", ""},
    {"dictionary", Text, "", "translation/0", "", "", "Element is invalid as first child of container element 'translation'"},
    {"dictionary", Text, "", "translation/0", "source/0",
     "", "Element is invalid as successor of current element 'source' in this context (0)"},
    {"dictionary", Text, "", "source/0", "TEXT/0", "", "Element is invalid within character data in this context (0)"},
    {"dictionary", End, "translation", "dictionary/0", "",
     "", "Close tag for 'translation' does not match opened element ('dictionary')"},
    {"dictionary", End, "dictionary", "dictionary/0", "", "true", ""},
    {"dictionary", End, "source", "source/0", "", "true", ""},  // TEXT/0 first: may be empty
    {"dictionary", End, "source", "source/0", "TEXT/0", "true", ""},
    {"dictionary", End, "translation", "translation/0", "", "", "Missing first child for container element 'translation'"},
    {"dictionary", End, "translation", "translation/0", "source/0",
     "", "Missing successor for current element 'source' in this context (0)"},
    {"dictionary", End, "translation", "translation/0", "target/0", "true", ""},
    {"dictionary", End, "Translation", "translation/0", "target/0",
     "", "Close tag for 'Translation' does not match opened element ('translation')"},
    // Context numbers other than 0.
    {"lumoCodeCoverage", Start, "CodeCoverageResultNode", "CodeCoverageResultNode/0", "CoveringTestcase/0",
     "CodeCoverageResultNode/1", ""},
    {"lumoCodeCoverage", Start, "CoveringTestcase", "CodeCoverageResultNode/1", "CodeCoverageResultNode/1",
     "", "Element is invalid as successor of current element 'CodeCoverageResultNode' in this context (1)"},
    {"lumoCodeCoverage", Start, "CodeCoverageResultNode", "CodeCoverageResults/0", "CodeCoverageResultNode/0",
     "", "Element is invalid as successor of current element 'CodeCoverageResultNode' in this context (0)"},
    {"lumoCodeCoverage", End, "CodeCoverageResults", "CodeCoverageResults/0", "",
     "", "Missing first child for container element 'CodeCoverageResults'"},
    {"lumoMSCBasedSystemCheckReport", Start, "CodeCoverageResults", "SymbolCoverage/0", "CodeCoverageResults/0",
     "CodeCoverageResults/1", ""},
    {"lumoMSCBasedSystemCheckReport", Start, "CodeCoverageResults", "SymbolCoverage/0", "CodeCoverageResults/1",
     "", "Element is invalid as successor of current element 'CodeCoverageResults' in this context (1)"},
    {"lumoMSCBasedSystemCheckReport", End, "SymbolCoverage", "SymbolCoverage/0", "CodeCoverageResults/0",
     "", "Missing successor for current element 'CodeCoverageResults' in this context (0)"},
    {"lumoMSCBasedSystemCheckReport", End, "SymbolCoverage", "SymbolCoverage/0", "CodeCoverageResults/1", "true", ""},
    {"lumoMSCBasedSystemCheckReport", Text, "", "Scenario/0", "", "", "Element is invalid as first child of container element 'Scenario'"},
    {"lumoMSCBasedSystemCheckReport", End, "MSCBasedSystemCheckReport", "MSCBasedSystemCheckReport/0", "Scenario/0",
     "", "Missing successor for current element 'Scenario' in this context (0)"},
    {"PrintLanguage", Start, "line", "text/0", "TEXT/1", "", "Element is invalid within character data in this context (1)"},
    {"PrintLanguage", Start, "area", "text/0", "TEXT/1", "area/0", ""},
    {"PrintLanguage", Text, "", "text/0", "TEXT/1", "TEXT/1", ""},
    {"lumoTools", Start, "AdditionHookCommand", "ToolSet/0", "RemovalHookCommand/0",
     "", "Element is invalid as successor of current element 'RemovalHookCommand' in this context (0)"},
    {"lumoTools", End, "Menu", "Menu/0", "", "", "Missing first child for container element 'Menu'"},
    {"lumoTools", End, "Tool", "Tool/0", "ToolShortcut/0",
     "", "Missing successor for current element 'ToolShortcut' in this context (0)"},
    {"lumoTools", End, "ToolSet", "ToolSet/0", "", "true", ""},
    {"bpmn_project", Text, "", "ElementNode/0", "", "", "Element is invalid as first child of container element 'ElementNode'"},
    {"bpmn_project", Text, "", "BpmnProject/0", "ElementNode/0",
     "", "Element is invalid as successor of current element 'ElementNode' in this context (0)"},
    {"heatmap", Start, "Colors", "Heatmap/0", "Element/0",
     "", "Element is invalid as successor of current element 'Element' in this context (0)"},
    {"heatmap", Start, "Element", "Heatmap/0", "Colors/0", "Element/0", ""},
    // An empty list accepts the end of the open element.
    {"heatmap", End, "Heatmap", "Heatmap/0", "Heatmap/0", "true", ""},
};

std::string run_model_case(const ModelCase& c) {
    const SchemaTable& t = grammar(c.grammar);
    Pos open = pos(t, c.open), previous = pos(t, c.previous);
    switch (c.check) {
    case Start: return show(t, accept_start_tag(t, c.name, open.get(), previous.get()));
    case Text: return show(t, accept_text(t, open.get(), previous.get()));
    case End: return accept_end_tag(t, c.name, open.get(), previous.get()) ? "true" : "";
    }
    return "?";
}

std::string label(const ModelCase& c) {
    return std::string(c.grammar) + " " + "STE"[c.check] + " '" + c.name + "' open=" + c.open + " prev=" + c.previous;
}

TEST(ContentModel, EveryCheckAndMessage) {
    for (const ModelCase& c : kModelCases) {
        StrBuf w, e;
        Reporter r(w, e);
        EXPECT_EQ(run_model_case(c), c.result) << label(c);
        EXPECT_EQ(e.str(), c.error) << label(c);
        EXPECT_EQ(w.str(), "") << label(c);
        EXPECT_EQ(r.error_flag(), *c.error != '\0') << label(c);
    }
}

TEST(ContentModel, WithoutReporterSameResultsAndNothingWritten) {
    StrBuf w, e;
    Reporter elsewhere(w, e);  // registered for this thread only
    std::vector<std::string> results;
    std::thread worker([&] {
        for (const ModelCase& c : kModelCases) results.push_back(run_model_case(c));
    });
    worker.join();
    ASSERT_EQ(results.size(), std::size(kModelCases));
    for (size_t i = 0; i < results.size(); ++i) EXPECT_EQ(results[i], kModelCases[i].result) << label(kModelCases[i]);
    EXPECT_EQ(e.str(), "");
    EXPECT_FALSE(elsewhere.error_flag());
}

TEST(ContentModel, ResultIsTheTableEntry) {
    const SchemaTable& t = grammar("heatmap");
    const ElementRule& heatmap = t.elements[find_element(t, "Heatmap")];
    const ElementRule& colors = t.elements[find_element(t, "Colors")];
    ContentPosition open{heatmap.index, 0};
    EXPECT_EQ(accept_start_tag(t, "Colors", &open, nullptr), &heatmap.first[0]);
    EXPECT_EQ(accept_start_tag(t, "Element", &open, &colors.rows[0].own), &colors.rows[0].successors[1]);
    EXPECT_EQ(accept_start_tag(t, "Heatmap", nullptr, nullptr), &heatmap.rows[0].own);
}

// ---- check_attributes ----

struct AttrCase {
    const char* grammar;
    const char* element;
    std::vector<std::pair<std::string, std::string>> given;  // in insertion order
    int flags;
    bool ok;
    std::vector<std::string> set;  // "name=value" in key order, checked on success
    std::vector<std::string> warnings;
    std::vector<std::string> errors;
};

const std::vector<std::string> kColorDefaults = {"init_alpha=0.75", "gradient_color_space=HSVs",
                                                  "min_color=#00FF00", "max_color=#FF0000"};
const std::vector<std::string> kColorsGivenSpace = {"gradient_color_space=HSVs", "init_alpha=0.75",
                                                     "min_color=#00FF00", "max_color=#FF0000"};

const std::vector<AttrCase> kAttrCases = {
    {"heatmap", "Colors", {}, 0, true, kColorDefaults, {}, {}},
    {"heatmap", "Heatmap", {}, 0, true, {"title=", "min_value=-", "max_value=-"}, {}, {}},
    {"heatmap", "Element", {{"value", "v"}, {"id", "i"}, {"model_file", "m"}}, 0, true,
     {"model_file=m", "id=i", "value=v", "label="}, {}, {}},
    // Same bucket: a given attribute stays ahead of a default added later.
    {"heatmap", "Colors", {{"gradient_color_space", "RGB"}}, 0, true,
     {"gradient_color_space=RGB", "init_alpha=0.75", "min_color=#00FF00", "max_color=#FF0000"}, {}, {}},
    {"heatmap", "Colors", {{"init_alpha", "not a number"}, {"min_color", "blue"}}, 0, true,
     {"init_alpha=not a number", "gradient_color_space=HSVs", "min_color=blue", "max_color=#FF0000"}, {}, {}},
    {"heatmap", "Colors", {{"gradient_color_space", "hsvs"}}, 0, false, {}, {},
     {"Invalid attribute value 'hsvs' for attribute 'gradient_color_space'"}},
    {"heatmap", "Colors", {{"gradient_color_space", "hsvs"}}, 2, false, {}, {},
     {"Invalid attribute value 'hsvs' for attribute 'gradient_color_space'"}},
    // A replaced value keeps its place, ahead of init_alpha in the same bucket.
    {"heatmap", "Colors", {{"gradient_color_space", "hsvs"}}, 1, true, kColorsGivenSpace,
     {"Invalid attribute value 'hsvs' for attribute 'gradient_color_space' - getting default value"}, {}},
    {"heatmap", "Colors", {{"gradient_color_space", ""}}, 1 | 4 | 8, true, kColorsGivenSpace,
     {"Invalid attribute value '' for attribute 'gradient_color_space' - getting default value"}, {}},
    {"heatmap", "Colors", {{"gradient_color_space", "RGB "}}, 4 | 8, false, {}, {},
     {"Invalid attribute value 'RGB ' for attribute 'gradient_color_space'"}},
    {"heatmap", "Element", {{"model_file", "m"}}, 0, false, {}, {}, {"No value found for mandatory attribute 'id'"}},
    {"heatmap", "Element", {{"model_file", "m"}}, 3, false, {}, {}, {"No value found for mandatory attribute 'id'"}},
    {"heatmap", "Element", {}, 3, false, {}, {}, {"No value found for mandatory attribute 'model_file'"}},
    {"heatmap", "Element", {{"model_file", ""}, {"id", ""}, {"value", ""}}, 0, true,
     {"model_file=", "id=", "value=", "label="}, {}, {}},
    // Undeclared attributes: key order (bucket, then insertion), the first refused.
    {"heatmap", "Colors", {{"zz", "1"}, {"ab", "2"}, {"ba", "3"}}, 0, false, {}, {}, {"Unknown attribute 'ba'"}},
    {"heatmap", "Colors", {{"zz", "1"}, {"ab", "2"}, {"ba", "3"}}, 2, true,
     {"ba=3", "ab=2", "init_alpha=0.75", "gradient_color_space=HSVs", "min_color=#00FF00", "max_color=#FF0000", "zz=1"},
     {"Unknown attribute 'ba'", "Unknown attribute 'ab'", "Unknown attribute 'zz'"}, {}},
    {"heatmap", "Element", {{"y", "1"}, {"model_file", "m"}, {"x", "2"}, {"id", "i"}, {"value", "v"}}, 2, true,
     {"y=1", "x=2", "model_file=m", "id=i", "value=v", "label="},
     {"Unknown attribute 'y'", "Unknown attribute 'x'"}, {}},
    // First pass before second pass, in the warning text as well.
    {"heatmap", "Colors", {{"ab", "1"}, {"gradient_color_space", "cmyk"}}, 3, true,
     {"ab=1", "gradient_color_space=HSVs", "init_alpha=0.75", "min_color=#00FF00", "max_color=#FF0000"},
     {"Invalid attribute value 'cmyk' for attribute 'gradient_color_space' - getting default value",
      "Unknown attribute 'ab'"}, {}},
    {"heatmap", "Element", {{"ab", "1"}, {"model_file", "m"}}, 2, false, {}, {},
     {"No value found for mandatory attribute 'id'"}},
    {"heatmap", "Colors", {{"ab", "1"}, {"gradient_color_space", "cmyk"}}, 2, false, {}, {},
     {"Invalid attribute value 'cmyk' for attribute 'gradient_color_space'"}},
    // No default: a wrong value fails whatever the flags.
    {"bpmn_project", "ElementNode", {{"file_name", "a.bpmn"}, {"type", "BPMN_MODEL"}}, 1, false, {}, {},
     {"Invalid attribute value 'BPMN_MODEL' for attribute 'type'"}},
    {"bpmn_project", "ElementNode", {{"type", "msc"}}, 0, false, {}, {},
     {"No value found for mandatory attribute 'file_name'"}},
    {"bpmn_project", "ElementNode", {{"file_name", "a"}, {"type", "heatmap"}}, 0, true, {"type=heatmap", "file_name=a"},
     {}, {}},
    {"lumoCodeCoverage", "CodeCoverageResultNode", {{"maxHit", "1"}}, 0, false, {}, {},
     {"No value found for mandatory attribute 'name'"}},
    {"lumoCodeCoverage", "CodeCoverageResultNode", {{"name", "n"}, {"maxHit", "1"}, {"minHit", "0"}}, 0, true,
     {"type=sys", "symbolId=", "diagramFileName=", "name=n", "minHit=0", "maxHit=1"}, {}, {}},
    {"lumoCodeCoverage", "CodeCoverageResultNode",
     {{"name", "n"}, {"maxHit", "1"}, {"minHit", "0"}, {"type", "State"}}, 1, true,
     {"type=sys", "symbolId=", "diagramFileName=", "name=n", "minHit=0", "maxHit=1"},
     {"Invalid attribute value 'State' for attribute 'type' - getting default value"}, {}},
    {"lumoCodeCoverage", "CodeCoverageResults", {{"displayMode", "yesno"}}, 0, true, {"displayMode=yesno"}, {}, {}},
    {"lumoCodeCoverage", "CodeCoverageResults", {{"displayMode", "count"}}, 0, false, {}, {},
     {"Invalid attribute value 'count' for attribute 'displayMode'"}},
    {"lumoMSCBasedSystemCheckReport", "Scenario", {{"failed_link_id", "1"}}, 0, false, {}, {},
     {"No value found for mandatory attribute 'verdict'"}},
    {"lumoMSCBasedSystemCheckReport", "CodeCoverageResults", {{"displayMode", "hits"}}, 0, false, {}, {},
     {"Unknown attribute 'displayMode'"}},
    {"lumoMSCBasedSystemCheckReport", "CodeCoverageResults", {{"displayMode", "hits"}}, 2, true, {"displayMode=hits"},
     {"Unknown attribute 'displayMode'"}, {}},
    {"dictionary", "source", {{"lang", "fi"}}, 1, false, {}, {}, {"Unknown attribute 'lang'"}},
    {"dictionary", "source", {}, 0, true, {}, {}, {}},
    {"lumoTools", "Menu", {}, 0, false, {}, {}, {"No value found for mandatory attribute 'name'"}},
};

struct AttrOutcome {
    bool ok;
    std::vector<std::string> set;
};

AttrOutcome run_attr_case(const AttrCase& c) {
    const SchemaTable& t = grammar(c.grammar);
    AttributeSet set;
    for (const auto& [name, value] : c.given) set.set(name, AttributeValue{value});
    bool ok = check_attributes(t, find_element(t, c.element), set, c.flags);
    AttrOutcome out{ok, {}};
    for (const auto& e : set) out.set.push_back(e.key + "=" + e.value.text);
    return out;
}

std::string label(const AttrCase& c) {
    std::string s = std::string(c.grammar) + " <" + c.element;
    for (const auto& [n, v] : c.given) s += " " + n + "=\"" + v + "\"";
    return s + "> flags " + std::to_string(c.flags);
}

TEST(CheckAttributes, EveryMessageAndDefault) {
    for (const AttrCase& c : kAttrCases) {
        StrBuf w, e;
        Reporter r(w, e);
        AttrOutcome out = run_attr_case(c);
        EXPECT_EQ(out.ok, c.ok) << label(c);
        if (c.ok) {
            EXPECT_EQ(out.set, c.set) << label(c);
        }
        EXPECT_EQ(r.warning_messages(), c.warnings) << label(c);
        EXPECT_EQ(r.error_messages(), c.errors) << label(c);
        EXPECT_EQ(r.error_flag(), !c.errors.empty()) << label(c);
    }
}

TEST(CheckAttributes, WithoutReporterSameResultsAndNothingWritten) {
    StrBuf w, e;
    Reporter elsewhere(w, e);
    std::vector<AttrOutcome> outcomes;
    std::thread worker([&] {
        for (const AttrCase& c : kAttrCases) outcomes.push_back(run_attr_case(c));
    });
    worker.join();
    ASSERT_EQ(outcomes.size(), kAttrCases.size());
    for (size_t i = 0; i < outcomes.size(); ++i) {
        EXPECT_EQ(outcomes[i].ok, kAttrCases[i].ok) << label(kAttrCases[i]);
        if (kAttrCases[i].ok) {
            EXPECT_EQ(outcomes[i].set, kAttrCases[i].set) << label(kAttrCases[i]);
        }
    }
    EXPECT_EQ(w.str(), "");
    EXPECT_EQ(e.str(), "");
}

TEST(CheckAttributes, RuleIndexOfEachAttribute) {
    const SchemaTable& t = grammar("heatmap");
    AttributeSet set;
    set.set("zz", AttributeValue{"1"});
    set.set("max_color", AttributeValue{"#000000"});
    ASSERT_TRUE(check_attributes(t, find_element(t, "Colors"), set, PARSE_IGNORE_UNKNOWN_ATTRIBUTES));
    std::vector<std::pair<std::string, int>> rules;
    for (const auto& e : set) rules.emplace_back(e.key, e.value.rule);
    EXPECT_EQ(rules, (std::vector<std::pair<std::string, int>>{
                         {"init_alpha", 0}, {"gradient_color_space", 1}, {"min_color", 2}, {"max_color", 3}, {"zz", -1}}));
}

}  // namespace
}  // namespace tarvo
