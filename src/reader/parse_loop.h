// The parser's main loop, a template over the input policy. A file policy
// (Input::kStream false) carries a location for messages and is followed by
// a trailing-data check; a stream policy ends the document at the '>' that
// closes its root element and reads nothing after it.
//
// The loop is the only place that reports: the checks it calls return what
// they refused, and the loop words each refusal, files it in its report,
// and adds the line that says where it happened.
#pragma once

#include <cstdarg>
#include <string>
#include <string_view>
#include <utility>

#include "check/attributes.h"
#include "check/content_model.h"
#include "containers/ptr_stack.h"
#include "containers/str_buf.h"
#include "diag/messages.h"
#include "diag/report.h"
#include "diag/token_spans.h"
#include "reader/attribute_reader.h"
#include "reader/document_parser.h"
#include "reader/entities.h"
#include "reader/position_scope.h"
#include "reader/sibling_places.h"
#include "reader/xml_markup.h"
#include "reader/xml_text.h"

namespace tarvo {

// What the loop's steps return: a Status ends the document, kGoOn reads on.
inline constexpr Status kGoOn = static_cast<Status>(-1);

// `Xml` selects the XML 1.0 reading mode (Flags::xml): a separate
// instantiation, so the default mode pays nothing for it.
template <DocumentInput Input, bool Xml = false>
class ParseRun final : private Position {
public:
    ParseRun(const SchemaTable& table, Input& in, Handler* handler, const Options& options, ParseScratch& s,
             ReportBuilder& report, const char* path = nullptr)
        : table_(table), in_(in), handler_(handler), flags_(options.flags), max_errors_(options.max_errors),
          paths_(options.paths), s_(s),
          report_(report), path_(path), position_scope_(handler, this) {
        s_.tag_attributes.begin_document(table);
        stack_.clear();
    }
    ParseRun(const ParseRun&) = delete;
    ParseRun& operator=(const ParseRun&) = delete;

    void location(long& line, long& column) const override { in_.location(line, column); }

    // A message of the loop's own: a file message is prefixed with the file
    // and line, a stream message carries no location and starts with a
    // capital letter.
    [[gnu::cold, gnu::noinline]] Status error(const char* format, ...) __attribute__((format(printf, 2, 3))) {
        va_list args;
        va_start(args, format);
        report(Severity::error, {}, format, args);
        va_end(args);
        return Status::invalid;
    }

    // A message without the loop's prefix, located where the reader stands.
    [[gnu::cold, gnu::noinline]] void plain(Severity severity, const Details& details, const char* format, ...)
        __attribute__((format(printf, 4, 5))) {
        va_list args;
        va_start(args, format);
        report_.begin(severity).append_vformat(format, args);
        va_end(args);
        file(details);
    }

    // A syntax error of the XML reading mode, which names the column too.
    [[gnu::cold, gnu::noinline]] Status xml_error(const std::string& what) {
        StrBuf& text = report_.begin(Severity::error);
        const size_t body = text.length();
        long line, column;
        in_.location(line, column);
        if constexpr (!Input::kStream) text.append_format("File %s, line %ld, column %ld: ", path_, line, column);
        text.append(what);
        if constexpr (Input::kStream) {
            if (text.length() > body) text.capitalize_at(body);
        }
        report_.end({}, Span::at(line, column));
        return Status::invalid;
    }
    Status xml_expected(int found, const char* expected) { return xml_error(xml::expected(found, expected)); }

