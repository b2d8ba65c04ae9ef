#include "reader/document_parser.h"

#include "reader/parse_loop.h"

namespace tarvo {

namespace {

bool is_letter(int c, char lower) { return c == lower || c == lower - 'a' + 'A'; }

// The XML declaration and the one optional declaration opened by "<!",
// up to the first character of the first element's tag.
template <class Input>
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

template <class Input>
Status parse_document(const SchemaTable& table, Input& in, Handler* handler, Flags flags, ParseScratch& scratch,
                      ReportBuilder& report, const char* path) {
    ParseRun<Input> run(table, in, handler, flags, scratch, report, path);
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

Status DocumentParser::parse_file(const SchemaTable& table, const char* path, Flags flags, ReportBuilder& report) {
    FileSource file(path);
    if (!file.is_open()) return report_unreadable(report, path, file.open_error());
    return parse_source(table, [&file](char* buffer, size_t capacity) { return file.read(buffer, capacity); },
                        path, flags, report);
}

Status DocumentParser::parse_source(const SchemaTable& table, const DocumentSource& read, const char* name,
                                    Flags flags, ReportBuilder& report) {
    BlockInput in(read);
    try {
        return parse_document(table, in, handler_, flags, scratch_, report, name);
    } catch (const ReadFailure& failure) {
        // A directory, or a failing disk: what was read so far stands, the
        // file as a whole could not be read.
        return report_unreadable(report, name, failure.error);
    }
}

Status DocumentParser::parse_buffer(const SchemaTable& table, std::string_view data, const std::string& name,
                                    Flags flags, ReportBuilder& report) {
    MemoryInput in(data);
    return parse_document(table, in, handler_, flags, scratch_, report, name.c_str());
}

}  // namespace tarvo
