// Byte input for the document parser. Every source is read through one
// buffer: get() is an inline pointer bump, and the runs (names, whitespace,
// character data, attribute values) are scanned in bulk, sixteen bytes per
// step (byte_scan.h). Sources differ only in how they refill the buffer
// (inputs.h).
#pragma once

#include <algorithm>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "reader/byte_scan.h"
#include "reader/char_class.h"
#include "reader/xml_text.h"

namespace tarvo {

// Line feeds in [b, e).
long count_newlines(const unsigned char* b, const unsigned char* e);

// What read_xml_name() returns for a name its judge refused.
inline constexpr int kRefusedName = -3;
static_assert(kRefusedName >= detail::kClassesFrom, "the character classes take every value a scan returns");

template <class Derived>
class BufferedInput {
public:
    // Where the last character read stands: its line (1 plus the line feeds
    // before it) and its column (in bytes from 1). Line feeds are counted
    // only when a buffer is left behind and when a location is asked for, so
    // each byte is counted once whatever the number of messages.
    void location(long& line, long& column) {
        if (!texts_.empty()) [[unlikely]]
            return location_in_text(line, column);
        long at;
        if (cur_ > base_) {
            count_upto(cur_ - 1);
            at = consumed_before_ + static_cast<long>(cur_ - 1 - base_);
        } else if (consumed_before_ > 0) {
            at = consumed_before_ - 1;  // the last byte of a buffer left behind
        } else {
            line = column = 1;  // nothing read yet
            return;
        }
        line = 1 + newlines_;
        column = at - last_newline_;
    }
    long line_number() {
        long line, column;
        location(line, column);
        return line;
    }

    // For messages about a construct read earlier (a start tag, a run of
    // character data): mark_back(n) marks the byte read n bytes ago, in
    // the buffer, as the construct's first; from then until the next mark,
    // a refill keeps the marked bytes and the mark's line and column, so
    // that marked() shows every byte from the mark to the byte read next
    // however the input was split. A run of character data (`text`, its
    // first byte not blank) only needs where it starts and its last
    // non-blank byte: of a long one only the last bytes are kept (see
    // text_cut()), so that a huge run is not held twice.
    void mark_back(long n, bool text = false) {
        if (cur_ - base_ >= n) {
            marked_at_ = cur_ - n;
            text_mark_ = text;
        } else {  // the input has ended and its buffer is empty: no byte to mark
            marked_at_ = nullptr;
            mark_ = -1;
        }
    }
    std::string_view marked(std::string& scratch, long& line, long& column) {
        if (const unsigned char* p = marked_at_) {
            location_of(p, line, column);
            return {reinterpret_cast<const char*>(p), static_cast<size_t>(cur_ - p)};
        }
        if (mark_ < 0 || kept_from_ != mark_) return {};
        line = kept_line_;
        column = kept_column_;
        scratch.assign(kept_);
        if (const unsigned char* from = past_kept(); from < cur_)
            scratch.append(reinterpret_cast<const char*>(from), static_cast<size_t>(cur_ - from));
        return scratch;
    }
    // Where a run of character data marked with mark_back(n, true) starts,
    // and where its last non-blank byte before those marked() shows stands,
    // when the run outgrew what is kept of it; null otherwise.
    struct TextCut {
        long line, column, last_line, last_column;
    };
    const TextCut* text_cut() const {
        return !marked_at_ && mark_ >= 0 && kept_from_ == mark_ && cut_.line > 0 ? &cut_ : nullptr;
    }
    // The mark as an offset from the start of the document, -1 if none.
    long mark() const { return marked_at_ ? consumed_before_ + static_cast<long>(marked_at_ - base_) : mark_; }

    int get() {
        if (cur_ < end_) return *cur_++;
        return next_buffer() ? *cur_++ : -1;
    }
    // Gives back the byte the last get() read (it returned one): the byte
    // is still in the buffer.
    void unget() { --cur_; }

