// tarvo: a validating XML reader over built-in grammars.
//
// A parse reads one document (a file, or one document of a stream of
// back-to-back documents), checks it against a grammar, delivers start, text
// and end events to a Handler and returns the status with the warning and
// error texts, exactly as the command-line tool and the Python module report
// them.
#pragma once

#if __cplusplus < 202002L
#error "tarvo/tarvo.h needs C++20 (for example -std=c++20); the tarvo::tarvo CMake target asks for it by itself"
#endif

// What a shared libtarvo exports; everything else in it stays hidden.
#if defined(TARVO_EXPORTS) && defined(__GNUC__)
#define TARVO_API __attribute__((visibility("default")))
#else
#define TARVO_API
#endif

#include <cstddef>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>


namespace tarvo {

struct SchemaTable;

// How a parse treats the problems a document may have; flags combine
// with `|`. The values are those of the Python module's PARSE_* constants.
enum class Flags : unsigned {
    strict = 0,
    ignore_wrong_attributes = 1,    // wrong listed value: warn, use the default
    ignore_unknown_attributes = 2,  // undeclared attribute: warn, keep it
    ignore_wrong_elements = 4,      // misplaced element: warn, skip it whole
    // Read XML 1.0: an optional XML declaration and byte-order mark,
    // comments, processing instructions, a DOCTYPE (read, and the general
    // entities of its internal subset expanded), CDATA sections, character
    // references and XML's names. Without it a
    // document is read in tarvo's own subset of XML.
    xml = 8,
};
constexpr Flags operator|(Flags a, Flags b) { return Flags(unsigned(a) | unsigned(b)); }
constexpr Flags operator&(Flags a, Flags b) { return Flags(unsigned(a) & unsigned(b)); }
// Whether every flag of `flag` is set in `flags`.
constexpr bool has(Flags flags, Flags flag) { return (flags & flag) == flag; }
// Every flag a parse knows; other bits are ignored.
inline constexpr Flags kAllFlags = Flags::ignore_wrong_attributes | Flags::ignore_unknown_attributes |
                                   Flags::ignore_wrong_elements | Flags::xml;

// How a parse reads and what it tolerates.
struct Options {
    Flags flags = Flags::strict;
    // Validity errors a parse reports before it stops; 0: no limit. After a
    // validity error it goes on as the matching tolerance would (a wrong
    // value takes its default, an undeclared attribute is dropped, a
    // missing mandatory attribute is only reported, a misplaced element is
    // skipped whole, an element that may not close yet closes, character
    // data where none may stand is skipped), every problem staying an error
    // of an invalid document. A syntax error always ends the document. With
    // 1, the first error ends the parse.
    unsigned max_errors = 1;
    // Records carry their element's path from the root (Diagnostic::path),
    // which costs a little on every start tag.
    bool paths = false;
};

// How a parse ended. The numbers are the Python module's and the command's.
enum class Status : int {
    ok = 0,
    invalid = 1,         // the document broke a rule: see the errors
    unreadable = 2,      // the file could not be opened or read
    handler_failed = 3,  // a handler call failed
};

struct Attribute {
    std::string_view name;
    std::string_view value;
    int rule;  // index among the element's declared attributes, -1 if undeclared
};

// Where the reader stands, for a handler that asks during an event (see
// Handler::position).
class TARVO_API Position {
public:
    // The line, and the column in bytes from 1, of the last character read:
    // for a start or end tag its '>' (the '/' of an empty-element
    // tag at its start), for text the '<' after it.
    virtual void location(long& line, long& column) const = 0;

protected:
    ~Position() = default;
};

// Receives the events of a parse. `element` is the index of the element's
// rule in the grammar, so a handler can keep per-element data in a vector.
// Every view is valid only for the duration of the call. An event returns
// true to go on; false says the handler's own work failed: the parse stops
// there, records failure() as its last error, and ends with
// Status::handler_failed.
class TARVO_API Handler {
public:
    virtual ~Handler() = default;
    // Attributes after checking and defaulting, in delivery order (see
    // Attribute order below).
    virtual bool start_tag(int element, std::string_view name, std::span<const Attribute> attributes);
    // Character data after entity decoding; `element_name` is the name of
    // the innermost open element.
    virtual bool text(int element, std::string_view element_name, std::string_view text);
    virtual bool end_tag(int element, std::string_view name);
    // The message recorded when an event returned false.
    virtual std::string failure() const;

