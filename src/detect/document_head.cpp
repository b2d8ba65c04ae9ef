// Reading the head of a document: a byte-order mark, the XML declaration,
// comments, processing instructions and the DOCTYPE (or tarvo's own one
// declaration opened by "<!"), up to the first element's name. Nothing is
// judged here; where the head does not read as expected, it ends there with
// what was found, and the parse that follows says what is wrong.
#include <cerrno>
#include <cstdio>
#include <string>
#include <string_view>

#include "detect/reading.h"
#include "reader/open_file.h"
#include "tarvo/detect.h"

namespace tarvo {

namespace {

bool is_space(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

class HeadReader {
public:
    enum class Outcome { done, more };  // more: the bytes end inside the head

    HeadReader(std::string_view s, bool at_end) : s_(s), at_end_(at_end) {}

    Outcome read(DocumentHead& h) {
        h = DocumentHead{};
        if (s_.substr(0, 3) == "\xEF\xBB\xBF") i_ = 3;
        for (;;) {
            skip_space();
            if (i_ >= s_.size()) return more();
            if (s_[i_] != '<') return Outcome::done;
            if (i_ + 1 >= s_.size()) return more();
            const char c = s_[i_ + 1];
            if (c == '?') {
                if (!past("?>")) return more();
            } else if (c == '!') {
                if (starts("<!--")) {
                    if (!past("-->")) return more();
                } else if (starts("<!DOCTYPE")) {
                    if (h.has_doctype) return Outcome::done;
                    if (!doctype(h)) return more();
                } else if (s_.size() - i_ < 9 && std::string_view("<!DOCTYPE").substr(0, s_.size() - i_) == s_.substr(i_)) {
                    return more();
                } else if (!past(">")) {
                    return more();
                }
            } else {
                size_t start = ++i_;
                while (i_ < s_.size() && !is_space(s_[i_]) && s_[i_] != '/' && s_[i_] != '>') ++i_;
                if (i_ == s_.size() && !at_end_) return Outcome::more;
                h.root.assign(s_.substr(start, i_ - start));
                return Outcome::done;
            }
        }
    }

private:
    Outcome more() const { return at_end_ ? Outcome::done : Outcome::more; }
    void skip_space() {
        while (i_ < s_.size() && is_space(s_[i_])) ++i_;
    }
    bool starts(std::string_view w) const { return s_.substr(i_, w.size()) == w; }
    // Moves past the next `end`; false when the bytes end first.
    bool past(std::string_view end) {
        size_t at = s_.find(end, i_ + 1);
        if (at == std::string_view::npos) return false;
        i_ = at + end.size();
        return true;
    }
    std::string_view name() {
        size_t start = i_;
        while (i_ < s_.size() && !is_space(s_[i_]) && s_[i_] != '[' && s_[i_] != '>' && s_[i_] != '"' &&
               s_[i_] != '\'')
            ++i_;
        return s_.substr(start, i_ - start);
    }
    // A quoted literal into `out`; false when the bytes end first.
    bool literal(std::string& out) {
        skip_space();
        if (i_ >= s_.size()) return false;
        const char q = s_[i_];
        if (q != '"' && q != '\'') return true;  // not a literal: left for the parse to judge
        size_t end = s_.find(q, i_ + 1);
        if (end == std::string_view::npos) return false;
        out.assign(s_.substr(i_ + 1, end - i_ - 1));
        i_ = end + 1;
        return true;
    }
    // <!DOCTYPE Name (SYSTEM "s" | PUBLIC "p" "s")? ([ subset ])? >
    bool doctype(DocumentHead& h) {
        i_ += 9;
        skip_space();
        h.has_doctype = true;
        h.doctype_name.assign(name());
        skip_space();
        if (i_ >= s_.size()) return false;
        if (starts("SYSTEM") || starts("PUBLIC")) {
            const bool is_public = s_[i_] == 'P';
            i_ += 6;
            if (is_public && !literal(h.public_id)) return false;
            if (!literal(h.system_id)) return false;
            skip_space();
        }
        if (i_ < s_.size() && s_[i_] == '[') {
            size_t start = ++i_;
            if (!subset_end()) return false;
            h.has_internal_subset = true;
            h.internal_subset.assign(s_.substr(start, i_ - start));
            ++i_;
        }
        size_t end = s_.find('>', i_);
        if (end == std::string_view::npos) return false;
        i_ = end + 1;
        return true;
    }
    // Moves to the ']' that closes the internal subset: quoted strings,
    // comments and processing instructions may hold ']'.
    bool subset_end() {
        while (i_ < s_.size()) {
            const char c = s_[i_];
            if (c == ']') return true;
            if (c == '"' || c == '\'') {
                size_t end = s_.find(c, i_ + 1);
                if (end == std::string_view::npos) return false;
                i_ = end + 1;
            } else if (starts("<!--")) {
                if (!past("-->")) return false;
            } else if (starts("<?")) {
                if (!past("?>")) return false;
            } else {
                ++i_;
            }
        }
        return false;
    }

    std::string_view s_;
    bool at_end_;
    size_t i_ = 0;
};

}  // namespace

DocumentHead read_document_head(std::string_view bytes) {
    DocumentHead h;
    HeadReader(bytes, true).read(h);
    return h;
}

DocumentHead detail::read_document_head(const DocumentSource& read, ReadBytes& held) {
    // Read in growing steps until the head ends: a head is usually a few
    // hundred bytes; one with a long internal subset or comment costs reads
    // in proportion to its length. The bytes are looked at again only once
    // they have doubled, so reads that give a few bytes each cost no more.
    DocumentHead h;
    size_t look_at = 4096;
    for (;;) {
        const SourceRead r = held.read_more(read, look_at - held.size());
        if (r.error) {
            h.os_error = r.error;
            return h;
        }
        if (!held.ended() && held.size() < look_at) continue;
        if (HeadReader(held.view(), held.ended()).read(h) == HeadReader::Outcome::done) return h;
        look_at = 2 * held.size();
    }
}

DocumentHead read_document_head(const DocumentSource& read) {
    detail::ReadBytes held;
    return detail::read_document_head(read, held);
}

DocumentHead read_document_head_file(const char* path) {
    std::FILE* f = open_for_reading(path);
    if (!f) {
        DocumentHead h;
        h.os_error = errno ? errno : EIO;
        return h;
    }
    DocumentHead h = read_document_head(detail::file_source(f));
    std::fclose(f);
    return h;
}

DocumentHead read_document_head(const Source& source) {
    switch (source.kind()) {
    case Source::Kind::bytes: return read_document_head(source.data());
    case Source::Kind::file: return read_document_head_file(source.name().c_str());
    case Source::Kind::unreadable: break;
    }
    DocumentHead h;
    h.os_error = source.os_error();
    return h;
}

}  // namespace tarvo