    // The XML mode's entities that hold markup: their replacement text is
    // read in place of the reference, in content, and then the document
    // goes on. Meanwhile locations stand at the reference, no bytes are
    // marked (base_ is set past the text, so that mark_back() finds none
    // to mark), and a refill waits until the text is read. `texts` says
    // whether the document's entities hold any (scan_xml() looks for
    // references only then).
    void read_entity_texts(bool texts) { entity_texts_ = texts; }
    void enter_text(std::string_view text) {
        texts_.push_back({cur_, end_, base_});
        cur_ = reinterpret_cast<const unsigned char*>(text.data());
        base_ = end_ = cur_ + text.size();
        marked_at_ = nullptr;
        mark_ = -1;
    }
    // Back to the document from every entity's text (a parse that ended
    // inside one).
    void leave_texts() {
        if (texts_.empty()) return;
        resume(texts_.front());
        texts_.clear();
    }

    // While set, `spill(context)` runs before every refill, so that a reader
    // holding views of the buffer can copy them out before it is reused.
    void on_refill(void (*spill)(void*), void* context) {
        spill_ = spill;
        spill_context_ = context;
    }

    // Reads a name that begins with the character read last: that one and
    // the run of letters, digits and `Extra` after it. `name` shows it:
    // inside the buffer when it did not cross a refill (valid until the next
    // refill), otherwise in `spill`. Returns the first other character
    // (consumed), or -1.
    template <unsigned char Extra, bool (*InClass)(int)>
    int read_name(std::string& spill, std::string_view& name) {
        const unsigned char* start = cur_ - 1;
        const unsigned char* p = scan::skip_name<Extra>(cur_, end_);
        if (p < end_) {
            cur_ = p + 1;
            name = std::string_view(reinterpret_cast<const char*>(start), static_cast<size_t>(p - start));
            return *p;
        }
        spill.assign(reinterpret_cast<const char*>(start), static_cast<size_t>(end_ - start));
        cur_ = end_;
        int c = next_buffer() ? read_run<InClass>(spill) : -1;
        name = spill;
        return c;
    }

    // The XML reading mode's name: the character read last and the name
    // bytes after it, shown as read_name() shows its name. A name that
    // holds a multi-byte sequence is shown to `judge` (bool(string_view)),
    // and when it refuses the name the result is kRefusedName. Most names
    // are ASCII letters, digits and ':', settled by the plain scan.
    template <class Judge>
    [[gnu::always_inline]] int read_xml_name(std::string& spill, std::string_view& name, Judge&& judge) {
        const unsigned char* start = cur_ - 1;
        if (*start >= 0x80) [[unlikely]]
            return unusual_xml_name(spill, name, judge, start, start);
        const unsigned char* p = scan::skip_name<':'>(cur_, end_);
        if (p < end_ && is_xml_name_rest_byte(*p)) [[unlikely]] {
            p = scan::skip_xml_ascii_name(p, end_);  // on over '-', '.' and '_'
            if (p < end_ && *p >= 0x80) return unusual_xml_name(spill, name, judge, start, p);
        }
        if (p < end_) [[likely]] {
            cur_ = p + 1;
            name = std::string_view(reinterpret_cast<const char*>(start), static_cast<size_t>(p - start));
            return *p;
        }
        return unusual_xml_name(spill, name, judge, start, p);
    }
    // The slow path's name is always in `spill`, so that `name` need not
    // live in memory on the fast one.
    template <class Judge>
    int unusual_xml_name(std::string& spill, std::string_view& name, Judge& judge, const unsigned char* start,
                         const unsigned char* p) {
        const int c = read_unusual_xml_name(spill, judge, start, p);
        name = spill;
        return c;
    }

