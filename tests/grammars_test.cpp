// The twelve built-in grammar tables: catalogue figures, structural
// invariants, and rows of the large grammars read back against values
// written out here by hand, independently of the grammar sources.
#include <gtest/gtest.h>

#include <cctype>
#include <cstring>
#include <set>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "containers/str_dict.h"
#include "schema/schema_table.h"
#include "tarvo/tarvo.h"

namespace tarvo {
namespace {

const SchemaTable& grammar(std::string_view name) {
    const SchemaTable* t = find_grammar(name);
    if (!t) throw std::invalid_argument("no grammar " + std::string(name));
    return *t;
}

std::string_view name_of(const ElementRule& e) { return {e.name, e.name_length}; }

// Plain scan, the reference for the hashed element index.
int32_t linear_find(const SchemaTable& t, std::string_view name) {
    for (int32_t i = 0; i < t.element_count; ++i)
        if (name_of(t.elements[i]) == name) return i;
    return -1;
}

const ElementRule& element(const SchemaTable& t, std::string_view name) {
    int32_t i = linear_find(t, name);
    if (i < 0) throw std::invalid_argument("no element " + std::string(name));
    return t.elements[i];
}

// A list written the way the grammar sources write it: "Name/c", END, TEXT/c.
std::string spell(const SchemaTable& t, const ContentPosition* list, int32_t count) {
    std::string out;
    for (int32_t i = 0; i < count; ++i) {
        if (!out.empty()) out += ' ';
        const ContentPosition& p = list[i];
        if (p.element == POSITION_END) out += "END";
        else if (p.element == POSITION_TEXT) out += "TEXT/" + std::to_string(p.context);
        else out += std::string(name_of(t.elements[p.element])) + "/" + std::to_string(p.context);
    }
    return out;
}

// --- catalogue -------------------------------------------------------------

struct CatalogueEntry {
    const char* name;
    const char* source;
    int elements, rows, text_rows, attributes;
};

const CatalogueEntry kCatalogue[] = {
    {"lumoTools", "share/xml/lumoTools", 8, 8, 1, 2},
    {"lumoCodeCoverage", "share/xml/lumoCodeCoverage", 3, 4, 1, 7},
    {"lumoDiagram", "share/xml/lumoDiagram", 45, 65, 1, 125},
    {"lumoDocument", "share/xml/lumoDocument", 15, 16, 1, 26},
    {"lumoDictionaryObjects", "share/xml/lumoDictionaryObjects", 41, 51, 1, 66},
    {"lumoMSCBasedSystemCheckReport", "share/xml/lumoMSCBasedSystemCheckReport", 6, 8, 1, 11},
    {"lumoProject", "share/xml/lumoProject", 76, 82, 1, 183},
    {"PrintLanguage", "share/print/PrintLanguage", 11, 16, 2, 56},
    {"DigitalTwinAPI", "share/xml/DigitalTwinAPI", 67, 67, 0, 91},
    {"dictionary", "share/gui/lang/dictionary", 4, 4, 1, 0},
    {"bpmn_project", "share/bpmn/bpmn_project", 2, 2, 0, 2},
    {"heatmap", "share/bpmn/heatmap", 3, 3, 0, 11},
};

TEST(GrammarCatalogue, EveryGrammarInRegistrationOrderWithItsFigures) {
    auto all = grammars();
    ASSERT_EQ(all.size(), std::size(kCatalogue));
    for (size_t i = 0; i < all.size(); ++i) {
        const CatalogueEntry& want = kCatalogue[i];
        const SchemaTable& t = *all[i];
        SCOPED_TRACE(want.name);
        EXPECT_STREQ(t.name, want.name);
        EXPECT_STREQ(t.source_path, want.source);
        EXPECT_EQ(find_grammar(want.name), &t);
        int rows = 0, attributes = 0;
        for (int32_t e = 0; e < t.element_count; ++e) {
            rows += t.elements[e].row_count;
            attributes += t.elements[e].attribute_count;
        }
        EXPECT_EQ(t.element_count, want.elements);
        EXPECT_EQ(rows, want.rows);
        EXPECT_EQ(t.text_row_count, want.text_rows);
        EXPECT_EQ(attributes, want.attributes);
    }
}

TEST(GrammarCatalogue, TotalsOverAllTwelve) {
    int elements = 0, rows = 0, text_rows = 0, attributes = 0, mandatory = 0, empty = 0, listed = 0;
    for (const SchemaTable* t : grammars()) {
        elements += t->element_count;
        text_rows += t->text_row_count;
        for (int32_t e = 0; e < t->element_count; ++e) {
            const ElementRule& r = t->elements[e];
            rows += r.row_count;
            attributes += r.attribute_count;
            for (int32_t a = 0; a < r.attribute_count; ++a) {
                const AttributeRule& ar = r.attributes[a];
                mandatory += ar.default_value == nullptr;
                empty += ar.default_value != nullptr && ar.default_length == 0;
                listed += ar.allowed_count > 0;
            }
        }
    }
    EXPECT_EQ(elements, 281);
    EXPECT_EQ(rows, 326);
    EXPECT_EQ(text_rows, 10);
    EXPECT_EQ(attributes, 580);
    EXPECT_EQ(mandatory, 295);
    EXPECT_EQ(empty, 88);
    EXPECT_EQ(listed, 157);
}

TEST(GrammarCatalogue, NamesMatchExactly) {
    for (const char* probe : {"lumodiagram", "LUMODIAGRAM", "lumoDiagra", "lumoDiagramX", "", "Dictionary"})
        EXPECT_EQ(find_grammar(probe), nullptr) << probe;
}

// --- structural invariants ---------------------------------------------------

// Reports the first broken invariant of one list, or "".
std::string check_list(const SchemaTable& t, const ContentPosition* list, int32_t count) {
    if (count > 0 && list == nullptr) return "entries missing";
    std::set<int32_t> seen;
    for (int32_t i = 0; i < count; ++i) {
        const ContentPosition& p = list[i];
        if (!seen.insert(p.element).second) return "duplicate entry " + std::to_string(p.element);
        if (p.element == POSITION_END) {
            if (p.context != -1) return "END with context " + std::to_string(p.context);
        } else if (p.element == POSITION_TEXT) {
            if (p.context < 0 || p.context >= t.text_row_count) return "text context out of range";
        } else if (p.element < 0 || p.element >= t.element_count) {
            return "element index out of range";
        } else if (p.context < 0 || p.context >= t.elements[p.element].row_count) {
            return "context out of range";
        }
    }
    return "";
}

TEST(GrammarInvariants, HoldForEveryTable) {
    for (const SchemaTable* tp : grammars()) {
        const SchemaTable& t = *tp;
        SCOPED_TRACE(t.name);
        std::set<int32_t> referenced;  // elements that some list names
        auto note = [&](const ContentPosition* l, int32_t n) {
            for (int32_t i = 0; i < n; ++i) referenced.insert(l[i].element);
        };
        std::set<std::string_view> names;
        for (int32_t e = 0; e < t.element_count; ++e) {
            const ElementRule& r = t.elements[e];
            SCOPED_TRACE(std::string(name_of(r)));
            EXPECT_EQ(r.index, e);
            EXPECT_EQ(std::strlen(r.name), r.name_length);
            EXPECT_TRUE(names.insert(name_of(r)).second);
            EXPECT_GE(r.first_count, 1);
            EXPECT_EQ(check_list(t, r.first, r.first_count), "");
            note(r.first, r.first_count);
            ASSERT_GE(r.row_count, 1);
            for (int32_t c = 0; c < r.row_count; ++c) {
                const SuccessorRow& row = r.rows[c];
                EXPECT_EQ(row.own.element, e);
                EXPECT_EQ(row.own.context, c);
                EXPECT_EQ(check_list(t, row.successors, row.count), "") << "row " << c;
                EXPECT_TRUE(row.count > 0 || c == 0) << "only row 0 of a root-only element may be empty";
                note(row.successors, row.count);
            }
            std::set<std::string_view> attribute_names;
            for (int32_t a = 0; a < r.attribute_count; ++a) {
                const AttributeRule& ar = r.attributes[a];
                std::string_view an(ar.name, ar.name_length);
                EXPECT_EQ(std::strlen(ar.name), ar.name_length);
                EXPECT_TRUE(attribute_names.insert(an).second) << an;
                EXPECT_EQ(ar.bucket, dict_bucket(an)) << an;
                for (int32_t v = 0; v < ar.allowed_count; ++v)
                    EXPECT_EQ(std::strlen(ar.allowed[v]), ar.allowed_lengths[v]) << an;
                EXPECT_EQ(ar.default_value ? std::strlen(ar.default_value) : 0u, ar.default_length) << an;
            }
        }
        for (int32_t c = 0; c < t.text_row_count; ++c) {
            const SuccessorRow& row = t.text_rows[c];
            EXPECT_EQ(row.own.element, POSITION_TEXT);
            EXPECT_EQ(row.own.context, c);
            EXPECT_EQ(check_list(t, row.successors, row.count), "") << "text row " << c;
            bool closes = false;
            for (int32_t i = 0; i < row.count; ++i)
                closes |= row.successors[i].element == POSITION_END || row.successors[i].element == POSITION_TEXT;
            EXPECT_TRUE(closes) << "text row " << c;
            note(row.successors, row.count);
        }
        // An element with an empty row 0 can only head a document: nothing lists it.
        for (int32_t e = 0; e < t.element_count; ++e)
            EXPECT_TRUE(t.elements[e].rows[0].count > 0 || referenced.count(e) == 0) << name_of(t.elements[e]);
    }
}

TEST(GrammarInvariants, ElementIndexFindsEveryNameAndNothingElse) {
    for (const SchemaTable* tp : grammars()) {
        const SchemaTable& t = *tp;
        SCOPED_TRACE(t.name);
        EXPECT_EQ(find_element(t, ""), -1);
        for (int32_t e = 0; e < t.element_count; ++e) {
            std::string n(name_of(t.elements[e]));
            EXPECT_EQ(find_element(t, n), e) << n;
            std::string flipped = n, lower = n, upper = n;
            flipped[0] ^= 0x20;
            for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
            for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
            for (const std::string& probe : {flipped, lower, upper, n.substr(0, n.size() - 1), n + "x", n + " "}) {
                if (probe == n) continue;
                EXPECT_EQ(find_element(t, probe), linear_find(t, probe)) << probe;
            }
        }
    }
}

// --- rows read back -------------------------------------------------------------

struct ListCheck {
    const char* grammar;
    const char* element;  // nullptr: a text row of the grammar
    int row;              // -1: the first-child list
    const char* expected;
};

const ListCheck kLists[] = {
    {"lumoDiagram", "MscDiagram", -1, "LifelineOrdering/0"},
    {"lumoDiagram", "MscDiagram", 0, ""},
    {"lumoDiagram", "SdlFSMDiagram", -1,
     "SdlFSMSymbol/1 NonStateTransition/1 StateTransitionBlock/1 PageSpecification/2 SdlFSMPartition/0 END "
     "UnifiedPublication/0"},
    {"lumoDiagram", "SdlFSMSymbol", 1,
     "SdlFSMSymbol/1 NonStateTransition/1 StateTransitionBlock/1 PageSpecification/2 END UnifiedPublication/0"},
    {"lumoDiagram", "SdlFSMSymbol", 6, "END SaveTransition/0 NormalStateTransition/0"},
    {"lumoDiagram", "Text", 2,
     "Text/2 ShortcutText/0 PRCodeSuffix/0 LifelineComponent/0 END TimeInterval/0 SpannedLifeline/0 Zone/0 Symbol/1"},
    {"lumoDiagram", "PageSpecification", 3, "Symbol/2"},
    {"lumoDiagram", "Connector", 1, "END LinkSegment/0"},
    {"lumoDiagram", nullptr, 0, "END"},
    {"lumoDocument", "Document", -1, "END DocumentSection/0"},
    {"lumoDocument", "DocumentSectionHeaderTextItem", 0,
     "DocumentSectionHeaderTextItem/0 DocumentSectionHeaderTableItem/0 DocumentSectionHeaderPublicationItem/0 "
     "DocumentSectionHeaderTextFileRefItem/0 DocumentSectionHeaderExternalPngImageItem/0 END DocumentSection/0"},
    {"lumoDocument", "DocumentSectionHeaderTextItem", 1, "END DocumentSectionHeaderTextItem/1"},
    {"lumoDocument", "TableRow", -1, "END DocumentSectionHeaderTextItem/1"},
    {"lumoDictionaryObjects", "Item", -1,
     "AlternateType/0 DefiningSymbols/1 UsingSymbols/1 SourceFilePosition/1 SuperClass/0 Prototype/0 ParameterType/0 "
     "Body/0 SignalWindow/0 Channel/0 UsedPackage/0 TtcnPortTypeElement/0 TtcnImportedModule/0 END "
     "TtcnExtendedComponentType/0"},
    {"lumoDictionaryObjects", "SignalReference", 1,
     "SignalReference/1 SignalListReference/1 DeclarationSymbols/1 DefiningSymbols/0 UsingSymbols/0 END "
     "SourceFilePosition/0"},
    {"lumoDictionaryObjects", "SymbolReference", 1, "PrototypeText/0"},
    {"lumoDictionaryObjects", "SymbolReference", 2, "END"},
    {"lumoDictionaryObjects", "LinkReference", 0, ""},
    {"lumoProject", "Project", -1,
     "LoadWarning/0 GenerationOptions/0 UmlGenerationOptions/0 SdlSimulationOptions/0 DocumentationOptions/0 "
     "ValidationOptions/0 END FolderNode/0 PackageNode/0 DiagramNode/0 SourceFileNode/0 DocumentNode/0 "
     "CodeCoverageNode/0 PrototypingGuiNode/0 PerformanceAnalyzerNode/0 RequirementsTableNode/0 "
     "MSCBasedSystemCheckReportNode/0 TTCNParamsEditorNode/0 ReferencedNode/0"},
    {"lumoProject", "OBPProfileComment", 1, "OBPProfileComment/2"},
    {"lumoProject", "OBPProfileComment", 2, "END"},
    {"lumoProject", "GenerationDir", 1, "TemplatesDir/0 MakeOptions/0"},
    {"lumoProject", "LinkerOptions", 0, "AdditionalLinkFile/0 ExternalMakefile/0"},
    {"lumoProject", "DiagramNode", 1, "END DiagramNode/1 SourceFileNode/1 ReferencedNode/1"},
    {"PrintLanguage", nullptr, 0, "END TEXT/0 cr/0 space/0"},
    {"PrintLanguage", nullptr, 1, "END TEXT/1 cr/1 space/1 area/0"},
    {"PrintLanguage", "text", -1, "END TEXT/1 cr/1 space/1 area/0"},
    {"PrintLanguage", "area", -1, "END TEXT/0 cr/0 space/0"},
    {"PrintLanguage", "line", 1, "END line/1 arc/1 curve/1 text/0 path/0"},
    {"PrintLanguage", "page", -1, "END line/1 arc/1 curve/1 text/0 path/0"},
    {"DigitalTwinAPI", "RemoteProcedureCall", -1, "RemoteProcedureParams/0"},
    {"DigitalTwinAPI", "SuspendActivityReturnValue", 0, ""},
    {"DigitalTwinAPI", "ActivityProgress", -1, "END UsedResource/0"},
    {"DigitalTwinAPI", "ActivityProgress", 0, "END ActivityProgress/0"},
};

TEST(GrammarRows, ReadBackAsWritten) {
    for (const ListCheck& c : kLists) {
        const SchemaTable& t = grammar(c.grammar);
        SCOPED_TRACE(std::string(c.grammar) + " " + (c.element ? c.element : "text") + " " + std::to_string(c.row));
        if (!c.element) {
            ASSERT_LT(c.row, t.text_row_count);
            EXPECT_EQ(spell(t, t.text_rows[c.row].successors, t.text_rows[c.row].count), c.expected);
        } else if (c.row < 0) {
            const ElementRule& e = element(t, c.element);
            EXPECT_EQ(spell(t, e.first, e.first_count), c.expected);
        } else {
            const ElementRule& e = element(t, c.element);
            ASSERT_LT(c.row, e.row_count);
            EXPECT_EQ(spell(t, e.rows[c.row].successors, e.rows[c.row].count), c.expected);
        }
    }
}

struct AttributeCheck {
    const char* grammar;
    const char* element;
    const char* attribute;
    int position;         // among the element's rules, in stored order
    const char* default_value;  // nullptr: mandatory
    const char* allowed;  // space-separated, "" for any value
};

const AttributeCheck kAttributes[] = {
    {"lumoDiagram", "SdlFSMDiagram", "language", 3, "-", "sdl sdl-rt none"},
    {"lumoDiagram", "Diagram", "showMsgData", 3, "full", "no abbr full"},
    {"lumoDiagram", "Connector", "side", 6, nullptr, "n s w e x y"},
    {"lumoDiagram", "Text", "id", 1, "0", ""},
    {"lumoDocument", "Document", "defaultExportFormat", 3, "html", "html rtf openxml opendoc pdf latex sgml"},
    {"lumoDocument", "DocumentSectionHeaderTableItem", "absoluteWidths", 1, "no", ""},
    {"lumoDocument", "List", "style", 0, nullptr, "bulleted numbered"},
    {"lumoDictionaryObjects", "DictionaryObjects", "diagramType", 1, "-",
     "- sys systype blk blktype prcs prcstype prcd macro msc hmsc mscdoc class usec depl compstate service ifobs"},
    {"lumoDictionaryObjects", "Item", "scope", 8, "none", "none current global package block process top"},
    {"lumoDictionaryObjects", "Item", "procedureKind", 27, "NORMAL_PROCEDURE",
     "NORMAL_PROCEDURE EXTERNAL_PROCEDURE REMOTE_PROCEDURE IMPORTED_PROCEDURE EXPORTED_PROCEDURE"},
    {"lumoProject", "GenerationOptions", "simu", 1, "none",
     "none vxsim posix gdbsrvr tasking xray multi mingw keil lldb"},
    {"lumoProject", "GenerationOptions", "useEnvMacros", 23, "-", "TRUE FALSE"},
    {"lumoProject", "PreprocessorCommand", "systemInclude", 2, "-isystem ", ""},
    {"lumoProject", "BuildCommand", "ruleFirstDep", 3, "$<", ""},
    {"PrintLanguage", "text", "hAlign", 4, "0", "-1 0 1"},
    {"PrintLanguage", "text", "justify", 12, "CENTER", "CENTER LEFT RIGHT"},
    {"PrintLanguage", "path", "gradientspec", 3, "-", ""},
    {"DigitalTwinAPI", "RpcError", "errorCode", 0, nullptr,
     "notImplemented unknownUserOrPassword noUserLoggedIn notEnoughPermissions nonExistentElement operationError"},
    {"DigitalTwinAPI", "LogoutParameters", "closeSession", 0, "true", "false true"},
    {"DigitalTwinAPI", "ActivityProgress", "final", 6, "false", "false true"},
};

TEST(GrammarAttributes, ReadBackAsWritten) {
    for (const AttributeCheck& c : kAttributes) {
        const ElementRule& e = element(grammar(c.grammar), c.element);
        SCOPED_TRACE(std::string(c.element) + "." + c.attribute);
        ASSERT_EQ(find_attribute_rule(e, c.attribute), c.position);
        const AttributeRule& r = e.attributes[c.position];
        if (c.default_value) {
            ASSERT_NE(r.default_value, nullptr);
            EXPECT_EQ(std::string(r.default_value, r.default_length), c.default_value);
        } else {
            EXPECT_EQ(r.default_value, nullptr);
        }
        std::string allowed;
        for (int32_t v = 0; v < r.allowed_count; ++v) {
            if (v) allowed += ' ';
            allowed.append(r.allowed[v], r.allowed_lengths[v]);
        }
        EXPECT_EQ(allowed, c.allowed);
    }
}

// Defaults are supplied unchecked; exactly four listed attributes default
// to a value outside their own list.
TEST(GrammarAttributes, DefaultsOutsideTheirListAreTheFourDashes) {
    std::vector<std::string> found;
    for (const SchemaTable* t : grammars())
        for (int32_t e = 0; e < t->element_count; ++e) {
            const ElementRule& r = t->elements[e];
            for (int32_t a = 0; a < r.attribute_count; ++a) {
                const AttributeRule& ar = r.attributes[a];
                if (ar.allowed_count == 0 || !ar.default_value) continue;
                std::string_view d(ar.default_value, ar.default_length);
                bool listed = false;
                for (int32_t v = 0; v < ar.allowed_count; ++v)
                    listed |= d == std::string_view(ar.allowed[v], ar.allowed_lengths[v]);
                if (!listed)
                    found.push_back(std::string(t->name) + " " + r.name + "." + ar.name + "=" + ar.default_value);
            }
        }
    EXPECT_EQ(found, (std::vector<std::string>{"lumoDiagram SdlFSMDiagram.language=-",
                                               "lumoProject GenerationOptions.genLumoEnv=-",
                                               "lumoProject GenerationOptions.cSdlOperators=-",
                                               "lumoProject GenerationOptions.useEnvMacros=-"}));
}

}  // namespace
}  // namespace tarvo
