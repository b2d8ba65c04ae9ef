#include "test_support.h"

#include <algorithm>

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <tuple>
#include <fstream>
#include <stdexcept>

namespace tarvo::testing {

const SchemaTable& grammar(std::string_view name) {
    const SchemaTable* g = find_grammar(name);
    if (!g) throw std::invalid_argument("no grammar " + S(name));
    return *g;
}

bool Recorder::recorded(S event) {
    events.push_back(std::move(event));
    return !after_event || after_event(events.back());
}

bool Recorder::start_tag(int, std::string_view name, std::span<const Attribute> attributes) {
    S e = "start " + S(name);
    for (const Attribute& a : attributes) e.append(" ").append(a.name).append("=").append(a.value);
    return recorded(std::move(e));
}

bool Recorder::text(int, std::string_view name, std::string_view t) {
    return recorded("text " + S(name) + " |" + S(t) + "|");
}

bool Recorder::end_tag(int, std::string_view name) { return recorded("end " + S(name)); }

std::function<bool(const S&)> fail_at(const S& prefix) {
    return [prefix](const S& event) { return !event.starts_with(prefix); };
}

TempFile::TempFile(const S& content, const S& name) {
    dir_ = (std::filesystem::temp_directory_path() / "tarvo-test-XXXXXX").string();
    if (!mkdtemp(dir_.data())) throw std::runtime_error("mkdtemp failed");
    path_ = dir_ + "/" + name;
    std::ofstream(path_, std::ios::binary) << content;
}

TempFile::~TempFile() {
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
}

S repeat(const S& s, int n) {
    S out;
    while (n-- > 0) out += s;
    return out;
}

std::shared_ptr<const SchemaTable> load_grammar_text(const S& text) {
    TempFile file(text, "t.grammar");
    return load_grammar(file.path());
}

const SchemaTable& any_xml_grammar() {
    static const SchemaTable& g =
        register_grammar(load_grammar((std::filesystem::path(TARVO_SOURCE_DIR) / "tests/xml/any.grammar").string()));
    return g;
}

Result parse_in_pieces(const SchemaTable& grammar, const S& document, const Pieces& pieces, Handler* handler,
                       Flags flags) {
    size_t at = 0, read = 0;
    DocumentSource source = [&](char* out, size_t capacity) -> SourceRead {
        const size_t n = std::min({pieces[read++ % pieces.size()], capacity, document.size() - at});
        std::fill_n(out, std::min<size_t>(capacity, 64), '#');  // what a view kept past a refill shows
        document.copy(out, n, at);
        at += n;
        return {n, 0};
    };
    return parse_source(grammar, source, "doc.xml", handler, flags);
}

void run_cases(const char* grammar_name, const std::vector<DocCase>& cases) {
    auto join = [](const auto& lines) {
        S s;
        for (std::string_view l : lines) {
            if (!s.empty()) s += '\n';
            s += l;
        }
        return s;
    };
    for (const DocCase& c : cases) {
        SCOPED_TRACE(S(grammar_name) + ": " + (c.what.empty() ? c.document : c.what));
        TempFile file(c.document);
        auto cwd = std::filesystem::current_path();
        std::filesystem::current_path(std::filesystem::path(file.path()).parent_path());
        Recorder recorder;
        Result r = parse_file(grammar(grammar_name), "doc.xml", &recorder, Flags(c.flags));
        std::filesystem::current_path(cwd);
        EXPECT_EQ(static_cast<int>(r.status), c.status);
        EXPECT_EQ(r.errors(), c.errors);
        EXPECT_EQ(r.warnings(), c.warnings);
        EXPECT_EQ(join(r.error_messages()), r.errors());  // the lists hold the same messages
        EXPECT_EQ(join(r.warning_messages()), r.warnings());
        if (c.events != Lines{"(unchecked)"}) {
            EXPECT_EQ(recorder.events, c.events);
        }
        // The same bytes from memory give the same outcome, records included.
        Recorder from_memory;
        Result m = parse_buffer(grammar(grammar_name), c.document, "doc.xml", &from_memory, Flags(c.flags));
        EXPECT_EQ(std::make_tuple(m.status, m.errors(), m.warnings(), records(m), from_memory.events),
                  std::make_tuple(r.status, r.errors(), r.warnings(), records(r), recorder.events));
        // And so do they read in small pieces, each read refilling the
        // buffer: nothing may keep a view of a buffer that moved on.
        for (const Pieces& pieces : kSmallPieces) {
            Recorder piecewise;
            Result p = parse_in_pieces(grammar(grammar_name), c.document, pieces, &piecewise, Flags(c.flags));
            EXPECT_EQ(std::make_tuple(p.status, p.errors(), p.warnings(), records(p), piecewise.events),
                      std::make_tuple(r.status, r.errors(), r.warnings(), records(r), recorder.events))
                << "read in pieces of " << pieces[0] << (pieces.size() > 1 ? ", ..." : "");
        }
    }
}

Lines records(const Result& r) {
    Lines out;
    for (const Diagnostic& d : r.diagnostics()) {
        S line = S(d.severity == Severity::warning ? "W " : "E ") + S(kind_name(d.kind)) + " " +
                 std::to_string(d.line) + ":" + std::to_string(d.column);
        // The token's end: its column on the same line, else line:column.
        if (d.line > 0 && (d.end_line != d.line || d.end_column != d.column + 1))
            line += "-" + (d.end_line != d.line ? std::to_string(d.end_line) + ":" : S()) + std::to_string(d.end_column);
        if (!d.element.empty()) line += " <" + S(d.element) + ">";
        if (!d.attribute.empty()) line += " @" + S(d.attribute);
        if (!d.expected.empty()) {
            line += " [";
            for (size_t i = 0; i < d.expected.size(); ++i) {
                if (i) line += ",";
                line += d.expected[i];
            }
            line += "]";
        }
        out.push_back(line);
    }
    return out;
}

S outcome(const Result& r, const Lines& events) {
    S out = std::to_string(static_cast<int>(r.status)) + "\n" + S(r.errors()) + "\n" + S(r.warnings()) + "\n";
    const Lines lines = records(r);
    for (size_t i = 0; i < lines.size(); ++i) {
        const Diagnostic& d = r.diagnostics()[i];
        out += lines[i] + " code=" + S(d.code) + (d.note ? " note" : "") + " parent=" + S(d.parent) + " path=" +
               S(d.path) + " suggestion=" + S(d.suggestion) + " os_error=" + std::to_string(d.os_error) + " | " +
               S(d.message) + "\n";
    }
    for (const S& e : events) out += "\n" + e;
    return out;
}

}  // namespace tarvo::testing