    // The XML reading mode's runs: appends the bytes up to `Stop` (consumed
    // and returned; -1 when the input ends first) to `out`. A reference to
    // a predefined entity is decoded on the way; from the first byte that
    // needs a closer look (see find_xml_stop) on, the bytes are appended as
    // they are and `raw` (kFinished when none did) says where in `out` they
    // begin. In text (`Text`) tab and line feed need none.
    static constexpr size_t kFinished = std::string::npos;
    template <unsigned char Stop, bool Text>
    [[gnu::always_inline]] int scan_xml(std::string& out, size_t& raw) {
        for (;;) {
            const unsigned char* p =
                raw == kFinished           ? scan::find_xml_stop<Stop, Text>(cur_, end_)
                : Text && entity_texts_ ? scan::find_stop<Stop, false, true>(cur_, end_)  // and '&', NUL
                                           : reinterpret_cast<const unsigned char*>(scan::find_byte(
                                                 reinterpret_cast<const char*>(cur_), reinterpret_cast<const char*>(end_), Stop));
            if (Text && p < end_ && (*p == '\n' || *p == '\t')) {
                ++p;
                out.append(reinterpret_cast<const char*>(cur_), static_cast<size_t>(p - cur_));
                cur_ = p;
                continue;
            }
            out.append(reinterpret_cast<const char*>(cur_), static_cast<size_t>(p - cur_));
            cur_ = p;
            if (p < end_) {
                if (*p == Stop) {
                    ++cur_;
                    return Stop;
                }
                size_t length;
                if (raw == kFinished && *p == '&') {
                    if (const char decoded = xml::predefined(p, static_cast<size_t>(end_ - p), length)) {
                        out.push_back(decoded);
                        cur_ = p + length;
                        continue;
                    }
                }
                if (Text && entity_texts_ && *p == '&') {
                    entity_reference(out, raw);
                    continue;
                }
                if (raw == kFinished) {
                    raw = out.size();
                } else {  // a byte the scan for references stopped at
                    out.push_back(static_cast<char>(*p));
                    cur_ = p + 1;
                }
                continue;
            }
            if (!next_buffer()) return -1;
        }
    }

    // An XML value up to `Stop` that lies wholly in the buffer and needs no
    // work: shown in `value`, consumed with its `Stop`; else nothing is
    // consumed and the result is false.
    template <unsigned char Stop>
    [[gnu::always_inline]] bool xml_value_in_buffer(std::string_view& value) {
        const unsigned char* p = scan::find_xml_stop<Stop, false>(cur_, end_);
        if (p == end_ || *p != Stop) return false;
        value = std::string_view(reinterpret_cast<const char*>(cur_), static_cast<size_t>(p - cur_));
        cur_ = p + 1;
        return true;
    }

    // The next byte if the buffer holds it, without consuming it; -2 when
    // finding out would need a refill.
    int peek_in_buffer() const { return cur_ < end_ ? *cur_ : -2; }

    // Appends every byte up to `stop` to `out`, as it is; returns `stop`
    // (consumed) or -1 when the input ends first.
    int scan_raw(std::string& out, char stop) {
        for (;;) {
            const char* b = reinterpret_cast<const char*>(cur_);
            const char* p = scan::find_byte(b, reinterpret_cast<const char*>(end_), stop);
            out.append(b, static_cast<size_t>(p - b));
            if (p < reinterpret_cast<const char*>(end_)) {
                cur_ = reinterpret_cast<const unsigned char*>(p) + 1;
                return static_cast<unsigned char>(stop);
            }
            cur_ = end_;
            if (!next_buffer()) return -1;
        }
    }

    // Appends bytes to `out` up to the first `end` (consumed, not appended);
    // false when the input ends first.
    bool scan_past(std::string& out, std::string_view end) {
        for (;;) {
            if (scan_raw(out, end.back()) < 0) return false;
            out.push_back(end.back());
            if (out.size() >= end.size() && std::string_view(out).substr(out.size() - end.size()) == end) {
                out.resize(out.size() - end.size());
                return true;
            }
        }
    }

