// What may stand in the XML and DTD text tarvo writes, and how strings from
// a grammar get there. A grammar file may hold any bytes in a name or a
// value, so nothing from it is written unchecked.
#pragma once

#include <string>
#include <string_view>

namespace tarvo::xml_text {

// Well-formed UTF-8 holding only characters an XML document may hold.
bool is_chars(std::string_view s);
// An XML name (colons allowed), one without colons, a name token.
bool is_name(std::string_view s);
bool is_ncname(std::string_view s);
bool is_nmtoken(std::string_view s);

// `s` (is_chars) as an attribute value or element content: markup
// characters and the white space a parser would normalise as references.
std::string escape(std::string_view s);

// `s` for people: control characters, characters no XML document may hold
// and bytes that are not UTF-8 written as \xNN, byte by byte.
std::string printable(std::string_view s);
void append_printable(std::string& out, std::string_view s);

// An XML comment saying `s` (made printable; "--" may not stand in one).
std::string comment(std::string_view s);

}  // namespace tarvo::xml_text