    // The markup other than tags (see xml_markup.h), each after its opening
    // characters: a processing instruction after "<?" (at the very start of
    // a document, `at_start`, one named xml is the XML declaration), a
    // comment after "<!-", a CDATA section after "<![", whose characters join
    // the text being gathered.
    Status processing_instruction(bool at_start = false) {
        return judged(xml::processing_instruction(in_, s_, at_start));
    }
    Status comment() { return judged(xml::comment(in_, s_.whitespace)); }
    Status cdata_section() {
        if (text_blank_) in_.mark_back(1, true);  // the run's first non-blank part, from the '[' of "<!["
        Status status = judged(xml::cdata_section(in_, s_.whitespace));
        if (status != kGoOn) return status;
        s_.text += s_.whitespace;
        text_blank_ = false;
        text_gathered_ = true;
        return kGoOn;
    }
    Status judged(const std::string& problem) { return problem.empty() ? kGoOn : xml_error(problem); }
    // An element name with characters beyond ASCII: reported unless XML
    // allows them.
    [[gnu::cold]] bool judge_name(std::string_view name) { return judged(xml::check_name(name)) == kGoOn; }

    // Markup after '<' and `opener` ('!' or '?'): in the content (`content`
    // set) a CDATA section may stand there too.
    Status markup(int opener, bool content) {
        if (opener == '?') return processing_instruction();
        int c = in_.get();
        if (c == '-') return comment();
        if (content && c == '[') return cdata_section();
        return xml_expected(c, content ? "'--' or '[CDATA['" : "'--'");
    }

    // After the root element: whitespace, comments and processing
    // instructions only.
    Status xml_trailing(int c) {
        for (;;) {
            if (is_space(c)) c = in_.skip_space();
            if (c < 0) return Status::ok;
            if (c != '<') return xml_expected(c, "the end of the document (only comments, processing instructions "
                                                 "and whitespace may follow the root element)");
            c = in_.get();
            if (c != '!' && c != '?')
                return xml_expected(c, "'!--' or '?' (only comments, processing instructions and whitespace may "
                                       "follow the root element)");
            Status status = markup(c, false);
            if (status != kGoOn) return status;
            c = in_.get();
        }
    }

    // The root element's tag is read next: whatever was gathered before it
    // is no run of character data.
    void start_content() {
        s_.text.clear();
        text_gathered_ = false;
        text_blank_ = true;
    }

    // The main loop. `c` is the current character; when `inside_tag` is set
    // the '<' of the first tag has been read and `c` is the first character
    // after it other than whitespace (in the XML mode, the one right after it).
    Status run(int c, bool inside_tag) {
        const Status status = Xml ? run_xml(c, inside_tag) : run_plain(c, inside_tag);
        // A document read to its end after errors the parse went on after.
        return status == Status::ok && errors_ > 0 ? Status::invalid : status;
    }

private:
    Status run_plain(int c, bool inside_tag) {
        bool read_whitespace = false;
        for (;;) {
            bool tag = inside_tag;
            inside_tag = false;
            if (!tag) {
                whitespace_ = {};
                if (read_whitespace) c = in_.read_space(s_.whitespace, whitespace_);
                if (c == '<') {
                    c = in_.skip_space();
                    tag = true;
                }
            }
            if (tag) {
                Status status = read_tag(c);
                if (status != kGoOn) return status;
                read_whitespace = true;
                continue;
            }
            if constexpr (!Input::kStream) {
                if (complete_) return trailing(c);
            }
            Status status = character_data(c);
            if (status != kGoOn) return status;
            c = '<';
            read_whitespace = false;
        }
    }

private:
    // The XML mode's loop, shaped like the default one: mostly a run of
    // character data ends at a tag and is checked there. Only when a
    // comment, processing instruction or CDATA section follows does the run
    // go on past it (gather_past_markup).
    Status run_xml(int c, bool inside_tag) {
        bool after_tag = false;
        for (;;) {
            if (!inside_tag) {
                // Whitespace after a tag, as the default loop reads it:
                // mostly it only separates two tags.
                whitespace_ = {};
                if (after_tag) c = in_.read_space(s_.whitespace, whitespace_);
                if constexpr (!Input::kStream) {
                    if (complete_) return xml_trailing(c);
                }
                if (c != '<') {
                    Status status = gather_text(c);
                    if (status != kGoOn) return status;
                }
                c = in_.get();
                if (c == '!' || c == '?') [[unlikely]] {
                    if (!text_gathered_ && !whitespace_.empty()) {
                        // The whitespace may begin a run that goes on past the markup.
                        s_.text.assign(whitespace_);
                        text_gathered_ = true;
                    }
                    Status status = gather_past_markup(c);
                    if (status != kGoOn) return status;
                } else if (text_gathered_) {
                    Status status = flush_text();
                    if (status != kGoOn) return status;
                }
            }
            inside_tag = false;
            Status status = read_tag_inline(c);
            if (status != kGoOn) return status;
            after_tag = true;
        }
    }

