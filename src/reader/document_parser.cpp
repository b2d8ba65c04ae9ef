#include "reader/document_parser.h"

#include "reader/general_entities.h"
#include "reader/parse_loop.h"

namespace tarvo {

namespace {

bool is_letter(int c, char lower) { return c == lower || c == lower - 'a' + 'A'; }

// The XML declaration and the one optional declaration opened by "<!",
// up to the first character of the first element's tag.
template <DocumentInput Input>
class Prolog {
public:
    Prolog(ParseRun<Input>& run, Input& in, ParseScratch& s, const char* path)
        : run_(run), in_(in), s_(s), path_(path) {}

    // Returns a status, or kGoOn with `c` set for the main loop; `inside_tag` tells whether the first tag's '<' is already read.
    Status read(int& c, bool& inside_tag) {
        c = in_.skip_space();
        if (c != '<') return fail("found '%c' where '<' expected", c);
        c = in_.get();
        if (c != '?') return fail("found '%c' where '?' expected", c);
        c = in_.skip_space();
        for (char letter : {'x', 'm', 'l'}) {
            if (letter != 'x') c = in_.get();
            if (!is_letter(c, letter)) return fail("found '%c' where XML declaration expected", c);
        }
        int lookahead = in_.skip_space();
        AttributeSet& decl = s_.attributes;
        decl.clear();
        bool attributes_ok = read_attribute_list(in_, lookahead, decl, s_.attribute_name, [this](int ch) {
            run_.error("found '%c' where '=' expected", ch);
        });
        if (lookahead != '?') return fail("found '%c' where '?' expected", lookahead);
        c = in_.get();
        if (c != '>') return fail("found '%c' where '>' expected", c);
        if (!attributes_ok) return Status::invalid;
        if (const AttributeValue* version = decl.get("version")) {
            if (version->text != "1.0") return fail("XML version is not 1.0; cannot parse");
        } else {
            run_.plain(Severity::warning, {}, "File %s: no version in XML declaration; assuming 1.0", path_);
        }
        c = in_.skip_space();
        if (c != '<') return fail("found '%c' where '<' expected", c);
        c = in_.skip_space();
        if (c == '!') {
            while ((c = in_.get()) >= 0 && c != '>') {
            }
            c = in_.skip_space();
            if (c != '<') return fail("found '%c' where '<' expected", c);
            inside_tag = false;
            return kGoOn;
        }
        // A '<' with nothing after it opens no root element: the file was cut.
        if (c < 0) return fail("unexpected end of file before the root element");
        inside_tag = true;
        return kGoOn;
    }

private:
    template <class... Args>
    Status fail(const char* format, Args... args) {
        if constexpr (sizeof...(Args) == 0)
            return run_.error("%s", format);  // a message without arguments is not a format
        else
            return run_.error(format, args...);
    }

    ParseRun<Input>& run_;
    Input& in_;
    ParseScratch& s_;
    const char* path_;
};

// The XML mode's prolog: an optional byte-order mark and XML declaration,
// then comments, processing instructions, whitespace and at most one
// DOCTYPE declaration, which is kept, up to the root element's name.
template <DocumentInput Input>
class XmlProlog {
public:
    XmlProlog(ParseRun<Input, true>& run, Input& in, ParseScratch& s) : run_(run), in_(in), s_(s) {}