    // A value up to `Stop` that lies wholly in the buffer and needs no work
    // (no NUL byte, no '&'): shows it in `value`, consumes it and its `Stop`
    // and returns true. Otherwise consumes nothing and returns false.
    template <unsigned char Stop>
    bool value_in_buffer(std::string_view& value) {
        const unsigned char* p = scan::find_stop<Stop, false, true>(cur_, end_);
        if (p == end_ || *p != Stop) return false;
        value = std::string_view(reinterpret_cast<const char*>(cur_), static_cast<size_t>(p - cur_));
        cur_ = p + 1;
        return true;
    }

    // The first character after the current one that is not whitespace
    // (consumed), or -1. Mostly there is none, or one space, before it: those
    // are settled inline, longer runs in the out-of-line scan.
    [[gnu::always_inline]] int skip_space() {
        const unsigned char* p = cur_;
        if (end_ - p >= 2) {
            if (!is_space(p[0])) {
                cur_ = p + 1;
                return p[0];
            }
            if (p[0] == ' ' && !is_space(p[1])) {
                cur_ = p + 2;
                return p[1];
            }
        }
        return skip_space_run();
    }

    // skip_space(), telling whether whitespace came before the character.
    [[gnu::always_inline]] int skip_space(bool& spaced) {
        const unsigned char* p = cur_;
        if (end_ - p >= 2) {
            if (!is_space(p[0])) {
                cur_ = p + 1;
                spaced = false;
                return p[0];
            }
            if (p[0] == ' ' && !is_space(p[1])) {
                cur_ = p + 2;
                spaced = true;
                return p[1];
            }
        }
        int c = get();
        spaced = is_space(c);
        return spaced ? skip_space() : c;
    }

    [[gnu::noinline]] int skip_space_run() {
        for (;;) {
            const unsigned char* p = scan::skip_space(cur_, end_);
            if (p < end_) {
                cur_ = p + 1;
                return *p;
            }
            cur_ = end_;
            if (!next_buffer()) return -1;
        }
    }

    // Consumes whitespace and returns the next character without consuming
    // it, or -1 at the end of input.
    int peek_past_space() {
        for (;;) {
            while (cur_ < end_ && is_space(*cur_)) ++cur_;
            if (cur_ < end_) return *cur_;
            if (!next_buffer()) return -1;
        }
    }

    // Appends the run of characters that `in_class` accepts, starting with
    // the next one, to `out`; returns the first other character (consumed),
    // or -1.
    template <bool (*InClass)(int)>
    int read_run(std::string& out) {
        for (;;) {
            const unsigned char* p = cur_;
            // Plain ifs: every branch compiles for any class and the compiler
            // still folds them, while the sanitizers' instrumentation keeps
            // a function address from being a constant expression.
            if (InClass == &is_element_name_char)
                p = scan::skip_name<':'>(p, end_);
            else if (InClass == &is_attribute_name_char)
                p = scan::skip_name<'_'>(p, end_);
            else
                while (p < end_ && InClass(*p)) ++p;
            out.append(reinterpret_cast<const char*>(cur_), static_cast<size_t>(p - cur_));
            if (p < end_) {
                cur_ = p + 1;
                return *p;
            }
            cur_ = end_;
            if (!next_buffer()) return -1;
        }
    }

    // Reads whitespace and returns the first other character (consumed) or
    // -1. `run` shows the whitespace read: inside the buffer when it did not
    // cross a refill (valid until the next read), otherwise in `spill`.
    int read_space(std::string& spill, std::string_view& run) {
        spill.clear();
        const unsigned char* start = cur_;
        for (;;) {
            const unsigned char* p = scan::skip_space(cur_, end_);
            if (p < end_) {
                cur_ = p + 1;
                if (spill.empty()) {
                    run = std::string_view(reinterpret_cast<const char*>(start), static_cast<size_t>(p - start));
                } else {
                    spill.append(reinterpret_cast<const char*>(start), static_cast<size_t>(p - start));
                    run = spill;
                }
                return *p;
            }
            spill.append(reinterpret_cast<const char*>(start), static_cast<size_t>(end_ - start));
            cur_ = end_;
            if (!next_buffer()) {
                run = spill;
                return -1;
            }
            start = cur_;
        }
    }

