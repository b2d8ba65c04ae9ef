// The document parser: one main loop that reads tags and character data,
// validates them against a grammar and delivers events to a Handler. Files
// and streams of back-to-back documents are two input policies of that one
// loop (see parse_loop.h).
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "reader/inputs.h"
#include "check/attributes.h"
#include "containers/ptr_stack.h"
#include "diag/report.h"
#include "schema/schema_table.h"
#include "tarvo/tarvo.h"

namespace tarvo {

// Storage reused from tag to tag and from parse to parse, so that a
// steady-state parse does not allocate.
struct ParseScratch {
    std::string name;
    std::string attribute_name;
    std::string whitespace;
    std::string text;
    AttributeSet attributes;  // the XML declaration's
    TagAttributes tag_attributes;
    PtrStack<const ContentPosition> open;  // the open elements
    std::vector<Attribute> delivered;
    std::vector<std::string_view> expected;  // a refusal's expected names
    std::string path;                        // a record's element path
    // The XML mode's DOCTYPE declaration, if the document has one.
    std::string doctype_name, doctype_system, doctype_public, internal_subset;
    bool has_doctype = false;
};

// Files the error of a document `name` that could not be opened or read.
Status report_unreadable(ReportBuilder& report, const char* name, int os_error);

class DocumentParser {
public:
    // The handler is not owned; null means no events (all checks still run).
    void set_handler(Handler* handler) { handler_ = handler; }

    // Every message goes to `report`.
    Status parse_file(const SchemaTable& table, const char* path, const Options& options, ReportBuilder& report);

    // A document read from `read` as a file holding the same bytes is read;
    // `name` stands where a file's path stands in messages.
    Status parse_source(const SchemaTable& table, const DocumentSource& read, const char* name, const Options& options,
                        ReportBuilder& report);

    // A document held in memory, read as a file holding the same bytes;
    // `name` stands where a file's path stands in messages.
    Status parse_buffer(const SchemaTable& table, std::string_view data, const std::string& name, const Options& options,
                        ReportBuilder& report);

    // One document from `input`, which may hold bytes of later documents:
    // nothing after the root element's '>' is consumed. `lookahead` holds a
    // character already taken from the source, or -1; it becomes -1 after a
    // complete document and is left alone on failure.
    template <DocumentInput Input>
    Status parse_stream(const SchemaTable& table, Input& input, int& lookahead, const Options& options, ReportBuilder& report);

private:
    template <DocumentInput Input, bool Xml>
    Status parse_stream_in(const SchemaTable& table, Input& input, int& lookahead, const Options& options,
                           ReportBuilder& report);

    Handler* handler_ = nullptr;
    ParseScratch scratch_;
};

}  // namespace tarvo
