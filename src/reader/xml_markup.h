// The XML reading mode's markup other than tags, each read after its
// opening characters. Each reader returns what it found wrong as a
// sentence for a message, or ""; the parse loop files it.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "reader/attribute_reader.h"
#include "reader/document_parser.h"
#include "reader/xml_text.h"

namespace tarvo::xml {


// A comment after "<!-"; its characters are checked and dropped.
template <class Input>
std::string comment(Input& in, std::string& raw) {
    int c = in.get();
    if (c != '-') return expected(c, "'-' (a comment opens with '<!--')");
    raw.clear();
    if (!in.scan_past(raw, "-->")) return expected(-1, "'-->'");
    if (raw.find("--") != std::string::npos || (!raw.empty() && raw.back() == '-'))
        return "found '--' inside a comment, where XML does not allow it";
    return finish_run(raw, Run::literal);
}

// A CDATA section after "<!["; its characters are left in `raw`.
template <class Input>
std::string cdata_section(Input& in, std::string& raw) {
    for (char k : std::string_view("CDATA[")) {
        int c = in.get();
        if (c != k) return expected(c, "'<![CDATA['");
    }
    raw.clear();
    if (!in.scan_past(raw, "]]>")) return expected(-1, "']]>'");
    return finish_run(raw, Run::cdata);
}

// The XML declaration, after "<?xml" and whitespace: version first (1.x),
// then optionally an encoding naming UTF-8 or ASCII, and standalone.
template <class Input>
std::string declaration(Input& in, ParseScratch& s) {
    AttributeSet& decl = s.attributes;
    decl.clear();
    int c = in.skip_space();
    std::string problem;
    if (!read_xml_attribute_list(in, c, decl, s.attribute_name, problem)) return problem;
    if (c != '?') return expected(c, "'?>'");
    if ((c = in.get()) != '>') return expected(c, "'>'");
    static constexpr std::string_view kOrder[] = {"version", "encoding", "standalone"};
    size_t next = 0;
    std::vector<const AttributeSet::Entry*> given(static_cast<size_t>(decl.count()));
    for (const AttributeSet::Entry& e : decl) given[static_cast<size_t>(e.value.order)] = &e;
    for (const AttributeSet::Entry* e : given) {
        while (next < 3 && kOrder[next] != e->key) ++next;
        if (next == 3)
            return "found '" + e->key + "' in the XML declaration, where version, encoding and standalone may stand, "
                   "in that order";
    }
    if (given.empty() || given.front()->key != "version") return "found an XML declaration without a version first";
    const std::string& v = given.front()->value.text;
    if (v.size() < 3 || v.compare(0, 2, "1.") != 0 || v.find_first_not_of("0123456789", 2) != std::string::npos)
        return "found version '" + v + "' where '1.0' expected";
    if (const AttributeValue* encoding = decl.get("encoding"); encoding && !is_utf8_encoding(encoding->text))
        return "found encoding '" + encoding->text +
               "', which this reader does not read; it reads UTF-8 and its ASCII subset";
    if (const AttributeValue* standalone = decl.get("standalone");
        standalone && standalone->text != "yes" && standalone->text != "no")
        return "found standalone '" + standalone->text + "' where 'yes' or 'no' expected";
    return {};
}

// A processing instruction after "<?"; at the very start of a document
// (`at_start`) one named xml is the XML declaration, read here too.
template <class Input>
std::string processing_instruction(Input& in, ParseScratch& s, bool at_start) {
    int c = in.get();
    if (!is_name_start_byte(c)) return expected(c, "a processing instruction's target");
    std::string_view target;
    c = in.read_xml_name(s.attribute_name, target, [](std::string_view) { return true; });  // checked below
    std::string problem = check_name(target);
    if (!problem.empty()) return problem;
    if (at_start && target == "xml" && is_space(c)) return declaration(in, s);
    if (target.size() == 3 && (target[0] | 0x20) == 'x' && (target[1] | 0x20) == 'm' && (target[2] | 0x20) == 'l')
        return "found a processing instruction named '" + std::string(target) +
               "', a name XML reserves; the XML declaration may only open the document";
    if (c == '?') {
        c = in.get();
        return c == '>' ? std::string() : expected(c, "'>'");
    }
    if (!is_space(c)) return expected(c, "whitespace or '?>'");
    std::string& raw = s.whitespace;
    raw.clear();
    if (!in.scan_past(raw, "?>")) return expected(-1, "'?>'");
    return finish_run(raw, Run::literal);
}

}  // namespace tarvo::xml