    // Appends bytes to `out` up to `Stop`, which is consumed and returned;
    // returns -1 when the input ends first. NUL bytes are dropped, and so are
    // carriage returns when `DropCr` is set. `amp` is set when an '&' was
    // appended, so that only such runs need entity decoding.
    template <unsigned char Stop, bool DropCr>
    int scan_until(std::string& out, bool& amp) {
        for (;;) {
            const unsigned char* p = amp ? scan::find_stop<Stop, DropCr, false>(cur_, end_)
                                         : scan::find_stop<Stop, DropCr, true>(cur_, end_);
            if (p < end_ && *p == '&') {  // kept; from here on only the stops count
                amp = true;
                ++p;
                out.append(reinterpret_cast<const char*>(cur_), static_cast<size_t>(p - cur_));
                cur_ = p;
                continue;
            }
            out.append(reinterpret_cast<const char*>(cur_), static_cast<size_t>(p - cur_));
            if (p < end_) {
                cur_ = p + 1;
                if (*p == Stop) return Stop;
                continue;  // a dropped byte
            }
            cur_ = end_;
            if (!next_buffer()) return -1;
        }
    }

    // Appends bytes to `out` while they are not whitespace; returns the first
    // whitespace character (consumed) or -1. NUL bytes are dropped.
    int scan_until_space(std::string& out) {
        for (;;) {
            int c = get();
            if (c < 0 || is_space(c)) return c;
            if (c != 0) out.push_back(static_cast<char>(c));
        }
    }

private:
    // read_xml_name() past its plain part, which ends at `p`: the other
    // name bytes, across refills.
    template <class Judge>
    [[gnu::noinline]] int read_unusual_xml_name(std::string& spill, Judge& judge, const unsigned char* start,
                                                const unsigned char* p) {
        bool high = false;
        int c = -1;
        if (p < end_) p = scan::skip_xml_name(p, end_, high);
        if (p < end_) {
            cur_ = p + 1;
            spill.assign(reinterpret_cast<const char*>(start), static_cast<size_t>(p - start));
            c = *p;
        } else {
            spill.assign(reinterpret_cast<const char*>(start), static_cast<size_t>(end_ - start));
            cur_ = end_;
            while (next_buffer()) {
                p = scan::skip_xml_name(cur_, end_, high);
                spill.append(reinterpret_cast<const char*>(cur_), static_cast<size_t>(p - cur_));
                if (p < end_) {
                    cur_ = p + 1;
                    c = *p;
                    break;
                }
                cur_ = end_;
            }
        }
        return high && !judge(std::string_view(spill)) ? kRefusedName : c;
    }

protected:
    Derived& self() { return *static_cast<Derived*>(this); }

    bool next_buffer() {
        if (spill_) spill_(spill_context_);
        // An input whose one buffer holds the whole document keeps its
        // marked bytes where they are.
        if constexpr (!Derived::kWhole)
            if (marked_at_ || mark_ >= 0) keep_marked();
        return self().refill();
    }

    // A new buffer [begin, begin + size) follows what was read so far.
    void start_buffer(const unsigned char* begin, size_t size) {
        base_ = cur_ = counted_ = begin;
        end_ = begin + size;
    }
    // The bytes before `upto` in the current buffer are used up and the
    // buffer is about to be reused: count what is left of them.
    void leave_buffer(const unsigned char* upto) {
        if (upto != base_) {
            count_upto(upto - 1);
            pending_ = upto[-1];  // counted with the next buffer, so a location can stand on it
            consumed_before_ += static_cast<long>(upto - base_);
            line_start_ = pending_ == '\n' ? consumed_before_ - 1 : last_newline_;
        }
        if (marked_at_) {  // not kept (a stream's document ended): no longer needed
            marked_at_ = nullptr;
            mark_ = -1;
        }
        start_buffer(base_, 0);
    }