    // During an event: where the reader stands; null outside a parse. A
    // parse sets it when it starts and clears it when it ends, so asking
    // costs the parse nothing when no handler asks.
    const Position* position() const { return position_; }

private:
    friend class PositionScope;
    const Position* position_ = nullptr;
};

// Attribute order. A start tag's attributes are checked, reported and
// delivered in the order of a 32-bucket hash of their names: the bucket of
// a name is the sum of its bytes after the first, each read as a signed
// 8-bit value, taken modulo 32 (the low five bits). Within a bucket the
// attributes given in the tag come first, in the order given (a name given
// twice keeps its first place and takes the later value), then the
// declared attributes the tag left out, which take their defaults, in
// declaration order.

enum class Severity { warning, error };

// What a message is about, for a program to branch on.
enum class DiagnosticKind {
    syntax,                 // the text is not in the accepted form
    unknown_element,        // the grammar has no element of that name
    misplaced_element,      // an element (or its absence) where the content model does not allow it
    unknown_attribute,      // the element does not declare the attribute
    wrong_attribute_value,  // a value outside the attribute's allowed list
    missing_attribute,      // a mandatory attribute is not given
    text_not_allowed,       // character data where the content model does not allow it
    input_output,           // the document could not be read
    handler_failed,         // a handler call failed
};

// "syntax", "unknown_element", ...: the enumerator's name.
TARVO_API std::string_view kind_name(DiagnosticKind kind);

// One warning or error as data, made beside its message text. Its views
// point into storage the Result shares among its copies: they stay valid
// while any copy of the Result that holds the record lives.
struct Diagnostic {
    Severity severity = Severity::error;
    DiagnosticKind kind = DiagnosticKind::syntax;
    // Where the offending token starts (the attribute value for a wrong
    // value, the attribute name for an undeclared one, the element name for
    // an unknown or misplaced element, a missing attribute or a missing
    // child, the run for character data): its line, and its column in bytes
    // from 1. Where the token is not known, or its bytes are no longer
    // held, where the reader stood: the last character read. 0 when the
    // message is about no position (a file that could not be opened).
    long line = 0;
    long column = 0;
    // Where the token ends: the line of its last byte, and the column just
    // past it (end_column == column + 1 for a single byte; equal to column
    // for an empty value). 0 when line is 0.
    long end_line = 0;
    long end_column = 0;
    std::string_view element;    // the element concerned, or empty
    std::string_view attribute;  // the attribute concerned, or empty
    // For a misplaced element or text: the elements that could have stood
    // there; for a wrong value: the allowed values.
    std::span<const std::string_view> expected;
    std::string_view message;  // the message text, one of the messages of the texts below
    int os_error = 0;          // for input_output: the system's error number
    // The problem's stable name, for tools to branch on and to list:
    // "unknown-element", "misplaced-element", "missing-element",
    // "unknown-attribute", "missing-attribute", "invalid-value",
    // "text-not-allowed", "syntax", "unreadable", "callback-failed".
    std::string_view code;
    // This record is the reader's own line about where the problem of the
    // record before it happened ("error while opening element ..."): one
    // problem, said in two messages. Formats that show one entry per problem
    // show it as a note of that record.
    bool note = false;
    std::string_view parent;  // the element the concerned one stands in, or empty
    // The elements open from the root down to the concerned one, each with
    // its place among the siblings of its name: "/ToolSet/Menu[2]/Tool[1]".
    std::string_view path;
    // For an unknown or misplaced name, an undeclared attribute or a value
    // outside its list: the allowed name or value closest to it (a case or a
    // small spelling difference), or empty.
    std::string_view suggestion;
};

// The outcome of a parse: an ordinary value. Its texts and records are
// immutable and shared by its copies, so copying one is cheap. What its
// accessors return is valid while a copy lives: keep the Result in a
// variable before iterating over its diagnostics().
class TARVO_API Result {
public:
    Status status = Status::ok;

    Result() = default;
    // A Result holding copies of `records` (their texts, names and expected
    // lists); the warning and error texts join their messages.
    Result(Status status, std::span<const Diagnostic> records);

    bool ok() const { return status == Status::ok; }
    // The messages of each severity, separated by "\n".
    std::string_view warnings() const;
    std::string_view errors() const;
    // The single messages: views into warnings() and errors().
    std::vector<std::string_view> warning_messages() const;
    std::vector<std::string_view> error_messages() const;
    // Every message as a record, warnings and errors in the order reported.
    std::span<const Diagnostic> diagnostics() const;