    // Markup in the content, `c` being the character after its '<', and the
    // character data and markup after it, up to the '<' of the next tag; `c`
    // is then the character after that '<'. The run gathered is checked as
    // one.
    [[gnu::noinline]] Status gather_past_markup(int& c) {
        do {
            Status status = markup(c, true);
            if (status != kGoOn) return status;
            c = in_.get();
            if (c != '<') {
                whitespace_ = {};
                status = gather_text(c);
                if (status != kGoOn) return status;
            }
            c = in_.get();
        } while (c == '!' || c == '?');
        return text_gathered_ ? flush_text() : kGoOn;
    }

    // Character data from `c` (not '<'; the whitespace before it is in
    // `whitespace_`) up to the next '<' (consumed), finished and added to the
    // run being gathered.
    [[gnu::always_inline]] Status gather_text(int c) {
        std::string& text = s_.text;
        const size_t start = text.size();
        if (!whitespace_.empty()) text += whitespace_;  // read just before `c`, still valid
        whitespace_ = {};
        size_t raw = start;
        if (c >= 0) {
            if (text_blank_) in_.mark_back(1, true);
            in_.unget();  // scanned with the rest
            // A tab or line feed here comes after markup: judged all the
            // same. A reference is for the scan to judge.
            if (!is_xml_text_stop(c) || c == '&') raw = Input::kFinished;
        }
        if (c < 0 || in_.template scan_xml<'<', true>(text, raw) < 0) {
            if (stack_.is_empty()) return xml_expected(-1, complete_ ? "the end of the document" : "the root element");
            return xml_error("found end of input where the end tag of '" +
                             std::string(element_name(table_, top()->element)) + "' expected");
        }
        text_gathered_ = true;
        if (text_blank_) text_blank_ = blank_from(start);
        if (raw != Input::kFinished) {
            std::string problem = xml::finish_run(text, xml::Run::text, raw);
            if (!problem.empty()) return xml_error(problem);
        }
        return kGoOn;
    }

    bool blank_from(size_t start) const {
        for (size_t i = start; i < s_.text.size(); ++i)
            if (!is_space(static_cast<unsigned char>(s_.text[i]))) return false;
        return true;
    }

    // The run gathered before a tag: whitespace alone is no character data,
    // anything else is checked and delivered as one text event.
    Status flush_text() {
        text_gathered_ = false;
        const bool blank = text_blank_;
        text_blank_ = true;
        if (blank) {
            s_.text.clear();
            return kGoOn;
        }
        Status status = deliver_text(false);
        s_.text.clear();
        return status;
    }

    // Files the message begun in the report, about `span`, or by default
    // where the reader stands.
    void file(const Details& details, const Span* span = nullptr) { report_.end(details, span ? *span : spans_.here()); }
    // The spans of the tokens a problem is about (see diag/token_spans.h),
    // each worked out before the problem's first record is filed. The name
    // just read, the reader on the byte `c` after it; an end tag's (in the
    // XML mode, whitespace may follow it).
    Span name_span(int c) { return spans_.name(name_.size(), c); }
    Span end_name_span(int c) {
        if constexpr (Xml) {
            if (end_name_.line > 0) return end_name_;
        }
        return name_span(c);
    }

