// Behaviour of the six large grammars through the file reader: which
// documents they accept, the exact refusal each mistake gets, and the
// attribute sets the handler receives.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "tarvo/tarvo.h"
#include "test_support.h"

namespace tarvo {
namespace {

using S = std::string;
constexpr int kWrongAttrs = PARSE_IGNORE_WRONG_ATTRIBUTES;

// One document and everything its parse must give. Bodies stay on one line,
// so every file message names line 2 (the line after the declaration).
struct Case {
    const char* name;
    S body;
    int flags;
    int status;
    S errors;
    S warnings = "";
    std::vector<S> texts = {};  // expected text events, checked when non-empty
};

void run_cases(const char* grammar, const std::vector<Case>& cases) {
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        testing::Outcome out = testing::parse_document(grammar, testing::xml(c.body), c.flags);
        EXPECT_EQ(out.result.status, c.status);
        EXPECT_EQ(out.result.errors, c.errors);
        EXPECT_EQ(out.result.warnings, c.warnings);
        if (c.texts.empty()) continue;
        std::vector<S> texts;
        for (const S& e : out.events)
            if (e.rfind("text ", 0) == 0) texts.push_back(e);
        EXPECT_EQ(texts, c.texts);
    }
}

// A refusal is the check's own message followed by the reader's line.
S file_line(const S& why, const S& what) { return why + "\nFile doc.xml, line 2: " + what; }
S opening(const S& why, const S& e) { return file_line(why, "error while opening element '" + e + "'"); }
S closing(const S& why, const S& e) { return file_line(why, "error while closing element '" + e + "'"); }
S in_attributes(const S& why, const S& e) { return file_line(why, "error in attributes for element '" + e + "'"); }
S no_text(const S& why) { return file_line(why, "character data is not allowed here"); }
S first_child(const S& parent) { return "Element is invalid as first child of container element '" + parent + "'"; }
S successor(const S& sibling, int context) {
    return "Element is invalid as successor of current element '" + sibling + "' in this context (" +
           std::to_string(context) + ")";
}
S missing_first(const S& parent) { return "Missing first child for container element '" + parent + "'"; }
S missing_successor(const S& sibling, int context) {
    return "Missing successor for current element '" + sibling + "' in this context (" + std::to_string(context) + ")";
}
S mandatory(const S& attribute) { return "No value found for mandatory attribute '" + attribute + "'"; }
S invalid(const S& value, const S& attribute) {
    return "Invalid attribute value '" + value + "' for attribute '" + attribute + "'";
}
S replaced(const S& value, const S& attribute) { return invalid(value, attribute) + " - getting default value"; }

// --- attributes as the start callable receives them ------------------------

class AttributeRecorder : public Handler {
public:
    void start_tag(int, std::string_view name, std::span<const Attribute> attributes) override {
        auto [it, first] = starts.try_emplace(S(name));
        if (!first) return;  // the first tag of that name counts
        for (const Attribute& a : attributes) it->second.emplace(a.name, a.value);
    }
    std::map<S, std::map<S, S>> starts;
};

struct Delivered {
    const char* name;
    S body;
    int flags;
    const char* element;
    std::map<S, S> expected;  // attributes that must arrive with these values
    size_t count;             // attributes delivered in all
    bool rest_empty;          // every other attribute arrives as ""
    S warnings = "";
};

void run_delivered(const char* grammar, const std::vector<Delivered>& cases) {
    for (const Delivered& c : cases) {
        SCOPED_TRACE(c.name);
        testing::TempFile file(testing::xml(c.body));
        AttributeRecorder recorder;
        Result r = parse_file(*find_grammar(grammar), file.path().c_str(), &recorder, c.flags);
        EXPECT_EQ(r.status, kStatusOk) << r.errors;
        EXPECT_EQ(r.warnings, c.warnings);
        const auto& got = recorder.starts[c.element];
        EXPECT_EQ(got.size(), c.count);
        for (const auto& [name, value] : got) {
            auto it = c.expected.find(name);
            if (it != c.expected.end()) {
                EXPECT_EQ(value, it->second) << name;
            } else if (c.rest_empty) {
                EXPECT_EQ(value, "") << name;
            }
        }
        for (const auto& [name, value] : c.expected) EXPECT_EQ(got.count(name), 1u) << name;
    }
}

// --- lumoDiagram -------------------------------------------------------------

const S kSymbol = R"(<Symbol symbolId="1" xCenter="0" yCenter="0" type="sdlState">)";
const S kLink = R"(<Link textSegmentNum="0" type="chnl"><Text/>)";
const S kConnectorTag = R"(<Connector isOutside="FALSE" attachedSymbolId="1" endType="arrow" position="0" type="chnl")";
const S kConnector = kConnectorTag + R"( side="n"><Text/><Text/></Connector>)";

TEST(LumoDiagram, ContentAndAttributeChecks) {
    run_cases("lumoDiagram", {
        {"diagram with symbol and link", R"(<Diagram type="sys"> )" + kSymbol + "<Text>S1</Text></Symbol> " + kLink +
             kConnector + kConnector + "</Link></Diagram>", 0, 0, "", "", {"text Text |S1|"}},
        {"state machine",
         R"(<SdlFSMDiagram><StateTransitionBlock><SdlFSMSymbol identifier="1" type="sdlState"/><NormalStateTransition>)"
         R"(<SdlFSMSymbol identifier="2" type="sdlInputSig"/><Transition><SdlFSMSymbol identifier="3" type="sdlTask"/>)"
         "</Transition></NormalStateTransition></StateTransitionBlock></SdlFSMDiagram>", 0, 0, ""},
        {"nothing follows the root", "<SdlFSMDiagram/><SdlFSMDiagram/>", 0, 1,
         opening(successor("SdlFSMDiagram", 0), "SdlFSMDiagram")},
        {"empty MscDiagram", "<MscDiagram></MscDiagram>", 0, 1, closing(missing_first("MscDiagram"), "MscDiagram")},
        {"link with one connector", kLink + kConnector + "</Link>", 0, 1,
         closing(missing_successor("Connector", 0), "Link")},
        {"link with three connectors", kLink + kConnector + kConnector + kConnector, 0, 1,
         opening(successor("Connector", 1), "Connector")},
        {"third connector ignored", kLink + kConnector + kConnector + kConnector + "</Link>",
         PARSE_IGNORE_WRONG_ELEMENTS, 0, successor("Connector", 1),
         "File doc.xml, line 2: invalid element 'Connector' ignored - trying to continue"},
        {"partition ends after page", "<DiagramPartition><PageSpecification/></DiagramPartition>", 0, 1,
         closing(missing_successor("PageSpecification", 0), "DiagramPartition")},
        {"symbol after chart page", "<MscDiagram><LifelineOrdering/><PageSpecification/>" + kSymbol, 0, 1,
         opening(successor("PageSpecification", 2), "Symbol")},
        {"data first in symbol", kSymbol + "x<Text/></Symbol>", 0, 1, no_text(first_child("Symbol"))},
        {"data after symbol's Text", kSymbol + "<Text/>x</Symbol>", 0, 1, no_text(successor("Text", 2))},
        {"language outside its list", R"(<SdlFSMDiagram language="SDL"/>)", 0, 1,
         in_attributes(invalid("SDL", "language"), "SdlFSMDiagram")},
        {"side has no default", kConnectorTag + R"( side="q"/>)", kWrongAttrs, 1,
         in_attributes(invalid("q", "side"), "Connector")},
        {"first missing of two", R"(<Connector attachedSymbolId="1" endType="arrow" type="chnl" side="n"/>)", 0, 1,
         in_attributes(mandatory("isOutside"), "Connector")},
        {"wrong value before a missing one",
         R"(<Connector isOutside="yes" attachedSymbolId="1" endType="arrow" type="chnl" side="n"/>)", kWrongAttrs, 1,
         in_attributes(invalid("yes", "isOutside"), "Connector")},
        {"three styled texts", R"(<UnifiedPublication fileName="a" type="png"><StyledText/><StyledText/><StyledText/>)",
         0, 1, opening(successor("StyledText", 1), "StyledText")},
        {"transition missing",
         R"(<NormalStateTransition><SdlFSMSymbol identifier="2" type="sdlInputSig"/></NormalStateTransition>)", 0, 1,
         closing(missing_successor("SdlFSMSymbol", 2), "NormalStateTransition")},
    });
}

TEST(LumoDiagram, DeliveredAttributes) {
    run_delivered("lumoDiagram", {
        {"state machine defaults, '-' outside its list", "<SdlFSMDiagram/>", 0, "SdlFSMDiagram",
         {{"is_temporary", "FALSE"}, {"is_extract", "FALSE"}, {"type", "prcs"}, {"language", "-"},
          {"needs_cleanup", "FALSE"}}, 5, false},
        {"wrong language replaced by '-'", R"(<SdlFSMDiagram language="SDL"/>)", kWrongAttrs, "SdlFSMDiagram",
         {{"language", "-"}}, 5, false, replaced("SDL", "language")},
        {"connector without connectorId", kConnector, 0, "Connector",
         {{"isOutside", "FALSE"}, {"attachedSymbolId", "1"}, {"connectorId", ""}, {"endType", "arrow"},
          {"position", "0"}, {"type", "chnl"}, {"side", "n"}}, 7, false},
        {"page defaults", "<PageSpecification/>", 0, "PageSpecification",
         {{"pageHeight", "29.7"}, {"topMargin", "1.5"}, {"rightMargin", "1.5"}, {"pageWidth", "21"},
          {"pageFooter", "TRUE"}, {"bottomMargin", "1.5"}, {"scaleFactor", "1.0"}, {"leftMargin", "1.5"}}, 8, false},
    });
}

// --- lumoDocument ------------------------------------------------------------

const S kTextItem = "<DocumentSectionHeaderTextItem><StyledText/></DocumentSectionHeaderTextItem>";

TEST(LumoDocument, ContentAndAttributeChecks) {
    run_cases("lumoDocument", {
        {"sections, styled text, table",
         R"(<Document><DocumentSection title="Intro"><DocumentSectionHeaderTextItem><StyledText>)"
         R"(<Paragraph paragraphStyle="Normal"><CharacterRange indexEntries="" characterStyle="Plain">)"
         R"(Hello &amp; welcome</CharacterRange></Paragraph><List style="bulleted"><ListItem>)"
         R"(<Paragraph paragraphStyle="Item"/></ListItem></List></StyledText></DocumentSectionHeaderTextItem>)"
         "<DocumentSectionHeaderTableItem><TableRow>" + kTextItem + "</TableRow></DocumentSectionHeaderTableItem>"
         R"(<DocumentSection title="Nested"/></DocumentSection></Document>)", 0, 0, "", "",
         {"text CharacterRange |Hello & welcome|"}},
        {"export format outside its list", R"(<Document defaultExportFormat="docx"/>)", 0, 1,
         in_attributes(invalid("docx", "defaultExportFormat"), "Document")},
        {"empty text item", "<DocumentSectionHeaderTextItem></DocumentSectionHeaderTextItem>", 0, 1,
         closing(missing_first("DocumentSectionHeaderTextItem"), "DocumentSectionHeaderTextItem")},
        {"second styled text", "<DocumentSectionHeaderTextItem><StyledText/><StyledText/>", 0, 1,
         opening(successor("StyledText", 0), "StyledText")},
        {"header item after nested section", R"(<DocumentSection title="a"><DocumentSection title="b"/>)" + kTextItem,
         0, 1, opening(successor("DocumentSection", 0), "DocumentSectionHeaderTextItem")},
        {"table inside a row", "<TableRow><DocumentSectionHeaderTableItem/></TableRow>", 0, 1,
         opening(first_child("TableRow"), "DocumentSectionHeaderTableItem")},
        {"section after a cell", "<TableRow>" + kTextItem + R"(<DocumentSection title="x"/>)", 0, 1,
         opening(successor("DocumentSectionHeaderTextItem", 1), "DocumentSection")},
        {"section after a section-level text item",
         R"(<DocumentSection title="a">)" + kTextItem + R"(<DocumentSection title="b"/></DocumentSection>)", 0, 0, ""},
        {"section without title", "<Document><DocumentSection/></Document>", 0, 1,
         in_attributes(mandatory("title"), "DocumentSection")},
        {"list style has no default", R"(<List style="bullet"/>)", kWrongAttrs, 1,
         in_attributes(invalid("bullet", "style"), "List")},
        {"data directly in a paragraph", R"(<Paragraph paragraphStyle="p">x</Paragraph>)", 0, 1,
         no_text(first_child("Paragraph"))},
        {"nothing follows the root", "<Document/><Document/>", 0, 1, opening(successor("Document", 0), "Document")},
    });
}

TEST(LumoDocument, DeliveredAttributes) {
    run_delivered("lumoDocument", {
        {"empty document", "<Document/>", 0, "Document",
         {{"firstTitleLevel", "1"}, {"defaultExportTemplate", ""}, {"defaultExportFile", ""},
          {"defaultExportFormat", "html"}}, 4, false},
        {"wrong export format replaced", R"(<Document defaultExportFormat="docx"/>)", kWrongAttrs, "Document",
         {{"defaultExportFormat", "html"}}, 4, false, replaced("docx", "defaultExportFormat")},
        {"flag-like value without a list",
         R"(<DocumentSectionHeaderExternalPngImageItem imageFileName="a.png" storeRelativeFileName="maybe"/>)", 0,
         "DocumentSectionHeaderExternalPngImageItem", {{"storeRelativeFileName", "maybe"}, {"imageFileName", "a.png"}},
         2, false},
        {"table defaults", R"(<DocumentSectionHeaderTableItem absoluteWidths="yes"/>)", 0,
         "DocumentSectionHeaderTableItem", {{"columnWidths", ""}, {"absoluteWidths", "yes"}, {"nbHeadingRows", "0"}}, 3,
         false},
    });
}

// --- lumoDictionaryObjects ---------------------------------------------------

const S kObjects = R"(<DictionaryObjects language="sdl">)";
const S kItem = R"(<Item id="p1" type="process" name="P">)";
const S kWindow = R"(<SignalWindow id="w" insideDiagram="TRUE">)";
const S kTransition = R"(<Transition priorityInputNames="" statesExcluded="TRUE">)";

TEST(LumoDictionaryObjects, ContentAndAttributeChecks) {
    run_cases("lumoDictionaryObjects", {
        {"signals, lists and items",
         kObjects + R"(<Signal id="s1" name="go"><SignalParameterType>int</SignalParameterType><SendSymbols>)"
         R"(<SymbolReference symbolId="12"/></SendSymbols><SourceFilePosition isDefine="TRUE" columnNumber="1")"
         R"( lineNumber="3"/></Signal><SignalList id="l1" name="all"><SignalReference id="s1"/></SignalList>)" + kItem +
         R"(<DefiningSymbols><SymbolReference symbolId="3"/></DefiningSymbols><Prototype><Signature>P(int)</Signature>)"
         R"(<PrototypeSymbol><SymbolReference symbolId="4"/><PrototypeText>process P</PrototypeText></PrototypeSymbol>)"
         R"(</Prototype><Body><SentSignals><SignalReference id="s1"/></SentSignals><Transitions>)" + kTransition +
         R"(<StateReference itemId="st"/><SymbolReference symbolId="5"/></Transition></Transitions></Body></Item>)"
         "</DictionaryObjects>", 0, 0, "", "",
         {"text SignalParameterType |int|", "text Signature |P(int)|", "text PrototypeText |process P|"}},
        {"language is mandatory", "<DictionaryObjects/>", 0, 1,
         in_attributes(mandatory("language"), "DictionaryObjects")},
        {"link reference alone", R"(<LinkReference linkId="3"/>)", 0, 0, ""},
        {"link reference inside an item", kItem + R"(<LinkReference linkId="3"/>)", 0, 1,
         opening(first_child("Item"), "LinkReference")},
        {"link reference after an item", kObjects + kItem + R"(</Item><LinkReference linkId="3"/>)", 0, 1,
         opening(successor("Item", 0), "LinkReference")},
        {"transition without symbol", kTransition + R"(<StateReference itemId="s"/></Transition>)", 0, 1,
         closing(missing_successor("StateReference", 0), "Transition")},
        {"transition with two symbols",
         kTransition + R"(<SymbolReference symbolId="1"/><SymbolReference symbolId="2"/>)",
         0, 1, opening(successor("SymbolReference", 2), "SymbolReference")},
        {"prototype symbol without text", R"(<PrototypeSymbol><SymbolReference symbolId="1"/></PrototypeSymbol>)", 0, 1,
         closing(missing_successor("SymbolReference", 1), "PrototypeSymbol")},
        {"empty signal window", kWindow + "</SignalWindow>", 0, 1,
         closing(missing_first("SignalWindow"), "SignalWindow")},
        {"signal after a list", kObjects + R"(<SignalList id="1" name="l"/><Signal id="2" name="s"/>)", 0, 1,
         opening(successor("SignalList", 0), "Signal")},
        {"transitions after a window's sent signals",
         kWindow + R"(<ConnectorReference linkId="1" isFrom="TRUE"/><SentSignals/><Transitions/>)", 0, 1,
         opening(successor("SentSignals", 1), "Transitions")},
        {"first missing of id and name", R"(<Item type="state"/>)", 0, 1, in_attributes(mandatory("id"), "Item")},
        {"type without underscore", R"(<Item id="1" type="passive class" name="c"/>)", kWrongAttrs, 1,
         in_attributes(invalid("passive class", "type"), "Item")},
        {"data directly in a signal", R"(<Signal id="1" name="s">x</Signal>)", 0, 1, no_text(first_child("Signal"))},
    });
}

TEST(LumoDictionaryObjects, DeliveredAttributes) {
    run_delivered("lumoDictionaryObjects", {
        {"only language", kObjects + "</DictionaryObjects>", 0, "DictionaryObjects",
         {{"version", "-"}, {"diagramType", "-"}, {"language", "sdl"}}, 3, false},
        {"item defaults", R"(<Item id="i" type="state" name="Idle"/>)", 0, "Item",
         {{"id", "i"}, {"type", "state"}, {"name", "Idle"}, {"defined", "TRUE"}, {"createInRealizing", "TRUE"},
          {"isComposite", "FALSE"}, {"isSyntype", "FALSE"}, {"isSynonym", "FALSE"}, {"isFormalParam", "FALSE"},
          {"scope", "none"}, {"procedureKind", "NORMAL_PROCEDURE"}, {"formalParameterOrder", "-"},
          {"searchPolicy", "-"}}, 28, true},
        {"wrong scope replaced", R"(<Item id="i" type="state" name="Idle" scope="local"/>)", kWrongAttrs, "Item",
         {{"scope", "none"}}, 28, false, replaced("local", "scope")},
        {"symbol reference", R"(<SymbolReference symbolId="7"/>)", 0, "SymbolReference",
         {{"positions", ""}, {"symbolId", "7"}, {"usingKind", "plain"}}, 3, false},
    });
}

// --- lumoProject -------------------------------------------------------------

S generation_options(const S& attributes) {
    return "<GenerationOptions" + attributes + "><GenerationDir>gen</GenerationDir><MakeOptions>"
           "<PreprocessorCommand>cpp</PreprocessorCommand><PreprocessorOptions/><CompilerCommand>cc</CompilerCommand>"
           "<CompilerOptions/><LinkerCommand>ld</LinkerCommand><LinkerOptions/><ExternalMakefile/></MakeOptions>"
           "<CompileOptions><BeforeCompilCommand/><BuildCommand><BuildExecutable>make</BuildExecutable>"
           "<BuildTarget>all</BuildTarget><BuildAddlArgs/></BuildCommand><AfterCompilCommand/></CompileOptions>"
           "</GenerationOptions>";
}
const S kMakeStart =
    "<MakeOptions><PreprocessorCommand/><PreprocessorOptions/><CompilerCommand/><CompilerOptions/><LinkerCommand/>";
const S kDiagramNode = R"(<DiagramNode name="d" fileName="d.lumo" type="prcs">)";
const S kSourceNode = R"(<SourceFileNode fileName="a.c" name="a"/>)";
const S kComment = "<OBPProfileComment/>";

TEST(LumoProject, ContentAndAttributeChecks) {
    run_cases("lumoProject", {
        {"full project",
         R"(<Project language="sdl"><LoadWarning>old format</LoadWarning>)" + generation_options("") +
         "<UmlGenerationOptions><GenerationDir>uml</GenerationDir></UmlGenerationOptions>"
         R"(<ValidationOptions profile="p"><IFExternalChecker>if</IFExternalChecker><OBPExplorationProfile>)"
         "<OBPProfileComments><OBPProfileComment>a</OBPProfileComment><OBPProfileComment>b</OBPProfileComment>"
         "<OBPProfileComment>c</OBPProfileComment></OBPProfileComments>"
         R"(<OBPMessageParameterConstraint param_name="x" value1="1" message_name="m"/></OBPExplorationProfile>)"
         R"(</ValidationOptions><FolderNode name="src">)" + kDiagramNode + kSourceNode + "</DiagramNode></FolderNode>"
         R"(<DocumentNode fileName="r.doc" name="r"/></Project>)", 0, 0, ""},
        {"flag outside TRUE/FALSE", R"(<GenerationOptions genLumoEnv="yes"/>)", 0, 1,
         in_attributes(invalid("yes", "genLumoEnv"), "GenerationOptions")},
        {"four profile comments", "<OBPProfileComments>" + kComment + kComment + kComment + kComment, 0, 1,
         opening(successor("OBPProfileComment", 2), "OBPProfileComment")},
        {"two profile comments", "<OBPProfileComments>" + kComment + kComment + "</OBPProfileComments>", 0, 1,
         closing(missing_successor("OBPProfileComment", 1), "OBPProfileComments")},
        {"compiler right after preprocessor", "<MakeOptions><PreprocessorCommand/><CompilerCommand/>", 0, 1,
         opening(successor("PreprocessorCommand", 0), "CompilerCommand")},
        {"make options end after linker options", kMakeStart + "<LinkerOptions/></MakeOptions>", 0, 1,
         closing(missing_successor("LinkerOptions", 0), "MakeOptions")},
        {"generation options end after the directory", "<GenerationOptions><GenerationDir/></GenerationOptions>", 0, 1,
         closing(missing_successor("GenerationDir", 1), "GenerationOptions")},
        {"templates after the UML directory", "<UmlGenerationOptions><GenerationDir/><TemplatesDir/>", 0, 1,
         opening(successor("GenerationDir", 0), "TemplatesDir")},
        {"folder inside a diagram node", kDiagramNode + R"(<FolderNode name="f"/>)", 0, 1,
         opening(first_child("DiagramNode"), "FolderNode")},
        {"document node after a diagram's source",
         kDiagramNode + kSourceNode + R"(<DocumentNode fileName="r" name="r"/>)",
         0, 1, opening(successor("SourceFileNode", 1), "DocumentNode")},
        {"document node after a project's source",
         "<Project>" + kSourceNode + R"(<DocumentNode fileName="r" name="r"/></Project>)", 0, 0, ""},
        {"second documentation options", "<Project><DocumentationOptions/><DocumentationOptions/>", 0, 1,
         opening(successor("DocumentationOptions", 0), "DocumentationOptions")},
        {"generation after simulation options",
         "<Project><SdlSimulationOptions><XmlRpcServerUrl/><XmlRpcModule/></SdlSimulationOptions>" +
             generation_options(""), 0, 1, opening(successor("SdlSimulationOptions", 0), "GenerationOptions")},
        {"first missing export style attribute",
         R"(<ParagraphExportStyle paragraphStyle="p" widowOrphanLines="2" leftMargin="0"/>)", 0, 1,
         in_attributes(mandatory("textColor"), "ParagraphExportStyle")},
        {"validation without profile", "<ValidationOptions/>", 0, 1,
         in_attributes(mandatory("profile"), "ValidationOptions")},
        {"data first in project", "<Project>x</Project>", 0, 1, no_text(first_child("Project"))},
        {"nothing follows the root", "<Project/><Project/>", 0, 1, opening(successor("Project", 0), "Project")},
    });
}

TEST(LumoProject, DeliveredAttributes) {
    const S gen = generation_options("");
    run_delivered("lumoProject", {
        {"empty project", "<Project/>", 0, "Project", {{"language", "none"}}, 1, false},
        {"'-' defaults outside TRUE/FALSE", gen, 0, "GenerationOptions",
         {{"genLumoEnv", "-"}, {"cSdlOperators", "-"}, {"useEnvMacros", "-"}, {"simu", "none"}, {"language", "c"},
          {"backTraceDataSize", "32"}, {"profile", "Custom"}, {"operatorPrefix", ""}}, 28, false},
        {"wrong flag replaced by '-'", generation_options(R"( genLumoEnv="yes")"), kWrongAttrs, "GenerationOptions",
         {{"genLumoEnv", "-"}}, 28, false, replaced("yes", "genLumoEnv")},
        {"preprocessor defaults keep their blank", gen, 0, "PreprocessorCommand",
         {{"output", "-o "}, {"include", "-I "}, {"systemInclude", "-isystem "}, {"define", "-D "}}, 4, false},
        {"compiler defaults", gen, 0, "CompilerCommand",
         {{"preproc", "-E"}, {"systemInclude", "-isystem "}, {"compile", "-c"}, {"debug", "-g"}, {"output", "-o "},
          {"include", "-I "}, {"define", "-D "}}, 7, false},
        {"constraint without value2", R"(<OBPMessageParameterConstraint param_name="x" value1="1" message_name="m"/>)",
         0, "OBPMessageParameterConstraint", {{"is_range", "FALSE"}, {"value2", "-"}}, 5, false},
        {"validation defaults", R"(<ValidationOptions profile="p"/>)", 0, "ValidationOptions",
         {{"profile", "p"}, {"language", "IF"}, {"maxWidth", "-1"}, {"targetID", ""}, {"jumpLimit", ""},
          {"maxHeight", "-1"}, {"strategy", "DFS"}, {"maxEval", "-1"}, {"exploType", "CC"}, {"jumpHeight", "1"}},
         10, false},
    });
}

// --- PrintLanguage -----------------------------------------------------------

const S kLine = R"(<line xfrom="0" yfrom="0" xto="1" yto="1"/>)";
const S kArc = R"(<arc xcenter="0" ycenter="0" radius="1"/>)";
const S kDoc = R"(<doc pagecols="1" pagerows="1" pagewidth="21" pageheight="29.7")";
const S kPage = R"(<page col="0" row="0">)";

TEST(PrintLanguage, ContentAndAttributeChecks) {
    run_cases("PrintLanguage", {
        {"pages with mixed text",
         R"(<multidoc totalPages="1">)" + kDoc + ">" + kPage + kLine +
         R"(<text x="1" y="2">a<cr/>b &lt; c<space/><area color="#ff0000">d<cr/>e</area>f</text>)" + "<path>" +
         kLine + kArc +
         R"(</path></page><page col="1" row="0"/></doc>)" + kDoc + "/></multidoc>", 0, 0, "", "",
         {"text text |a|", "text text |b < c|", "text area |d|", "text area |e|", "text text |f|"}},
        {"area after data and after cr in text", R"(<text x="0" y="0">x<area/><cr/><area/></text>)", 0, 0, ""},
        {"area first in area", "<area><area/></area>", 0, 1, opening(first_child("area"), "area")},
        {"area after data in area", "<area>x<area/></area>", 0, 1,
         opening("Element is invalid within character data in this context (0)", "area")},
        {"area after cr in area", "<area><cr/><area/></area>", 0, 1, opening(successor("cr", 0), "area")},
        {"empty multidoc", R"(<multidoc totalPages="0"></multidoc>)", 0, 1,
         closing(missing_first("multidoc"), "multidoc")},
        {"text first in path", R"(<path><text x="0" y="0"/></path>)", 0, 1, opening(first_child("path"), "text")},
        {"text after a line in a path", "<path>" + kLine + R"(<text x="0" y="0"/></path>)", 0, 1,
         opening(successor("line", 0), "text")},
        {"data first in page", kPage + "x</page>", 0, 1, no_text(first_child("page"))},
        {"data after a line in a page", kPage + kLine + "x</page>", 0, 1, no_text(successor("line", 1))},
        {"first missing of x and y", "<text/>", 0, 1, in_attributes(mandatory("y"), "text")},
        {"justify in lower case", R"(<text x="0" y="0" justify="center"/>)", 0, 1,
         in_attributes(invalid("center", "justify"), "text")},
        {"nothing follows the root",
         R"(<multidoc totalPages="0">)" + kDoc + R"(/></multidoc><multidoc totalPages="0"/>)",
         0, 1, opening(successor("multidoc", 0), "multidoc")},
    });
}

TEST(PrintLanguage, DeliveredAttributes) {
    run_delivered("PrintLanguage", {
        {"text with only x and y", R"(<text x="3" y="4"/>)", 0, "text",
         {{"x", "3"}, {"y", "4"}, {"hShrink", "0"}, {"width", "none"}, {"color", "#000000"}, {"height", "none"},
          {"hAlign", "0"}, {"background", "#ffffff"}, {"vAlign", "0"}, {"font", ""}, {"heading", "E"},
          {"underline", "0"}, {"justify", "CENTER"}}, 13, false},
        {"two wrong values replaced in rule order", R"(<text x="0" y="0" justify="center" hAlign="+1"/>)", kWrongAttrs,
         "text", {{"justify", "CENTER"}, {"hAlign", "0"}}, 13, false,
         replaced("+1", "hAlign") + "\n" + replaced("center", "justify")},
        {"arc without extent", kArc, 0, "arc", {{"extent", "closed"}, {"start", "0"}}, 8, false},
        {"arc extent as written", R"(<arc xcenter="0" ycenter="0" radius="1" extent="open"/>)", 0, "arc",
         {{"extent", "open"}}, 8, false},
        {"path defaults", "<path/>", 0, "path",
         {{"gradientheading", "N"}, {"color", "#000000"}, {"dashed", "0"}, {"gradientspec", "-"}, {"closed", "0"},
          {"border", "1"}, {"transparent", "1"}, {"fill", "#ffffff"}}, 8, false},
    });
}

// --- DigitalTwinAPI ----------------------------------------------------------

const S kCall = R"(<RemoteProcedureCall callId="7"><RemoteProcedureParams>)";
const S kReturn = R"(<RemoteProcedureReturn callId="7"><RemoteProcedureResult>)";
const S kReturnEnd = "</RemoteProcedureResult></RemoteProcedureReturn>";
const S kUser = R"(<User userName="a" userUniqueId="1"/>)";
const S kResource = R"(<Resource resourceName="r" resourceIdentifier="1"/>)";
const S kProgress = R"(<ActivityProgress activityIdentifier="a" startDate="d" activityName="n" runNumber="1")";

TEST(DigitalTwinAPI, ContentAndAttributeChecks) {
    run_cases("DigitalTwinAPI", {
        {"login call over several lines",
         "<RemoteProcedureCall callId=\"7\">\n  <RemoteProcedureParams>\n    <LoginParameters userName=\"ann\" "
         "password=\"pw\"/>\n  </RemoteProcedureParams>\n</RemoteProcedureCall>\n", 0, 0, ""},
        {"users return", kReturn + "<GetUsersReturnValue>" + kUser + kUser + "</GetUsersReturnValue>" + kReturnEnd,
         0, 0, ""},
        {"empty users return", "<GetUsersReturnValue/>", 0, 0, ""},
        {"unlisted return value alone", "<SuspendActivityReturnValue/>", 0, 0, ""},
        {"data in parameters", R"(<LoginParameters userName="u" password="p">x</LoginParameters>)", 0, 1,
         no_text(first_child("LoginParameters"))},
        {"data after a user", "<GetUsersReturnValue>" + kUser + "x</GetUsersReturnValue>", 0, 1,
         no_text(successor("User", 0))},
        {"empty call", R"(<RemoteProcedureCall callId="7"></RemoteProcedureCall>)", 0, 1,
         closing(missing_first("RemoteProcedureCall"), "RemoteProcedureCall")},
        {"empty params", kCall + "</RemoteProcedureParams>", 0, 1,
         closing(missing_first("RemoteProcedureParams"), "RemoteProcedureParams")},
        {"empty result", kReturn + "</RemoteProcedureResult>", 0, 1,
         closing(missing_first("RemoteProcedureResult"), "RemoteProcedureResult")},
        {"two parameter elements", kCall + "<LogoutParameters/><GetUsersParameters/>", 0, 1,
         opening(successor("LogoutParameters", 0), "GetUsersParameters")},
        {"second parameter element ignored",
         kCall + "<LogoutParameters/><GetUsersParameters/></RemoteProcedureParams></RemoteProcedureCall>",
         PARSE_IGNORE_WRONG_ELEMENTS, 0, successor("LogoutParameters", 0),
         "File doc.xml, line 2: invalid element 'GetUsersParameters' ignored - trying to continue"},
        {"two result elements", kReturn + R"(<RpcError errorCode="operationError" message="m"/><LogoutReturnValue/>)",
         0, 1, opening(successor("RpcError", 0), "LogoutReturnValue")},
        {"parameters in a result", kReturn + R"(<LoginParameters userName="u" password="p"/>)", 0, 1,
         opening(first_child("RemoteProcedureResult"), "LoginParameters")},
        {"return value in params", kCall + R"(<LoginReturnValue userUniqueId="1"/>)", 0, 1,
         opening(first_child("RemoteProcedureParams"), "LoginReturnValue")},
        {"unlisted return value in a result", kReturn + "<SuspendActivityReturnValue/>", 0, 1,
         opening(first_child("RemoteProcedureResult"), "SuspendActivityReturnValue")},
        {"call without callId", "<RemoteProcedureCall>", 0, 1,
         in_attributes(mandatory("callId"), "RemoteProcedureCall")},
        {"flags are lower case", R"(<LogoutParameters closeSession="TRUE"/>)", 0, 1,
         in_attributes(invalid("TRUE", "closeSession"), "LogoutParameters")},
        {"errorCode has no default", R"(<RpcError errorCode="unknown" message="m"/>)", kWrongAttrs, 1,
         in_attributes(invalid("unknown", "errorCode"), "RpcError")},
        {"initial fails before final", kProgress + R"( initial="yes" final="yes"/>)", kWrongAttrs, 1,
         in_attributes(invalid("yes", "initial"), "ActivityProgress")},
        {"resource after a user", "<GetUsersReturnValue>" + kUser + kResource, 0, 1,
         opening(successor("User", 0), "Resource")},
        {"undeclared attribute", R"(<LogoutParameters extra="1"/>)", 0, 1,
         in_attributes("Unknown attribute 'extra'", "LogoutParameters")},
        {"nothing follows the root",
         kCall + "<LogoutParameters/></RemoteProcedureParams></RemoteProcedureCall>" + kCall,
         0, 1, opening(successor("RemoteProcedureCall", 0), "RemoteProcedureCall")},
    });
}

TEST(DigitalTwinAPI, DeliveredAttributes) {
    run_delivered("DigitalTwinAPI", {
        {"logout default", "<LogoutParameters/>", 0, "LogoutParameters", {{"closeSession", "true"}}, 1, false},
        {"upper-case flag replaced", R"(<LogoutParameters closeSession="TRUE"/>)", kWrongAttrs, "LogoutParameters",
         {{"closeSession", "true"}}, 1, false, replaced("TRUE", "closeSession")},
        {"undeclared attribute kept", R"(<LogoutParameters extra="1"/>)", PARSE_IGNORE_UNKNOWN_ATTRIBUTES,
         "LogoutParameters", {{"closeSession", "true"}, {"extra", "1"}}, 2, false, "Unknown attribute 'extra'"},
        {"both tolerances: first-pass warnings, then second-pass",
         R"(<LogoutParameters extra="1" closeSession="TRUE"/>)",
         kWrongAttrs | PARSE_IGNORE_UNKNOWN_ATTRIBUTES, "LogoutParameters", {{"closeSession", "true"}, {"extra", "1"}},
         2, false, replaced("TRUE", "closeSession") + "\nUnknown attribute 'extra'"},
        {"new user without permissions",
         R"(<AddUserParameters userName="u" resourceSetUniqueId="r" userResourceIdentifier="i" password="p"/>)", 0,
         "AddUserParameters", {{"userIsSupervisor", "false"}, {"userIsAdministrator", "false"}}, 6, false},
        {"wrong final replaced", kProgress + R"( initial="true" final="yes"/>)", kWrongAttrs, "ActivityProgress",
         {{"initial", "true"}, {"final", "false"}, {"endDate", ""}}, 7, false, replaced("yes", "final")},
        {"upload without names", R"(<UploadProcessParameters modelContents="m"/>)", 0, "UploadProcessParameters",
         {{"processExternalName", ""}, {"bpsimDataContents", ""}, {"modelContents", "m"}}, 3, false},
    });
}

}  // namespace
}  // namespace tarvo