    struct Storage;

private:
    friend class ReportBuilder;
    std::shared_ptr<const Storage> storage_;
};

// Grammars in registration order.
TARVO_API std::span<const SchemaTable* const> grammars();
// The grammar registered under exactly `name` (built in, or loaded and
// registered with register_grammar()), or nullptr. A loaded grammar's
// pointer stays valid while it is registered; after unregister_grammar(),
// while the pointer that call returned is kept.
TARVO_API const SchemaTable* find_grammar(std::string_view name);
TARVO_API std::string_view grammar_name(const SchemaTable& grammar);
TARVO_API std::string_view element_name(const SchemaTable& grammar, int element);
TARVO_API int element_count(const SchemaTable& grammar);

// Reads one document file. `handler` may be null: everything is still
// checked, no event is delivered.
//
// Parses on different threads are independent: a parse keeps all its state
// to itself, and a grammar is read-only once built, so one grammar serves any number
// of parses at once, on any threads.
TARVO_API Result parse_file(const SchemaTable& grammar, const char* path, Handler* handler,
                           Flags flags = Flags::strict);
TARVO_API Result parse_file(const SchemaTable& grammar, const char* path, Handler* handler, const Options& options);

// Reads one document held in memory, with the same results as a file
// holding the same bytes; `name` stands where a file's path stands in
// messages. `data` must stay valid during the call only.
TARVO_API Result parse_buffer(const SchemaTable& grammar, std::string_view data, std::string_view name,
                             Handler* handler, Flags flags = Flags::strict);
TARVO_API Result parse_buffer(const SchemaTable& grammar, std::string_view data, std::string_view name,
                             Handler* handler, const Options& options);

// What one read of a document source gives: `size` bytes placed in the
// buffer, 0 at the end of the document (which must then stay the end); or,
// when `error` is not 0, a read that failed with that system error number
// (then `size` is not looked at).
struct SourceRead {
    size_t size = 0;
    int error = 0;
};
// Fills `buffer` with up to `capacity` bytes of one document.
using DocumentSource = std::function<SourceRead(char* buffer, size_t capacity)>;

// Reads one document from `read` as parse_file reads a file holding the
// same bytes, however they are split among the reads: the same events,
// messages, records and status, with `name` standing where a file's path
// stands. A failed read ends the parse as a file that fails to read ends
// it: what the bytes before it drew stands, and the error of
// unreadable_result() follows. For a host that opens and reads files its
// own way (the Python module reads without its interpreter lock).
TARVO_API Result parse_source(const SchemaTable& grammar, const DocumentSource& read, std::string_view name,
                             Handler* handler, Flags flags = Flags::strict);
TARVO_API Result parse_source(const SchemaTable& grammar, const DocumentSource& read, std::string_view name,
                             Handler* handler, const Options& options);

// The Result of a parse whose document `name` could not be opened, as
// parse_file gives it for a file: Status::unreadable and the one error
// "Could not open file NAME for reading", of kind input_output, about no
// position, with `os_error`.
TARVO_API Result unreadable_result(std::string_view name, int os_error);

// Fills `buffer` with up to `capacity` bytes, waiting until at least one is
// there; returns 0 at the end of input (which must then stay the end).
using ByteSource = std::function<size_t(char* buffer, size_t capacity)>;

// Documents sent back to back over one source, each a single root element
// without XML declaration, separated by optional whitespace. A document
// ends at the '>' that closes its root element.
class TARVO_API StreamReader {
public:
    // Reads the source in chunks; bytes beyond a document stay buffered in
    // the reader for the next one.
    explicit StreamReader(ByteSource read);
    // Looks at arriving bytes with `peek` (which must not remove them from
    // the source) and removes them with `take` once consumed, so the source
    // keeps everything this reader has not used: on a socket, the next
    // document stays there for whoever reads next.
    StreamReader(ByteSource peek, std::function<void(size_t count)> take);
    ~StreamReader();
    StreamReader(const StreamReader&) = delete;
    StreamReader& operator=(const StreamReader&) = delete;

    // Reads one document (`loop` false) or documents until one fails or the
    // source ends (`loop` true). A document ends at the '>' that closes its
    // root element: the read returns there without waiting for more bytes.
    // Whitespace before a document belongs to it, and in loop mode so does
    // the whitespace between documents; the first byte of a document that
    // is not read is never taken. The messages of all documents read
    // accumulate in the one Result, whose status is that of the last one.
    Result read(const SchemaTable& grammar, Handler* handler, Flags flags = Flags::strict, bool loop = false);
    Result read(const SchemaTable& grammar, Handler* handler, const Options& options, bool loop = false);

    // Skips the whitespace after the last document and tells whether the
    // source ends there, waiting for the next byte if none is there yet.
    bool at_end() const;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

TARVO_API const char* version();

}  // namespace tarvo

// Loading, describing and exporting grammars.
#include "tarvo/grammar.h"
// Names, attribute declarations and element lookup by index.
#include "tarvo/lookup.h"
// Results without a handler, for one document or many on threads.
#include "tarvo/batch.h"