    // A message of the loop's own is written in three steps: begin_own()
    // writes the file's prefix and returns the text, the caller appends
    // the body, end_own() capitalises a stream message and files it.
    StrBuf& begin_own(Severity severity) {
        StrBuf& text = report_.begin(severity);
        own_body_ = text.length();
        if constexpr (!Input::kStream) text.append_format("File %s, line %ld: ", path_, in_.line_number());
        return text;
    }
    void end_own(const Details& details, const Span* span = nullptr) {
        if constexpr (Input::kStream) {
            StrBuf& text = report_.text_being_written();
            if (text.length() > own_body_) text.capitalize_at(own_body_);
        }
        file(details, span);
    }

    // Writes one message straight into its text, without a temporary copy.
    void report(Severity severity, const Details& details, const char* format, va_list args)
        __attribute__((format(printf, 4, 0))) {
        begin_own(severity).append_vformat(format, args);
        end_own(details);
    }

    // A content-model refusal: its own message, then the loop's line about
    // the current element, which carries the refusal's kind and expected
    // list.
    // `opening`: the refused element is a start tag's, not open yet.
    [[gnu::cold, gnu::noinline]] void refused(const ContentRefusal& refusal, Severity severity, bool opening,
                                              const Span& span, const char* before, const char* after = "'") {
        Details cause = refusal_details(table_, refusal, s_.expected);
        place(cause, opening);
        word_refusal(table_, refusal, report_.begin(Severity::error));
        file(cause, &span);
        follow_up(severity, cause, &span, before, after);
    }

    // Where the concerned element stands: its parent and its path from the
    // root. It is the open element, or with `opening` the start tag's.
    void place(Details& d, bool opening) {
        std::string& path = s_.path;
        path.clear();
        const int32_t depth = stack_.count();
        const int32_t parent = depth - (opening ? 1 : 2);
        if (parent >= 0) d.parent = element_name(table_, (*(stack_.begin() + parent))->element);
        if (!paths_) return;
        auto step = [&path](std::string_view name, uint32_t place) {
            path.append("/").append(name).append("[").append(std::to_string(place)).append("]");
        };
        for (int32_t i = 0; i < depth; ++i)
            step(element_name(table_, (*(stack_.begin() + i))->element), places_.place(static_cast<size_t>(i)));
        if (opening)
            step(held_name(), places_.count_child(SiblingPlaces::key(find_element(table_, name_), name_)));
        d.path = path;
    }
    [[gnu::always_inline]] void open_child(int32_t element) {
        if (paths_) places_.open(element);
    }
    void close_child() {
        if (paths_) places_.close();
    }

    // The loop's line after a refusal whose details are `cause`: `before`,
    // the current tag's name, `after`. The name is appended as it is, not
    // through a format, whatever its length.
    void follow_up(Severity severity, const Details& cause, const Span* span, const char* before,
                   const char* after = "'") {
        Details details = cause;
        details.element = held_name();
        details.note = true;
        naming(severity, details, before, after, span);
    }
    void naming(Severity severity, const Details& details, const char* before, const char* after,
                const Span* span = nullptr) {
        StrBuf& text = begin_own(severity);
        text.append(before);
        text.append(held_name());
        text.append(after);
        end_own(details, span);
    }

    // The current tag's name for a message: copied out of the read buffer,
    // which may move on before the message is made.
    const std::string& held_name() {
        if (name_.data() != s_.name.data() || name_.size() != s_.name.size()) {
            s_.name.assign(name_.data(), name_.size());
            name_ = s_.name;
        }
        return s_.name;
    }
    [[gnu::cold, gnu::noinline]] Status end_of_file_in_tag() {
        naming(Severity::error, {}, "unexpected end of file while opening element '", "'");
        return Status::invalid;
    }
    // Once the tag's element is known its name is the grammar's, which stays
    // put while the buffer moves on.
    void name_from_grammar(int32_t element) {
        const ElementRule& e = table_.elements[element];
        name_ = std::string_view(e.name, e.name_length);
    }
    const ContentPosition* top() const { return stack_.top(); }

    // A handler call returned false: its failure is the parse's last error.
    [[gnu::cold, gnu::noinline]] Status handler_failed() {
        Details details;
        details.kind = DiagnosticKind::handler_failed;
        report_.begin(Severity::error).append(handler_->failure());
        file(details);
        return Status::handler_failed;
    }