    Status read(int& c, bool& inside_tag) {
        s_.has_doctype = false;
        s_.doctype_name.clear();
        s_.doctype_system.clear();
        s_.doctype_public.clear();
        s_.internal_subset.clear();
        c = in_.get();
        if (c == 0xEF) {
            if (in_.get() != 0xBB || in_.get() != 0xBF) return run_.xml_error("found a byte-order mark cut short");
            c = in_.get();
        }
        for (bool first = true;; first = false) {
            if (is_space(c)) {
                c = in_.skip_space();
                first = false;  // the XML declaration stands at the very start
            }
            if (c != '<') return run_.xml_expected(c, c < 0 ? "the root element" : "'<'");
            c = in_.get();
            Status status;
            if (c == '?') {
                status = run_.processing_instruction(first);
            } else if (c == '!') {
                c = in_.get();
                if (c == '-')
                    status = run_.comment();
                else if (c == 'D' && !s_.has_doctype)
                    status = doctype();
                else
                    return run_.xml_expected(c, s_.has_doctype ? "'--'" : "'--' or 'DOCTYPE'");
            } else if (xml::is_name_start_byte(c)) {
                run_.start_content();
                inside_tag = true;
                return kGoOn;
            } else {
                return run_.xml_expected(c, "the root element's name");
            }
            if (status != kGoOn) return status;
            c = in_.get();
        }
    }

private:
    // <!DOCTYPE Name (SYSTEM "s" | PUBLIC "p" "s")? ([ internal subset ])? >,
    // after "<!D".
    Status doctype() {
        int c;
        for (char k : std::string_view("OCTYPE")) {
            if ((c = in_.get()) != k) return run_.xml_expected(c, "'<!DOCTYPE'");
        }
        if (!is_space(c = in_.get())) return run_.xml_expected(c, "whitespace");
        c = in_.skip_space();
        if (!xml::is_name_start_byte(c)) return run_.xml_expected(c, "the document type's name");
        std::string_view name;
        c = in_.read_xml_name(s_.attribute_name, name, [](std::string_view) { return true; });  // checked below
        s_.doctype_name.assign(name);
        std::string problem = xml::check_name(s_.doctype_name);
        if (!problem.empty()) return run_.xml_error(problem);
        s_.has_doctype = true;
        if (is_space(c)) c = in_.skip_space();
        if (c == 'S' || c == 'P') {
            const bool is_public = c == 'P';
            for (char k : std::string_view(is_public ? "UBLIC" : "YSTEM")) {
                if ((c = in_.get()) != k) return run_.xml_expected(c, "'SYSTEM' or 'PUBLIC'");
            }
            if (is_public) {
                Status status = literal(s_.doctype_public);
                if (status != kGoOn) return status;
            }
            Status status = literal(s_.doctype_system);
            if (status != kGoOn) return status;
            c = in_.skip_space();
        }
        if (c == '[') {
            Status status = internal_subset();
            if (status != kGoOn) return status;
            c = in_.skip_space();
        }
        return c == '>' ? kGoOn : run_.xml_expected(c, "'>'");
    }

    // Whitespace, then a quoted literal.
    Status literal(std::string& out) {
        int c = in_.get();
        if (!is_space(c)) return run_.xml_expected(c, "whitespace");
        c = in_.skip_space();
        if (c != '"' && c != '\'') return run_.xml_expected(c, "a quoted literal");
        if (in_.scan_raw(out, static_cast<char>(c)) < 0) return run_.xml_expected(-1, "the literal's closing quote");
        return kGoOn;
    }

