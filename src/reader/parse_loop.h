// The parser's main loop, a template over the input policy. A file policy
// (Input::kStream false) carries a location for messages and is followed by
// a trailing-data check; a stream policy ends the document at the '>' that
// closes its root element and reads nothing after it.
#pragma once

#include <cstdarg>
#include <string>
#include <string_view>

#include "containers/ptr_stack.h"
#include "containers/str_buf.h"
#include "diag/reporter.h"
#include "reader/attribute_reader.h"
#include "reader/document_parser.h"
#include "reader/entities.h"
#include "schema/attributes.h"
#include "schema/content_model.h"

namespace tarvo {

template <class Input>
class ParseRun final : public Locator {
public:
    // Result of reading one tag: go on with the next cycle, or stop.
    static constexpr int kContinue = -1;

    ParseRun(const SchemaTable& table, Input& in, Handler* handler, int flags, ParseScratch& s,
             const char* path = nullptr)
        : table_(table), in_(in), handler_(handler), flags_(flags), s_(s), path_(path),
          reporter_(current_reporter()) {
        s_.tag_attributes.begin_document(table);
        if (reporter_) {
            outer_locator_ = reporter_->locator();
            reporter_->set_locator(this);
        }
    }
    ~ParseRun() {
        if (reporter_) reporter_->set_locator(outer_locator_);
    }
    ParseRun(const ParseRun&) = delete;
    ParseRun& operator=(const ParseRun&) = delete;

    Reporter* reporter() const { return reporter_; }
    void locate(long& line, long& column) override { in_.location(line, column); }

    // Messages: a file message is prefixed with the file and line, a stream
    // message carries no location and starts with a capital letter.
    void error(const char* format, ...) __attribute__((format(printf, 2, 3))) {
        if (!reporter_) return;
        va_list args;
        va_start(args, format);
        report(Severity::error, {}, format, args);
        va_end(args);
    }
    void warning(const char* format, ...) __attribute__((format(printf, 2, 3))) {
        if (!reporter_) return;
        va_list args;
        va_start(args, format);
        report(Severity::warning, {}, format, args);
        va_end(args);
    }

    // Errors reported so far: taken before a check, so that the message that
    // follows a refusal can carry what the refusal's record says.
    uint32_t mark() const { return reporter_ ? reporter_->error_count() : 0; }

    // A message about the current element after a check since `mark`: it
    // takes the kind, attribute and expected list of the check's refusal, or
    // `kind` when the check reported nothing.
    [[gnu::cold, gnu::noinline]] void follow_up(Severity severity, uint32_t mark, DiagnosticKind kind,
                                                const char* format) __attribute__((format(printf, 5, 0))) {
        if (!reporter_) return;
        Details details;
        details.kind = kind;
        if (const Diagnostic* cause = reporter_->last_error_since(mark)) {
            details.kind = cause->kind;
            details.attribute = cause->attribute;
            details.expected = cause->expected;
        }
        details.element = held_name();
        report_format(severity, details, format, name());
    }

    // The main loop. `c` is the current character; when `inside_tag` is set
    // the '<' of the first tag has been read and `c` is the first character
    // after it other than whitespace.
    int run(int c, bool inside_tag) {
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
                int status = read_tag(c);
                if (status != kContinue) return status;
                read_whitespace = true;
                continue;
            }
            if constexpr (!Input::kStream) {
                if (complete_) return trailing(c);
            }
            int status = character_data(c);
            if (status != kContinue) return status;
            c = '<';
            read_whitespace = false;
        }
    }

