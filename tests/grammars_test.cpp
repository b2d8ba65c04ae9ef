// The twelve built-in grammar tables: catalogue figures, the name index and
// the lookups a host builds its per-grammar data from, a few lists and rules
// read back against values written out here by hand, and the documented
// behaviour of the six small grammars.
#include <gtest/gtest.h>

#include <tuple>

#include "test_support.h"

namespace tarvo {
namespace {

using namespace testing;

S name_of(const ElementRule& e) { return {e.name, e.name_length}; }

struct CatalogueEntry { const char *name, *source; int figures[4]; };  // elements, element rows, text rows, rules

const CatalogueEntry kCatalogue[] = {
    {"lumoTools", "share/xml/lumoTools", {8, 8, 1, 2}},
    {"lumoCodeCoverage", "share/xml/lumoCodeCoverage", {3, 4, 1, 7}},
    {"lumoDiagram", "share/xml/lumoDiagram", {45, 65, 1, 125}},
    {"lumoDocument", "share/xml/lumoDocument", {15, 16, 1, 26}},
    {"lumoDictionaryObjects", "share/xml/lumoDictionaryObjects", {41, 51, 1, 66}},
    {"lumoMSCBasedSystemCheckReport", "share/xml/lumoMSCBasedSystemCheckReport", {6, 8, 1, 11}},
    {"lumoProject", "share/xml/lumoProject", {76, 82, 1, 183}},
    {"PrintLanguage", "share/print/PrintLanguage", {11, 16, 2, 56}},
    {"DigitalTwinAPI", "share/xml/DigitalTwinAPI", {67, 67, 0, 91}},
    {"dictionary", "share/gui/lang/dictionary", {4, 4, 1, 0}},
    {"bpmn_project", "share/bpmn/bpmn_project", {2, 2, 0, 2}},
    {"heatmap", "share/bpmn/heatmap", {3, 3, 0, 11}},
};

TEST(GrammarCatalogue, FiguresOfEveryGrammarInRegistrationOrderAndInTotal) {
    auto all = grammars();
    ASSERT_EQ(all.size(), std::size(kCatalogue));
    std::vector<int> totals(4), kinds(3);  // rules: mandatory, with an empty default, with a list
    Lines outside;                         // defaults outside their own list, supplied unchecked
    for (size_t i = 0; i < all.size(); ++i) {
        const CatalogueEntry& want = kCatalogue[i];
        const SchemaTable& t = *all[i];
        SCOPED_TRACE(want.name);
        EXPECT_STREQ(t.name, want.name);
        EXPECT_STREQ(t.source_path, want.source);
        std::vector<int> figures = {t.element_count, 0, t.text_row_count, 0};
        for (const ElementRule& r : std::span(t.elements, t.element_count)) {
            figures[1] += r.row_count;
            figures[3] += r.attribute_count;
            for (const AttributeRule& a : std::span(r.attributes, r.attribute_count)) {
                kinds[0] += !a.default_value;
                kinds[1] += a.default_value && !a.default_length;
                kinds[2] += a.allowed_count > 0;
                bool listed = a.allowed_count == 0 || !a.default_value;
                for (int32_t v = 0; !listed && v < a.allowed_count; ++v) listed = S(a.allowed[v]) == a.default_value;
                if (!listed) outside.push_back(S(r.name) + "." + a.name + "=" + a.default_value);
            }
        }
        EXPECT_EQ(figures, std::vector<int>(want.figures, want.figures + 4));
        for (int f = 0; f < 4; ++f) totals[f] += figures[f];
    }
    EXPECT_EQ(totals, (std::vector<int>{281, 326, 10, 580}));
    EXPECT_EQ(kinds, (std::vector<int>{295, 88, 157}));
    EXPECT_EQ(outside, (Lines{"SdlFSMDiagram.language=-", "GenerationOptions.genLumoEnv=-",
                              "GenerationOptions.cSdlOperators=-", "GenerationOptions.useEnvMacros=-"}));
    for (const char* probe : {"lumodiagram", "lumoDiagra", "lumoDiagramX", "", "Dictionary"})
        EXPECT_EQ(find_grammar(probe), nullptr) << probe;
}

// The table invariants are checked by the grammar compiler at build time;
// what only shows here is whether the hashed name index the compiler lays
// out agrees with the reader's lookup and a host's (element_index), and
// whether the attribute declarations a host reads agree with grammar_info().
TEST(GrammarTables, EveryElementIsFoundByItsExactNameOnly) {
    for (const SchemaTable* tp : grammars()) {
        const SchemaTable& t = *tp;
        const GrammarInfo info = grammar_info(t);
        ASSERT_EQ(element_count(t), static_cast<int>(info.elements.size())) << t.name;
        auto scan = [&](const S& n) {  // the plain linear lookup
            for (int32_t e = 0; e < t.element_count; ++e)
                if (name_of(t.elements[e]) == n) return e;
            return -1;
        };
        for (int32_t e = 0; e < t.element_count; ++e) {
            S name = name_of(t.elements[e]), longer = name, flipped = name;
            longer.push_back(' ');
            flipped[0] = static_cast<char>(flipped[0] ^ 0x20);  // the other letter case
            for (const S& n : {name, longer, name.substr(0, name.size() - 1), flipped, name + '\0'}) {
                EXPECT_EQ(find_element(t, n), scan(n)) << t.name << " '" << n << "'";
                EXPECT_EQ(element_index(t, n), scan(n)) << t.name << " '" << n << "'";
            }
            EXPECT_EQ(scan(name), e);
            EXPECT_EQ(element_name(t, e), name);
            // As grammar_info() describes them; "" is a default, not its absence.
            const std::vector<AttributeInfo>& described = info.elements[e].attributes;
            ASSERT_EQ(attribute_count(t, e), static_cast<int>(described.size())) << t.name << " " << name;
            for (int a = 0; a < attribute_count(t, e); ++a) {
                const AttributeDeclaration d = attribute_declaration(t, e, a);
                EXPECT_EQ(std::tuple(S(d.name), d.required, S(d.default_value)),
                          std::tuple(described[a].name, described[a].required, described[a].default_value));
            }
        }
        EXPECT_EQ(find_element(t, ""), -1) << t.name;
        EXPECT_EQ(element_index(t, ""), -1) << t.name;
    }
    const SchemaTable& heatmap = grammar("heatmap");
    auto declared = [&](const S& element, const S& attribute) {
        const int e = element_index(heatmap, element);
        for (int a = 0; a < attribute_count(heatmap, e); ++a)
            if (const AttributeDeclaration d = attribute_declaration(heatmap, e, a); d.name == attribute)
                return (d.required ? "required " : "default ") + S(d.default_value);
        return S("none");
    };
    EXPECT_EQ(declared("Heatmap", "title"), "default ");
    EXPECT_EQ(declared("Element", "model_file"), "required ");
}

// Lists and attribute rules written the way the grammar sources write them.
S spell(const SchemaTable& t, const SuccessorRow& row) {
    S out;
    for (const ContentPosition& p : std::span(row.successors, row.count)) {
        out += out.empty() ? "" : " ";
        if (p.element == POSITION_END) out += "END";
        else if (p.element == POSITION_TEXT) out += "TEXT/" + std::to_string(p.context);
        else out += name_of(t.elements[p.element]) + "/" + std::to_string(p.context);
    }
    return out;
}

S spell(const AttributeRule& r) {
    S out = r.default_value ? "default \"" + S(r.default_value) + "\"" : "required";
    for (int32_t v = 0; v < r.allowed_count; ++v) out.append(v ? " " : " values ").append(r.allowed[v]);
    return out;
}

TEST(GrammarData, ReadBackAsWritten) {
    // `what` is "first", "row N", "text N" (of the grammar) or "attr N NAME" (the rule's position and name).
    struct Item { const char* grammar; const char* element; S what, expected; };
    const Item items[] = {
        {"lumoDiagram", "SdlFSMSymbol", "row 6", "END SaveTransition/0 NormalStateTransition/0"},
        {"lumoDocument", "DocumentSectionHeaderTextItem", "row 1", "END DocumentSectionHeaderTextItem/1"},
        {"lumoDictionaryObjects", "SignalReference", "row 1", "SignalReference/1 SignalListReference/1 "
         "DeclarationSymbols/1 DefiningSymbols/0 UsingSymbols/0 END SourceFilePosition/0"},
        {"lumoProject", "DiagramNode", "row 1", "END DiagramNode/1 SourceFileNode/1 ReferencedNode/1"},
        {"lumoProject", "PreprocessorCommand", "attr 2 systemInclude", "default \"-isystem \""},
        {"PrintLanguage", nullptr, "text 1", "END TEXT/1 cr/1 space/1 area/0"},
        {"PrintLanguage", "text", "attr 12 justify", "default \"CENTER\" values CENTER LEFT RIGHT"},
        {"DigitalTwinAPI", "RemoteProcedureCall", "first", "RemoteProcedureParams/0"},
        {"DigitalTwinAPI", "ActivityProgress", "attr 6 final", "default \"false\" values false true"},
    };
    for (const Item& c : items) {
        const SchemaTable& t = grammar(c.grammar);
        int n = c.what == "first" ? 0 : std::stoi(c.what.substr(c.what.find(' ')));
        const ElementRule* e = c.element ? &t.elements[find_element(t, c.element)] : nullptr;
        S got = "none";
        if (c.what.starts_with("text") && n < t.text_row_count) got = spell(t, t.text_rows[n]);
        if (c.what == "first") got = spell(t, {{}, e->first_count, e->first});
        if (c.what.starts_with("row") && n < e->row_count) got = spell(t, e->rows[n]);
        if (c.what.starts_with("attr") && find_attribute_rule(*e, c.what.substr(c.what.rfind(' ') + 1)) == n)
            got = spell(e->attributes[n]);
        EXPECT_EQ(got, c.expected) << c.grammar << " " << (c.element ? c.element : "") << " " << c.what;
    }
}

// ---- the six small grammars: their documented cases ----

TEST(SmallGrammars, DocumentedCases) {
    run_cases("lumoTools", {
        accepted(R"(<ToolSet><Menu name="F"><Tool name="O"><ToolCommand>o</ToolCommand><ToolShortcut/><ToolBinding/>)"
                 "</Tool></Menu><AdditionHookCommand/><RemovalHookCommand/></ToolSet>"),
        {"empty tool set", xml("<ToolSet></ToolSet>"), 0, 0, "", "", {"start ToolSet", "end ToolSet"}},
        refused("<Menu name=\"M\">\n</Menu>", closing(missing_first("Menu"), "Menu", 3)),
        refused(R"(<Tool name="T"><ToolCommand/><ToolShortcut/></Tool>)",
                closing(missing_successor("ToolShortcut", 0), "Tool")),
        refused("<ToolSet><RemovalHookCommand/><AdditionHookCommand/>",
                opening(successor("RemovalHookCommand", 0), "AdditionHookCommand")),
        refused("<Menu>", in_attributes(mandatory("name"), "Menu")),
    });
    const S node = R"(<CodeCoverageResultNode name="n" minHit="0" maxHit="1")";
    const Lines node_events = {"start CodeCoverageResultNode type=sys symbolId= diagramFileName= name=n minHit=0 "
                               "maxHit=1", "end CodeCoverageResultNode"};
    run_cases("lumoCodeCoverage", {
        {"defaults", xml("<CodeCoverageResults>" + node + "/></CodeCoverageResults>"), 0, 0, "", "",
         {"start CodeCoverageResults displayMode=hits", node_events[0], node_events[1], "end CodeCoverageResults"}},
        refused(R"(<CodeCoverageResults displayMode="count">)",
                in_attributes(invalid("count", "displayMode"), "CodeCoverageResults")),
        {"wrong type tolerated", xml(node + " type=\"Task\"/>"), 1, 0, "", replaced("Task", "type"), node_events},
        refused(R"(<CodeCoverageResultNode maxHit="1"/>)", in_attributes(mandatory("name"), "CodeCoverageResultNode")),
        refused("<CodeCoverageResults>" + node + "/>" + node + "/>",
                opening(successor("CodeCoverageResultNode", 0), "CodeCoverageResultNode")),
        refused(node + "><CoveringTestcase/>" + node + "/><CoveringTestcase/>",
                opening(successor("CodeCoverageResultNode", 1), "CoveringTestcase")),
    });
    const S results = "<CodeCoverageResults>" + node + "/></CodeCoverageResults>";
    const S scenario = R"(<Scenario full_name="a" verdict="pass"/>)";
    run_cases("lumoMSCBasedSystemCheckReport", {
        accepted("<MSCBasedSystemCheckReport>" + scenario + scenario + R"(<SymbolCoverage nb_symbols_total="2">)" +
                 results + results + "</SymbolCoverage></MSCBasedSystemCheckReport>"),
        refused("<MSCBasedSystemCheckReport/>",
                closing(missing_first("MSCBasedSystemCheckReport"), "MSCBasedSystemCheckReport")),
        refused("<MSCBasedSystemCheckReport>" + scenario + "</MSCBasedSystemCheckReport>",
                closing(missing_successor("Scenario", 0), "MSCBasedSystemCheckReport")),
        refused(R"(<SymbolCoverage nb_symbols_total="1">)" + results + "</SymbolCoverage>",
                closing(missing_successor("CodeCoverageResults", 0), "SymbolCoverage")),
        {"displayMode tolerated", xml(R"(<CodeCoverageResults displayMode="hits">)" + node + "/>"), 2, 1,
         at(2, "unexpected end of file in text"), unknown_attribute("displayMode"),
         {"start CodeCoverageResults displayMode=hits", node_events[0], node_events[1]}},
        refused(R"(<Scenario full_name="a" verdict="v">x</Scenario>)", no_text(first_child("Scenario"))),
        refused("<Scenario/>", in_attributes(mandatory("verdict"), "Scenario")),
    });
    run_cases("dictionary", {
        refused("<target lang=\"fi\"/>", in_attributes(unknown_attribute("lang"), "target"), 1),
        {"attribute tolerated", xml("<dictionary lang=\"fi\"/>"), 2, 0, "", unknown_attribute("lang"),
         {"start dictionary lang=fi", "end dictionary"}},
        refused("<translation><source/><target/><target/>", opening(successor("target", 0), "target")),
    });
    run_cases("bpmn_project", {
        accepted(R"(<BpmnProject><ElementNode file_name="a" type="bpmn_model"><ElementNode file_name="b" type="msc">)"
                 R"(<ElementNode file_name="c" type="heatmap"/></ElementNode></ElementNode></BpmnProject>)"),
        accepted("<BpmnProject></BpmnProject>"),
        refused(R"(<ElementNode file_name="a" type="msc"> x </ElementNode>)", no_text(first_child("ElementNode"))),
        refused(R"(<ElementNode file_name="a" type="BPMN_MODEL"/>)",
                in_attributes(invalid("BPMN_MODEL", "type"), "ElementNode"), 1),
        refused(R"(<ElementNode type="msc"/>)", in_attributes(mandatory("file_name"), "ElementNode")),
    });
    const S element = R"(<Element model_file="m" id="i" value="n/a"/>)";
    run_cases("heatmap", {
        accepted("<Heatmap><Colors/>" + element + element + "</Heatmap>"),
        {"wrong colour space tolerated", xml(R"(<Colors gradient_color_space="CMYK"/>)"), 1, 0, "",
         replaced("CMYK", "gradient_color_space"),
         {"start Colors gradient_color_space=HSVs init_alpha=0.75 min_color=#00FF00 max_color=#FF0000", "end Colors"}},
        refused("<Heatmap>" + element + "<Colors/>", opening(successor("Element", 0), "Colors")),
        refused("<Heatmap><Colors/><Colors/>", opening(successor("Colors", 0), "Colors")),
    });
}

}  // namespace
}  // namespace tarvo