    // The declarations up to ']', kept as they stand for an importer and
    // otherwise only read: quoted strings, comments and processing
    // instructions may hold '>' and ']'.
    Status internal_subset() {
        std::string& out = s_.internal_subset;
        for (;;) {
            int c = in_.get();
            if (c < 0) return run_.xml_expected(-1, "']' closing the internal subset");
            if (c == ']') return kGoOn;
            out.push_back(static_cast<char>(c));
            if (c == '"' || c == '\'') {
                if (in_.scan_raw(out, static_cast<char>(c)) < 0) return run_.xml_expected(-1, "the closing quote");
                out.push_back(static_cast<char>(c));
            } else if (c == '<') {
                std::string_view end = ">";
                int d = in_.get();
                if (d < 0) return run_.xml_expected(-1, "a declaration");
                out.push_back(static_cast<char>(d));
                if (d == '?') {
                    end = "?>";
                } else if (d == '!') {
                    int e = in_.get();
                    if (e < 0) return run_.xml_expected(-1, "a declaration");
                    out.push_back(static_cast<char>(e));
                    if (e == '-') end = "-->";
                }
                if (end == ">") {
                    // A declaration: quoted strings may hold '>'.
                    for (;;) {
                        int k = in_.get();
                        if (k < 0) return run_.xml_expected(-1, "'>' closing the declaration");
                        out.push_back(static_cast<char>(k));
                        if (k == '>') break;
                        if (k == '"' || k == '\'') {
                            if (in_.scan_raw(out, static_cast<char>(k)) < 0)
                                return run_.xml_expected(-1, "the closing quote");
                            out.push_back(static_cast<char>(k));
                        }
                    }
                } else {
                    if (!in_.scan_past(out, end)) return run_.xml_expected(-1, std::string("'") .append(end).append("'").c_str());
                    out.append(end);
                }
            } else if (c != '%' && c != ';' && !is_space(c) && !xml::is_name_byte(c)) {
                return run_.xml_expected(c, "a declaration, a parameter-entity reference or ']'");
            }
        }
    }

    ParseRun<Input, true>& run_;
    Input& in_;
    ParseScratch& s_;
};

template <DocumentInput Input>
Status parse_xml_document(const SchemaTable& table, Input& in, Handler* handler, const Options& options, ParseScratch& scratch,
                          ReportBuilder& report, const char* path) {
    ParseRun<Input, true> run(table, in, handler, options, scratch, report, path);
    int c = -1;
    bool inside_tag = false;
    Status status = XmlProlog<Input>(run, in, scratch).read(c, inside_tag);
    if (status != kGoOn) return status;
    xml::EntityScope entities(scratch.internal_subset);  // the references to them are expanded
    in.read_entity_texts(xml::markup_entities != nullptr);
    status = run.run(c, inside_tag);
    in.leave_texts();  // a parse that ended inside an entity's text
    in.read_entity_texts(false);
    return status;
}

template <DocumentInput Input>
Status parse_document(const SchemaTable& table, Input& in, Handler* handler, const Options& options, ParseScratch& scratch,
                      ReportBuilder& report, const char* path) {
    if (has(options.flags, Flags::xml)) return parse_xml_document(table, in, handler, options, scratch, report, path);
    ParseRun<Input> run(table, in, handler, options, scratch, report, path);
    int c = -1;
    bool inside_tag = false;
    Status status = Prolog<Input>(run, in, scratch, path).read(c, inside_tag);
    if (status != kGoOn) return status;
    return run.run(c, inside_tag);
}

}  // namespace

Status report_unreadable(ReportBuilder& report, const char* name, int os_error) {
    Details details;
    details.kind = DiagnosticKind::input_output;
    details.os_error = os_error;
    report.begin(Severity::error).append_format("Could not open file %s for reading", name);
    report.end(details);
    return Status::unreadable;
}

Status DocumentParser::parse_file(const SchemaTable& table, const char* path, const Options& options, ReportBuilder& report) {
    FileSource file(path);
    if (!file.is_open()) return report_unreadable(report, path, file.open_error());
    return parse_source(table, [&file](char* buffer, size_t capacity) { return file.read(buffer, capacity); },
                        path, options, report);
}

Status DocumentParser::parse_source(const SchemaTable& table, const DocumentSource& read, const char* name,
                                    const Options& options, ReportBuilder& report) {
    BlockInput in(read);
    try {
        return parse_document(table, in, handler_, options, scratch_, report, name);
    } catch (const ReadFailure& failure) {
        // A directory, or a failing disk: what was read so far stands, the
        // file as a whole could not be read.
        return report_unreadable(report, name, failure.error);
    }
}

Status DocumentParser::parse_buffer(const SchemaTable& table, std::string_view data, const std::string& name,
                                    const Options& options, ReportBuilder& report) {
    MemoryInput in(data);
    return parse_document(table, in, handler_, options, scratch_, report, name.c_str());
}

}  // namespace tarvo