    // A reference in text, at cur_ ('&'), where the document's entities
    // hold markup: the text of one that does is read in its place;
    // otherwise its bytes go to `out` unfinished, as the raw part of the
    // run.
    [[gnu::noinline]] void entity_reference(std::string& out, size_t& raw) {
        const size_t at = out.size();
        out.push_back('&');
        ++cur_;
        for (size_t n = 0; n < 256; ++n) {
            // A reference does not run past the end of an entity's text.
            if (cur_ == end_ && (!texts_.empty() || !next_buffer())) break;
            const unsigned char c = *cur_;
            if (c == ';') {
                ++cur_;
                const std::string_view text =
                    xml::markup_entities->enter(std::string_view(out.data() + at + 1, out.size() - at - 1));
                if (text.data()) {
                    out.resize(at);
                    enter_text(text);
                    return;
                }
                out.push_back(';');
                break;
            }
            if (c == '<' || c == '&' || is_space(c) || c < 0x20) break;
            out.push_back(static_cast<char>(c));
            ++cur_;
        }
        if (raw == kFinished) raw = at;
    }

    // An entity's text read: back to where its reference left off, and on
    // from there while texts end together. Whether bytes are at hand (if
    // not, the input refills as usual). Each input's refill() asks this
    // first: inside a text nothing is marked, so next_buffer() has kept
    // nothing on the way.
    [[gnu::cold, gnu::noinline]] bool leave_text() {
        while (!texts_.empty()) {
            resume(texts_.back());
            texts_.pop_back();
            if (xml::markup_entities) xml::markup_entities->leave();
            if (cur_ < end_) return true;
        }
        return false;
    }

    const unsigned char* cur_ = nullptr;
    const unsigned char* end_ = nullptr;
    struct Resume {
        const unsigned char* cur;
        const unsigned char* end;
        const unsigned char* base;
    };
    void resume(const Resume& r) {
        cur_ = r.cur;
        end_ = r.end;
        base_ = r.base;
    }
    // location() inside an entity's text: where its reference (the
    // outermost, which the document holds) ends.
    [[gnu::cold, gnu::noinline]] void location_in_text(long& line, long& column) {
        const Resume here{cur_, end_, base_};
        std::vector<Resume> texts;
        texts.swap(texts_);
        resume(texts.front());
        location(line, column);
        resume(here);
        texts_.swap(texts);
    }
    std::vector<Resume> texts_;  // the entities being read, outermost first: where each resumes
    bool entity_texts_ = false;
    void (*spill_)(void*) = nullptr;
    void* spill_context_ = nullptr;

private:
    // location() for byte `p` of the buffer, read already.
    void location_of(const unsigned char* p, long& line, long& column) {
        const long at = consumed_before_ + static_cast<long>(p - base_);
        if (p >= counted_) {
            count_upto(p);
            line = 1 + newlines_;
            column = at - last_newline_;
            return;
        }
        // Counted beyond it already: back from there.
        const long feeds = count_newlines(p, counted_);
        line = 1 + newlines_ - feeds;
        if (feeds == 0) {
            column = at - last_newline_;
            return;
        }
        const void* nl = memrchr(base_, '\n', static_cast<size_t>(p - base_));
        column = at - (nl ? consumed_before_ + static_cast<long>(static_cast<const unsigned char*>(nl) - base_)
                          : line_start_);
    }