private:
    // Writes one message straight into its text, without a temporary copy.
    [[gnu::cold, gnu::noinline]] void report(Severity severity, const Details& details, const char* format,
                                             va_list args) __attribute__((format(printf, 4, 0))) {
        StrBuf& text = reporter_->begin(severity, details);
        size_t body = text.length();
        if constexpr (!Input::kStream) text.append_format("File %s, line %ld: ", path_, in_.line_number());
        text.append_vformat(format, args);
        if constexpr (Input::kStream) {
            if (text.length() > body) text.capitalize_at(body);
        }
        reporter_->end();
    }
    void report_format(Severity severity, const Details& details, const char* format, ...)
        __attribute__((format(printf, 4, 5))) {
        va_list args;
        va_start(args, format);
        report(severity, details, format, args);
        va_end(args);
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
    const char* name() { return held_name().c_str(); }
    // Once the tag's element is known its name is the grammar's, which stays
    // put while the buffer moves on.
    void name_from_grammar(int32_t element) {
        const ElementRule& e = table_.elements[element];
        name_ = std::string_view(e.name, e.name_length);
    }
    const ContentPosition* top() const { return stack_.top(); }

    // Runs a handler call and tells whether the call itself failed.
    template <class Call>
    bool deliver(Call&& call) {
        uint32_t before = reporter_ ? reporter_->error_count() : 0;
        call();
        return reporter_ && reporter_->error_count() != before;
    }

    int read_tag(int& c) {
        bool end_tag = false;
        if (c == '/') {
            end_tag = true;
            c = in_.skip_space();
        }
        // A view of the buffer (or of s_.name when it crossed a refill),
        // valid until the next refill.
        name_ = {};
        if (is_element_name_char(c)) c = in_.template read_name<':', is_element_name_char>(s_.name, name_);
        int status = end_tag ? close_tag() : skip_depth_ >= 0 ? skipped_start_tag(c) : start_tag(c);
        if (status != kContinue) return status;
        if (c != '>') {
            error("found '%c' where '>' expected", c);
            return 1;
        }
        if constexpr (Input::kStream) {
            if (complete_) return 0;
        }
        return kContinue;
    }

    int close_tag() {
        if (skip_depth_ >= 0) {
            --skip_depth_;
            return kContinue;
        }
        uint32_t before = mark();
        if (stack_.is_empty() || !accept_end_tag(table_, name_, top(), previous_)) {
            follow_up(Severity::error, before, DiagnosticKind::syntax, "error while closing element '%s'");
            return 1;
        }
        previous_ = stack_.pop();
        if (handler_) {
            name_from_grammar(previous_->element);
            if (deliver([&] { handler_->end_tag(previous_->element, name_); })) return 3;
        }
        if (stack_.is_empty()) complete_ = true;
        return kContinue;
    }

    int skipped_start_tag(int& c) {
        held_name();
        int last = c;
        while (c != '>') {
            last = c;
            c = in_.skip_space();
            if (c < 0) {
                error("unexpected end of file while opening element '%s'", name());
                return 1;
            }
        }
        if (last != '/') ++skip_depth_;
        return kContinue;
    }

    int start_tag(int& c) {
        uint32_t before = mark();
        const ContentPosition* pos = accept_start_tag(table_, name_, top(), previous_);
        if (!pos) {
            held_name();
            if (!(flags_ & PARSE_IGNORE_WRONG_ELEMENTS)) {
                follow_up(Severity::error, before, DiagnosticKind::misplaced_element, "error while opening element '%s'");
                return 1;
            }
            follow_up(Severity::warning, before, DiagnosticKind::misplaced_element,
                      "invalid element '%s' ignored - trying to continue");
            skip_depth_ = 0;
            while (c != '>' && c != '/') {
                if (c < 0) {
                    error("unexpected end of file while opening element '%s'", name());
                    return 1;
                }
                c = in_.skip_space();
            }
            return after_start_tag(c);
        }
        name_from_grammar(pos->element);
        stack_.push(pos);
        previous_ = nullptr;
        if (is_space(c)) c = in_.skip_space();
        AttributeSet& attrs = s_.attributes;
        TagAttributes& tag = s_.tag_attributes;
        tag.start(table_, pos->element, attrs);
        // Values may be views of the input's buffer until the tag is done.
        struct Unwatch {
            Input& in;
            ~Unwatch() { in.on_refill(nullptr, nullptr); }
        } unwatch{in_};
        if (c != '>' && c != '/') {
            int lookahead = c;
            bool ok = read_attribute_list(in_, lookahead, tag, s_.attribute_name, [this](int ch) {
                error("found '%c' where '=' expected", ch);
            });
            c = lookahead;
            if (!ok) {
                follow_up(Severity::error, before, DiagnosticKind::syntax, "error in attributes for element '%s'");
                return 1;
            }
        }
        before = mark();
        if (!(tag.moved() ? check_attributes(table_, pos->element, attrs, flags_) : tag.check(flags_))) {
            follow_up(Severity::error, before, DiagnosticKind::syntax, "error in attributes for element '%s'");
            return 1;
        }
        if (handler_) {
            std::span<const Attribute> delivered;
            if (tag.moved()) {
                s_.delivered.clear();
                for (const AttributeSet::Entry& e : attrs)
                    s_.delivered.push_back({e.key, e.value.text, e.value.rule});
                delivered = s_.delivered;
            } else {
                delivered = tag.deliver(s_.delivered);
            }
            if (deliver([&] { handler_->start_tag(pos->element, name_, delivered); })) return 3;
        }
        return after_start_tag(c);
    }

    int after_start_tag(int& c) {
        if (is_space(c)) c = in_.skip_space();
        if (c != '/') return kContinue;
        if (skip_depth_ >= 0) {
            --skip_depth_;
            c = in_.skip_space();
            return kContinue;
        }
        uint32_t before = mark();
        if (!accept_end_tag(table_, name_, top(), previous_)) {
            follow_up(Severity::error, before, DiagnosticKind::syntax, "error while closing element '%s'");
            return 1;
        }
        if (handler_ && deliver([&] { handler_->end_tag(top()->element, name_); })) return 3;
        previous_ = stack_.pop();
        if (stack_.is_empty()) complete_ = true;
        c = in_.skip_space();
        return kContinue;
    }

    [[gnu::cold, gnu::noinline]] void refuse_text(uint32_t mark) {
        if (!reporter_) return;
        Details details;
        details.kind = DiagnosticKind::text_not_allowed;
        if (const Diagnostic* cause = reporter_->last_error_since(mark)) {
            details.element = cause->element;
            details.expected = cause->expected;
        }
        report_format(Severity::error, details, "character data is not allowed here");
    }

    int trailing(int c) {
        for (; c >= 0; c = in_.get()) {
            if (!is_space(c)) {
                error("trailing garbage at end of file");
                return 1;
            }
        }
        return 0;
    }

    // A run of character data starting at `c` (not '<'), up to the next '<'.
    int character_data(int c) {
        std::string& text = s_.text;
        text.clear();
        for (char w : whitespace_)  // read just before `c`, still valid
            if (w != '\r') text.push_back(w);
        if (c < 0) {
            error("unexpected end of file in text");
            return 1;
        }
        if (c != '\r' && c != 0) text.push_back(static_cast<char>(c));
        bool amp = c == '&';
        if (in_.template scan_until<'<', true>(text, amp) < 0) {
            error("unexpected end of file in text");
            return 1;
        }
        if (skip_depth_ >= 0) return kContinue;
        uint32_t before = mark();
        const ContentPosition* pos = stack_.is_empty() ? nullptr : accept_text(table_, top(), previous_);
        if (!pos) {
            refuse_text(before);
            return 1;
        }
        previous_ = pos;
        if (handler_) {
            if (amp) decode_entities(text);
            const ElementRule& open = table_.elements[top()->element];
            std::string_view open_name(open.name, open.name_length);
            if (deliver([&] { handler_->text(open.index, open_name, text); })) return 3;
        }
        return kContinue;
    }

    const SchemaTable& table_;
    Input& in_;
    Handler* handler_;
    const int flags_;
    ParseScratch& s_;
    const char* path_;
    Reporter* reporter_;
    Locator* outer_locator_ = nullptr;

    // Whitespace after the last '>', kept for a run of character data that
    // it begins.
    std::string_view whitespace_;
    // The name of the tag being read (see read_tag).
    std::string_view name_;
    PtrStack<const ContentPosition> stack_;
    const ContentPosition* previous_ = nullptr;
    int skip_depth_ = -1;
    bool complete_ = false;  // the root element has closed
};

template <class Input>
int DocumentParser::parse_stream(const SchemaTable& table, Input& input, int& lookahead, int flags) {
    ParseRun<Input> run(table, input, handler_, flags, scratch_);
    int c = (lookahead < 0 || is_space(lookahead)) ? input.skip_space() : lookahead;
    if (c != '<') {
        if (Reporter* r = run.reporter()) r->error("Found '%c' (%d) where '<' expected", c, c);
        return 1;
    }
    int status = run.run(c, false);
    if (status == 0) lookahead = -1;
    return status;
}

}  // namespace tarvo
