// The six large grammars through the file reader: a real document each, and
// the mistakes that tell most about their content models and attribute rules
// (contexts other than 0, rows that differ by context, rules without default).
#include <gtest/gtest.h>

#include "test_support.h"

namespace tarvo {
namespace {

using namespace testing;

constexpr int kWrong = bit(Flags::ignore_wrong_attributes);

TEST(LargeGrammars, TellingCases) {
    const S symbol = R"(<Symbol symbolId="1" xCenter="0" yCenter="0" type="sdlState">)";
    const S link = R"(<Link textSegmentNum="0" type="chnl"><Text/>)";
    const S c = R"(<Connector isOutside="FALSE" attachedSymbolId="1" endType="arrow" position="0" type="chnl" )"
                R"(side="n"><Text/><Text/></Connector>)";
    const S fsm = R"(<SdlFSMSymbol identifier="2" type="sdlInputSig"/>)";
    run_cases("lumoDiagram", {
        accepted(R"(<Diagram type="sys">)" + symbol + "<Text>S</Text></Symbol>" + link + c + c + "</Link></Diagram>"),
        accepted("<SdlFSMDiagram><StateTransitionBlock>" + fsm + "<NormalStateTransition>" + fsm + "<Transition>" +
                 fsm + "</Transition></NormalStateTransition></StateTransitionBlock></SdlFSMDiagram>"),
        refused("<NormalStateTransition>" + fsm + "</NormalStateTransition>",
                closing(missing_successor("SdlFSMSymbol", 2), "NormalStateTransition")),
        refused(link + c + c + c, opening(successor("Connector", 1), "Connector")),
        refused("<MscDiagram><LifelineOrdering/><PageSpecification/>" + symbol,
                opening(successor("PageSpecification", 2), "Symbol")),
        refused(R"(<Connector type="chnl" side="n"/>)", in_attributes(mandatory("isOutside"), "Connector")),
        {"wrong language replaced by '-', outside its list", xml(R"(<SdlFSMDiagram language="SDL"/>)"), kWrong, 0, "",
         replaced("SDL", "language"),
         {"start SdlFSMDiagram needs_cleanup=FALSE is_extract=FALSE type=prcs is_temporary=FALSE language=-",
          "end SdlFSMDiagram"}},
    });
    const S item = "<DocumentSectionHeaderTextItem><StyledText/></DocumentSectionHeaderTextItem>";
    const S section = R"(<DocumentSection title="a">)";
    run_cases("lumoDocument", {
        accepted("<Document>" + section + R"(<DocumentSectionHeaderTextItem><StyledText><Paragraph paragraphStyle="N">)"
                 R"(<CharacterRange indexEntries="" characterStyle="P">Hi</CharacterRange></Paragraph>)"
                 R"(<List style="bulleted"><ListItem><Paragraph paragraphStyle="I"/></ListItem></List></StyledText>)"
                 "</DocumentSectionHeaderTextItem><DocumentSectionHeaderTableItem><TableRow>" + item +
                 "</TableRow></DocumentSectionHeaderTableItem></DocumentSection></Document>"),
        accepted(section + item + section + "</DocumentSection></DocumentSection>"),
        refused("<TableRow>" + item + section,
                opening(successor("DocumentSectionHeaderTextItem", 1), "DocumentSection")),
        refused("<TableRow><DocumentSectionHeaderTableItem/>",
                opening(first_child("TableRow"), "DocumentSectionHeaderTableItem")),
        refused(R"(<Paragraph paragraphStyle="p">x</Paragraph>)", no_text(first_child("Paragraph"))),
        refused(R"(<List style="bullet"/>)", in_attributes(invalid("bullet", "style"), "List"), kWrong),
    });
    const S objects = R"(<DictionaryObjects language="sdl">)";
    const S process = R"(<Item id="p1" type="process" name="P">)";
    const S transition = R"(<Transition priorityInputNames="" statesExcluded="TRUE">)";
    const S ref = R"(<SymbolReference symbolId="1"/>)";
    run_cases("lumoDictionaryObjects", {
        accepted(objects + R"(<Signal id="s" name="go"><SignalParameterType>int</SignalParameterType><SendSymbols>)" +
                 ref + R"(</SendSymbols><SourceFilePosition isDefine="TRUE" columnNumber="1" lineNumber="3"/>)"
                 R"(</Signal><SignalList id="l" name="all"><SignalReference id="s"/></SignalList>)" + process +
                 "<DefiningSymbols>" + ref + "</DefiningSymbols><Prototype><Signature>P</Signature>" +
                 "<PrototypeSymbol>" + ref + "<PrototypeText>P</PrototypeText></PrototypeSymbol></Prototype><Body>"
                 R"(<SentSignals><SignalReference id="s"/></SentSignals><Transitions>)" + transition +
                 R"(<StateReference itemId="t"/>)" + ref + "</Transition></Transitions></Body></Item>"
                 "</DictionaryObjects>"),
        accepted(R"(<LinkReference linkId="3"/>)"),
        refused(objects + process + R"(</Item><LinkReference/>)", opening(successor("Item", 0), "LinkReference")),
        refused(transition + ref + ref, opening(successor("SymbolReference", 2), "SymbolReference")),
        refused("<PrototypeSymbol>" + ref + "</PrototypeSymbol>",
                closing(missing_successor("SymbolReference", 1), "PrototypeSymbol")),
        refused(R"(<SignalWindow id="w" insideDiagram="TRUE"><ConnectorReference linkId="1" isFrom="TRUE"/>)"
                "<SentSignals/><Transitions/>", opening(successor("SentSignals", 1), "Transitions")),
    });
    const S generation =
        "<GenerationOptions><GenerationDir>g</GenerationDir><MakeOptions><PreprocessorCommand>cpp</PreprocessorCommand>"
        "<PreprocessorOptions/><CompilerCommand>cc</CompilerCommand><CompilerOptions/><LinkerCommand/><LinkerOptions/>"
        "<ExternalMakefile/></MakeOptions><CompileOptions><BeforeCompilCommand/><BuildCommand><BuildExecutable>make"
        "</BuildExecutable><BuildTarget/><BuildAddlArgs/></BuildCommand><AfterCompilCommand/></CompileOptions>"
        "</GenerationOptions>";
    const S diagram = R"(<DiagramNode name="d" fileName="d.lumo" type="prcs">)";
    const S source = R"(<SourceFileNode fileName="a.c" name="a"/>)";
    const S document = R"(<DocumentNode fileName="r" name="r"/>)";
    const S comment = "<OBPProfileComment/>";
    run_cases("lumoProject", {
        accepted(R"(<Project language="sdl"><LoadWarning>old</LoadWarning>)" + generation + "<UmlGenerationOptions>"
                 R"(<GenerationDir/></UmlGenerationOptions><ValidationOptions profile="p"><IFExternalChecker/>)"
                 "<OBPExplorationProfile><OBPProfileComments>" + comment + comment + comment +
                 R"(</OBPProfileComments><OBPMessageParameterConstraint param_name="x" value1="1" message_name="m"/>)"
                 R"(</OBPExplorationProfile></ValidationOptions><FolderNode name="s">)" + diagram + source +
                 "</DiagramNode></FolderNode>" + document + "</Project>"),
        refused("<OBPProfileComments>" + comment + comment + comment + comment,
                opening(successor("OBPProfileComment", 2), "OBPProfileComment")),
        refused("<OBPProfileComments>" + comment + comment + "</OBPProfileComments>",
                closing(missing_successor("OBPProfileComment", 1), "OBPProfileComments")),
        refused("<GenerationOptions><GenerationDir/></GenerationOptions>",
                closing(missing_successor("GenerationDir", 1), "GenerationOptions")),
        refused("<UmlGenerationOptions><GenerationDir/><TemplatesDir/>",
                opening(successor("GenerationDir", 0), "TemplatesDir")),
        refused(diagram + source + document, opening(successor("SourceFileNode", 1), "DocumentNode")),
        accepted("<Project>" + source + document + "</Project>"),
        {"flag outside TRUE/FALSE replaced by '-'", xml(R"(<GenerationOptions genLumoEnv="yes">)"), kWrong, 1,
         at(2, "unexpected end of file in text"), replaced("yes", "genLumoEnv")},
    });
    const S line = R"(<line xfrom="0" yfrom="0" xto="1" yto="1"/>)";
    const S doc = R"(<doc pagecols="1" pagerows="1" pagewidth="21" pageheight="29.7")";
    run_cases("PrintLanguage", {
        accepted(R"(<multidoc totalPages="1">)" + doc + R"(><page col="0" row="0">)" + line +
                 R"(<text x="1" y="2">a<cr/>b<space/><area>d<cr/>e</area>f</text><path>)" + line +
                 R"(<arc xcenter="0" ycenter="0" radius="1"/></path></page><page col="1" row="0"/></doc>)" + doc +
                 "/></multidoc>"),
        accepted(R"(<text x="0" y="0">x<area/><cr/><area/></text>)"),
        refused("<area>x<area/>", opening(within_text(0), "area")),
        refused("<area><cr/><area/>", opening(successor("cr", 0), "area")),
        refused(R"(<page col="0" row="0">)" + line + "x</page>", no_text(successor("line", 1))),
        refused("<text/>", in_attributes(mandatory("y"), "text")),
        {"two wrong values replaced in rule order", xml(R"(<text x="0" y="0" justify="center" hAlign="+1"/>)"),
         kWrong, 0, "", replaced("+1", "hAlign") + "\n" + replaced("center", "justify")},
    });
    const S call = R"(<RemoteProcedureCall callId="7"><RemoteProcedureParams>)";
    run_cases("DigitalTwinAPI", {
        accepted(call + "\n  <LoginParameters userName=\"ann\" password=\"pw\"/>\n</RemoteProcedureParams>\n"
                        "</RemoteProcedureCall>\n"),
        accepted("<SuspendActivityReturnValue/>"),
        refused(R"(<RemoteProcedureReturn callId="7"><RemoteProcedureResult><SuspendActivityReturnValue/>)",
                opening(first_child("RemoteProcedureResult"), "SuspendActivityReturnValue")),
        refused(R"(<GetUsersReturnValue><User userName="a" userUniqueId="1"/>x</GetUsersReturnValue>)",
                no_text(successor("User", 0))),
        refused(call + "<LogoutParameters/><GetUsersParameters/>",
                opening(successor("LogoutParameters", 0), "GetUsersParameters")),
        refused(R"(<ActivityProgress activityIdentifier="a" startDate="d" activityName="n" runNumber="1" )"
                R"(initial="yes" final="yes"/>)", in_attributes(invalid("yes", "initial"), "ActivityProgress"), kWrong),
        {"both tolerances: first pass, then second", xml(R"(<LogoutParameters extra="1" closeSession="TRUE"/>)"),
         kWrong | bit(Flags::ignore_unknown_attributes), 0, "",
         replaced("TRUE", "closeSession") + "\n" + unknown_attribute("extra"),
         {"start LogoutParameters closeSession=true extra=1", "end LogoutParameters"}},
    });
}

}  // namespace
}  // namespace tarvo