    // Before a refill: the marked bytes in the buffer join those kept.
    [[gnu::cold, gnu::noinline]] void keep_marked() {
        if (const unsigned char* p = marked_at_) {
            mark_ = kept_from_ = consumed_before_ + static_cast<long>(p - base_);
            marked_at_ = nullptr;
            location_of(p, kept_line_, kept_column_);
            cut_ = {};
            kept_.assign(reinterpret_cast<const char*>(p), static_cast<size_t>(end_ - p));
        } else if (kept_from_ == mark_) {
            const unsigned char* from = past_kept();
            kept_.append(reinterpret_cast<const char*>(from), static_cast<size_t>(end_ - from));
        }
        kept_to_ = consumed_before_ + static_cast<long>(end_ - base_);
        if (text_mark_ && kept_.size() > 2 * kTextKept) cut_kept_text(kept_.size() - kTextKept);
    }
    // Leaves the first `drop` bytes of a run of character data kept: only
    // where the run starts, and where its last non-blank byte among them
    // stands, are kept of them.
    void cut_kept_text(size_t drop) {
        const auto* b = reinterpret_cast<const unsigned char*>(kept_.data());
        const unsigned char* e = b + drop;
        auto locate = [&](const unsigned char* x, long& line, long& column) {
            line = kept_line_ + count_newlines(b, x);
            const void* nl = memrchr(b, '\n', static_cast<size_t>(x - b));
            column = nl ? static_cast<long>(x - static_cast<const unsigned char*>(nl)) : kept_column_ + (x - b);
        };
        if (cut_.line == 0) {
            cut_.line = kept_line_;
            cut_.column = kept_column_;
        }
        const unsigned char* last = e;
        while (last > b && is_space(last[-1])) --last;
        if (last > b) locate(last - 1, cut_.last_line, cut_.last_column);
        long line, column;
        locate(e, line, column);
        kept_line_ = line;
        kept_column_ = column;
        kept_.erase(0, drop);
    }
    // The first byte of the buffer not kept yet: a refill that found the
    // input ended may leave the buffer as it was, kept already.
    const unsigned char* past_kept() const {
        const long k = kept_to_ - consumed_before_;
        return k <= 0 ? base_ : base_ + std::min<long>(k, end_ - base_);
    }

    void count_upto(const unsigned char* p) {
        if (pending_ >= 0) {
            if (pending_ == '\n') {
                ++newlines_;
                last_newline_ = consumed_before_ - 1;
            }
            pending_ = -1;
        }
        if (counted_ >= p) return;
        if (p - counted_ < 256) {  // between two locations asked for: one pass
            if (const unsigned char* last = scan::last_line_feed(counted_, p, newlines_))
                last_newline_ = consumed_before_ + static_cast<long>(last - base_);
            counted_ = p;
            return;
        }
        if (long n = count_newlines(counted_, p)) {
            newlines_ += n;
            const void* last = memrchr(counted_, '\n', static_cast<size_t>(p - counted_));
            last_newline_ = consumed_before_ + static_cast<long>(static_cast<const unsigned char*>(last) - base_);
        }
        counted_ = p;
    }

    const unsigned char* base_ = nullptr;     // start of the current buffer
    const unsigned char* counted_ = nullptr;  // line feeds before it are counted
    long consumed_before_ = 0;                // bytes of the buffers left behind
    long newlines_ = 0;                       // line feeds counted
    long last_newline_ = -1;                  // offset of the last one counted
    int pending_ = -1;                        // last byte of the buffer left behind, not yet counted
    long line_start_ = -1;                    // offset of the last line feed before the buffer
    // The mark (see mark_back): in the buffer, or the offset of one whose
    // bytes before the buffer are kept (kept_from_ then equals it).
    const unsigned char* marked_at_ = nullptr;
    long mark_ = -1;
    long kept_from_ = -1;
    long kept_to_ = -1;  // kept_ holds the bytes up to kept_to_, from kept_from_ unless cut_
    bool text_mark_ = false;
    TextCut cut_{};
    static constexpr size_t kTextKept = 4096;
    long kept_line_ = 0, kept_column_ = 0;
    std::string kept_;
};

}  // namespace tarvo
