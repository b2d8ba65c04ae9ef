// How `tarvo check` writes a document's outcome in each of its formats.
//
// The records of a Result come as the reader made them: a problem, and for
// some problems a note right after it (the reader's line on where it
// happened). The machine formats show one entry per problem, its note
// inside; the text format shows every record as its own line, as the Python
// module gives them.
#pragma once

#include <string_view>

#include "output.h"
#include "tarvo/tarvo.h"

namespace tarvo::cli {

enum class Format { text, gcc, json, sarif, github };

// Whether the format shows each problem's element path (Options::paths).
inline bool shows_paths(Format f) { return f == Format::json || f == Format::sarif; }

// no_grammar: no grammar could be chosen for it (check -a, --internal-dtd).
enum class Outcome { valid, invalid, unreadable, no_grammar };

Outcome outcome_of(const tarvo::Result& r);

// Whether a record is part of what every format shows: a valid document's
// errors (refusals of elements skipped under -E) are not, as a caller of the
// module never sees them.
bool shown(const tarvo::Result& r, const tarvo::Diagnostic& d);

// The warning or the error records, one message a line.
void write_text(Writer& w, const tarvo::Result& r, tarvo::Severity severity);
// FILE:LINE:COLUMN: error: TEXT (expected: A, B); did you mean 'X'? [code],
// then FILE:LINE:COLUMN: note: TEXT for its note; LINE:COLUMN is where the
// token concerned starts.
void write_gcc(Writer& w, std::string_view name, const tarvo::Result& r);
// One object on one line; `document` numbers the documents of a stream, 0
// for a file.
void write_json(Writer& w, std::string_view name, long document, const tarvo::Result& r);
// ::error file=F,line=L,col=C,endLine=L,endColumn=C,title=CODE::TEXT, one
// line per problem.
void write_github(Writer& w, std::string_view name, const tarvo::Result& r);

// One log for the whole run: sarif_begin() before the first document,
// write_sarif() for each (`first` says whether a result was written yet),
// sarif_end() after the last.
void sarif_begin(Writer& w);
void write_sarif(Writer& w, std::string_view name, long document, const tarvo::Result& r, bool& first);
void sarif_end(Writer& w);

}  // namespace tarvo::cli