    // After '/' and "/>": the next character, and in the default mode the
    // next one other than whitespace.
    int after_slash() { return Xml ? in_.get() : in_.skip_space(); }

    // The default loop leaves inlining to the compiler, which does best
    // there; the XML loop gains by having the tag inline.
    Status read_tag(int& c) { return read_tag_inline(c); }
    [[gnu::always_inline]] Status read_tag_inline(int& c) {
        bool end_tag = false;
        if (c == '/') {
            end_tag = true;
            c = after_slash();
        }
        // A view of the buffer (or of s_.name when it crossed a refill),
        // valid until the next refill.
        name_ = {};
        if (!end_tag) in_.mark_back(1);
        if constexpr (Xml) {
            if (!xml::is_name_start_byte(c)) return xml_expected(c, "an element name");
            c = in_.read_xml_name(s_.name, name_, [this](std::string_view name) { return judge_name(name); });
            if (c == kRefusedName) [[unlikely]]
                return Status::invalid;
            if (end_tag) {
                end_name_.line = 0;
                if (is_space(c)) {
                    end_name_ = name_span(c);
                    held_name();  // the whitespace may take the buffer on
                    c = in_.skip_space();
                }
            }
        } else {
            if (is_element_name_char(c)) c = in_.template read_name<':', is_element_name_char>(s_.name, name_);
        }
        Status status = end_tag ? close_tag(c) : skip_depth_ >= 0 ? skipped_start_tag(c) : start_tag(c);
        if (status != kGoOn) return status;
        if (c != '>') return Xml ? xml_expected(c, "'>'") : error("found '%c' where '>' expected", c);
        if constexpr (Input::kStream) {
            if (complete_) return Status::ok;
        }
        return kGoOn;
    }

    Status close_tag(int c) {
        if (skip_depth_ >= 0) {
            --skip_depth_;
            return kGoOn;
        }
        if (stack_.is_empty()) {
            follow_up(Severity::error, {}, nullptr, "error while closing element '");
            return Status::invalid;
        }
        ContentRefusal refusal;
        if (!accept_end_tag(table_, name_, top(), previous_, refusal) && !close_anyway(refusal, c)) return Status::invalid;
        previous_ = stack_.pop();
        close_child();
        if (handler_) {
            name_from_grammar(previous_->element);
            if (!handler_->end_tag(previous_->element, name_)) return handler_failed();
        }
        if (stack_.is_empty()) complete_ = true;
        return kGoOn;
    }

    Status skipped_start_tag(int& c) {
        held_name();
        int last = c;
        while (c != '>') {
            last = c;
            c = in_.skip_space();
            if (c < 0) return end_of_file_in_tag();
        }
        if (last != '/') ++skip_depth_;
        return kGoOn;
    }

    Status start_tag(int& c) {
        ContentRefusal refusal;
        const ContentPosition* pos = accept_start_tag(table_, name_, top(), previous_, refusal);
        if (!pos) return refused_start_tag(refusal, c);
        name_from_grammar(pos->element);
        stack_.push(pos);
        open_child(pos->element);
        previous_ = nullptr;
        if (is_space(c)) c = in_.skip_space();
        TagAttributes& tag = s_.tag_attributes;
        tag.start(table_, pos->element);
        // Values may be views of the input's buffer until the tag is done.
        struct Unwatch {
            Input& in;
            ~Unwatch() { in.on_refill(nullptr, nullptr); }
        } unwatch{in_};
        if constexpr (Xml) {
            if (c != '>' && c != '/') {
                std::string problem;
                if (!read_xml_attribute_list(in_, c, tag, s_.attribute_name, problem)) return xml_error(problem);
                if (c != '>' && c != '/') return xml_expected(c, "an attribute name, '>' or '/>'");
            }
        } else if (c != '>' && c != '/') {
            int lookahead = c;
            bool ok = read_attribute_list(in_, lookahead, tag, s_.attribute_name, [this](int ch) {
                error("found '%c' where '=' expected", ch);
            });
            c = lookahead;
            if (!ok) {
                follow_up(Severity::error, {}, nullptr, "error in attributes for element '");
                return Status::invalid;
            }
        }
        for (AttributeProblem p = tag.next_problem(); p.kind != AttributeProblem::Kind::none; p = tag.next_problem())
            if (!tolerate(tag, pos->element, p)) return Status::invalid;
        if (handler_) {
            std::span<const Attribute> delivered = tag.deliver(s_.delivered);
            if (!handler_->start_tag(pos->element, name_, delivered)) return handler_failed();
        }
        return after_start_tag(c);
    }

