// Shared helpers: grammars by name, documents parsed from strings, events
// recorded as text, and the reader's messages spelled out.
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "schema/schema_table.h"
#include "tarvo/tarvo.h"

namespace tarvo::testing {

using S = std::string;
using Lines = std::vector<S>;

// The grammar registered under `name`; throws when there is none.
const SchemaTable& grammar(std::string_view name);

// Events as text: "start NAME a=1 b=2", "text NAME |data|", "end NAME";
// `after_event` runs after each one is recorded, and the event fails (with
// the failure "callback raised") when it returns false.
class Recorder : public Handler {
public:
    bool start_tag(int element, std::string_view name, std::span<const Attribute> attributes) override;
    bool text(int element, std::string_view element_name, std::string_view text) override;
    bool end_tag(int element, std::string_view name) override;
    std::string failure() const override { return "callback raised"; }
    Lines events;
    std::function<bool(const S& event)> after_event;

private:
    bool recorded(S event);
};

// For `after_event`: fails like a host callback that raised, at the events that begin with `prefix`.
std::function<bool(const S&)> fail_at(const S& prefix);

// A file in a fresh temporary directory, removed with the object.
class TempFile {
public:
    explicit TempFile(const S& content, const S& name = "doc.xml");
    ~TempFile();
    const S& path() const { return path_; }

private:
    S dir_, path_;
};

inline S xml(const S& body) { return "<?xml version=\"1.0\"?>\n" + body; }
// `s` `n` times over.
S repeat(const S& s, int n);

// The grammar file holding `text`, loaded.
std::shared_ptr<const SchemaTable> load_grammar_text(const S& text);
// tests/xml/any.grammar, registered as "anyXml" on first use: a and b may
// stand anywhere, so only the syntax decides.
const SchemaTable& any_xml_grammar();

// A document and what its parse must give; events are checked unless left at their default.
struct DocCase {
    S what, document;
    int flags, status;  // as bits and numbers, which tables write shortest
    S errors, warnings = "";
    Lines events = {"(unchecked)"};
};

// A body after the declaration, refused with `errors` or accepted (with `events`); the body is its own label.
inline DocCase refused(const S& body, const S& errors, int flags = 0) { return {"", xml(body), flags, 1, errors}; }
inline DocCase accepted(const S& body, const Lines& events = {"(unchecked)"}) {
    return {"", xml(body), 0, 0, "", "", events};
}
// A flag as a table's bit.
constexpr int bit(Flags f) { return static_cast<int>(f); }

// A Result's records, one line each: "E kind LINE:COLUMN-END <element> @attribute [expected,...]",
// END the token's end column (END_LINE:END_COLUMN on another line), left out
// for a single byte.
Lines records(const Result& r);
// A Result and a parse's events as one comparable text: status, messages,
// every field of each record, events.
S outcome(const Result& r, const Lines& events = {});

// `document` read from a source that gives it in pieces of the sizes in
// `pieces`, over and over, as "doc.xml"; between reads the buffer's first
// bytes are overwritten, so that a view kept past a refill shows.
using Pieces = std::vector<size_t>;
inline const std::vector<Pieces> kSmallPieces = {{1}, {3, 1, 2}};
Result parse_in_pieces(const SchemaTable& grammar, const S& document, const Pieces& pieces, Handler* handler,
                       Flags flags);

// Parses each document as the file doc.xml, from within its directory, so
// that messages name "doc.xml"; then from memory and in small pieces, which
// must give the same.
void run_cases(const char* grammar, const std::vector<DocCase>& cases);

// Messages. A check's refusal is followed by the reader's own message, on
// line 2 (the one after the declaration) unless said otherwise.
inline S at(int line, const S& m) { return "File doc.xml, line " + std::to_string(line) + ": " + m; }
inline S then(const S& why, int line, const S& m) { return why + "\n" + at(line, m); }
inline S opening(const S& w, const S& e, int l = 2) { return then(w, l, "error while opening element '" + e + "'"); }
inline S closing(const S& w, const S& e, int l = 2) { return then(w, l, "error while closing element '" + e + "'"); }
inline S in_attributes(const S& w, const S& e, int l = 2) {
    return then(w, l, "error in attributes for element '" + e + "'");
}
inline S no_text(const S& why) { return then(why, 2, "character data is not allowed here"); }
inline S ignored(const S& e, int l = 2) { return at(l, "invalid element '" + e + "' ignored - trying to continue"); }
inline S unknown(const S& e) { return "Element '" + e + "' unknown in DTD"; }
inline S first_child(const S& p) { return "Element is invalid as first child of container element '" + p + "'"; }
inline S in_context(int c) { return " in this context (" + std::to_string(c) + ")"; }
inline S current(const S& e, int c) { return "current element '" + e + "'" + in_context(c); }
inline S successor(const S& e, int c) { return "Element is invalid as successor of " + current(e, c); }
inline S within_text(int c) { return "Element is invalid within character data" + in_context(c); }
inline S missing_first(const S& p) { return "Missing first child for container element '" + p + "'"; }
inline S missing_successor(const S& e, int c) { return "Missing successor for " + current(e, c); }
inline S mandatory(const S& a) { return "No value found for mandatory attribute '" + a + "'"; }
inline S invalid(const S& v, const S& a) { return "Invalid attribute value '" + v + "' for attribute '" + a + "'"; }
inline S replaced(const S& v, const S& a) { return invalid(v, a) + " - getting default value"; }
inline S unknown_attribute(const S& a) { return "Unknown attribute '" + a + "'"; }

}  // namespace tarvo::testing