    // Reports an attribute problem; tells whether the flags tolerate it (a
    // wrong value then takes its default, an undeclared name is kept).
    [[gnu::cold, gnu::noinline]] bool tolerate(TagAttributes& tag, int32_t element, const AttributeProblem& p) {
        const ElementRule& e = table_.elements[element];
        bool tolerated = false;
        if (p.kind == AttributeProblem::Kind::wrong_value)
            tolerated = has(flags_, Flags::ignore_wrong_attributes) && e.attributes[p.rule].default_value;
        else if (p.kind == AttributeProblem::Kind::unknown)
            tolerated = has(flags_, Flags::ignore_unknown_attributes);
        Details cause = attribute_details(e, p, s_.expected);
        place(cause, false);
        const Span span = spans_.attribute(p);
        word_attribute_problem(e, p, tolerated, report_.begin(tolerated ? Severity::warning : Severity::error));
        file(cause, &span);
        if (tolerated) {
            if (p.kind == AttributeProblem::Kind::wrong_value) tag.use_default(p.rule);
            return true;
        }
        const Span name = spans_.tag_name();
        follow_up(Severity::error, cause, &name, "error in attributes for element '");
        if (!keep_going()) return false;
        // On as the matching tolerance would go.
        if (p.kind == AttributeProblem::Kind::wrong_value && e.attributes[p.rule].default_value)
            tag.use_default(p.rule);
        else if (p.kind == AttributeProblem::Kind::unknown)
            tag.drop_undeclared();
        else if (p.kind == AttributeProblem::Kind::missing)
            tag.leave_out_missing();
        return true;
    }

    // After a validity error: whether the parse goes on, counting the error.
    bool keep_going() {
        if (max_errors_ == 1) return false;
        ++errors_;
        return max_errors_ == 0 || errors_ < max_errors_;
    }

    [[gnu::cold, gnu::noinline]] Status refused_start_tag(const ContentRefusal& refusal, int& c) {
        held_name();
        const Span span = name_span(c);
        if (!has(flags_, Flags::ignore_wrong_elements)) {
            refused(refusal, Severity::error, true, span, "error while opening element '");
            if (!keep_going()) return Status::invalid;
        } else {
            refused(refusal, Severity::warning, true, span, "invalid element '", "' ignored - trying to continue");
        }
        skip_depth_ = 0;
        while (c != '>' && c != '/') {
            if (c < 0) return end_of_file_in_tag();
            c = in_.skip_space();
        }
        return after_start_tag(c);
    }

    Status after_start_tag(int& c) {
        if (is_space(c)) c = in_.skip_space();
        if (c != '/') return kGoOn;
        if (skip_depth_ >= 0) {
            --skip_depth_;
            c = after_slash();
            return kGoOn;
        }
        ContentRefusal refusal;
        if (!accept_end_tag(table_, name_, top(), previous_, refusal) && !close_anyway(refusal, kEmptyElement))
            return Status::invalid;
        if (handler_ && !handler_->end_tag(top()->element, name_)) return handler_failed();
        previous_ = stack_.pop();
        close_child();
        if (stack_.is_empty()) complete_ = true;
        c = after_slash();
        return kGoOn;
    }

    // An end tag refused: reports it; an element missing a child closes all
    // the same when the parse goes on, a close tag of another name never.
    // `c`: the byte after the end tag's name, or kEmptyElement.
    static constexpr int kEmptyElement = -2;
    [[gnu::cold, gnu::noinline]] bool close_anyway(const ContentRefusal& refusal, int c) {
        const Span span = c == kEmptyElement ? spans_.tag_name() : end_name_span(c);
        refused(refusal, Severity::error, false, span, "error while closing element '");
        return refusal.reason == ContentRefusal::Reason::missing && keep_going();
    }

    [[gnu::cold, gnu::noinline]] Status refuse_text(const ContentRefusal* refusal) {
        Details details;
        const Span span = spans_.text(Xml ? 2 : 1);  // the '<' (and in the XML mode the byte after it) read since
        if (refusal) {
            details = refusal_details(table_, *refusal, s_.expected);
            place(details, false);
            word_refusal(table_, *refusal, report_.begin(Severity::error));
            file(details, &span);
            details.note = true;
        }
        details.kind = DiagnosticKind::text_not_allowed;
        begin_own(Severity::error).append("character data is not allowed here");
        end_own(details, &span);
        return refusal && keep_going() ? kGoOn : Status::invalid;  // the text is skipped
    }

    Status trailing(int c) {
        for (; c >= 0; c = in_.get())
            if (!is_space(c)) return error("trailing garbage at end of file");
        return Status::ok;
    }

    // A run of character data starting at `c` (not '<'), up to the next '<'.
    Status character_data(int c) {
        std::string& text = s_.text;
        text.clear();
        for (char w : whitespace_)  // read just before `c`, still valid
            if (w != '\r') text.push_back(w);
        if (c < 0) return error("unexpected end of file in text");
        in_.mark_back(1, true);
        if (c != '\r' && c != 0) text.push_back(static_cast<char>(c));
        bool amp = c == '&';
        if (in_.template scan_until<'<', true>(text, amp) < 0) return error("unexpected end of file in text");
        return deliver_text(amp);
    }

    // Checks the run of character data in s_.text against the content model
    // and delivers it; `amp` says it may hold references still to decode.
    Status deliver_text(bool amp) {
        std::string& text = s_.text;
        if (skip_depth_ >= 0) return kGoOn;
        if (stack_.is_empty()) return refuse_text(nullptr);
        ContentRefusal refusal;
        const ContentPosition* pos = accept_text(table_, top(), previous_, refusal);
        if (!pos) return refuse_text(&refusal);
        previous_ = pos;
        if (handler_) {
            if (amp) decode_entities(text);
            const ElementRule& open = table_.elements[top()->element];
            std::string_view open_name(open.name, open.name_length);
            if (!handler_->text(open.index, open_name, text)) return handler_failed();
        }
        return kGoOn;
    }

    const SchemaTable& table_;
    Input& in_;
    Handler* handler_;
    const Flags flags_;
    const unsigned max_errors_;
    const bool paths_;
    unsigned errors_ = 0;  // validity errors reported
    ParseScratch& s_;
    ReportBuilder& report_;
    const char* path_;
    size_t own_body_ = 0;  // where the body of the message being written begins
    PositionScope position_scope_;

    // Whitespace after the last '>', kept for a run of character data that
    // it begins.
    std::string_view whitespace_;
    // The name of the tag being read (see read_tag).
    std::string_view name_;
    PtrStack<const ContentPosition>& stack_ = s_.open;
    const ContentPosition* previous_ = nullptr;
    int skip_depth_ = -1;
    bool complete_ = false;  // the root element has closed
    SiblingPlaces places_;  // for paths, with paths_
    // The spans of records, and an end tag's name that whitespace followed.
    TokenSpans<Input> spans_{in_};
    Span end_name_;
    // The XML mode's run of character data being gathered in s_.text.
    bool text_gathered_ = false;
    bool text_blank_ = true;  // whitespace only so far, and no CDATA section
};

}  // namespace tarvo
