// libFuzzer targets over the document reader, built four times:
// TARVO_FUZZ_FILE reads the bytes as a document file, TARVO_FUZZ_BUFFER as
// a document in memory and as a file, TARVO_FUZZ_AHEAD in memory directly
// and read ahead on a second thread, TARVO_FUZZ_STREAM as a stream of
// documents, once in chunks and once byte by byte. The first byte chooses
// the grammar and the flags, the XML mode among them. The reader must never
// crash, hang or read out of bounds; a document in memory must give exactly
// what the same bytes in a file give; and reading a stream in chunks must
// give exactly what reading it byte by byte gives, down to the bytes taken
// from the source. Read ahead, the calls, their positions and the Result
// are those of the direct reading, also when a call fails or positions are
// first asked for partway (at events the input's last byte chooses).
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "../tests/bytewise_input.h"
#include "containers/str_buf.h"
#include "diag/report.h"
#include "fuzz_support.h"
#include "reader/char_class.h"
#include "reader/document_parser.h"
#include "tarvo/batch.h"
#include "tarvo/read_ahead.h"
#include "tarvo/tarvo.h"

namespace {

// Folds every event into a string, so two readings can be compared.
struct Everything : tarvo::Handler {
    std::string seen;
    bool start_tag(int, std::string_view name, std::span<const tarvo::Attribute> attrs) override {
        seen.append("<").append(name);
        for (const tarvo::Attribute& a : attrs) seen.append(" ").append(a.name).append("=").append(a.value);
        return true;
    }
    bool text(int, std::string_view, std::string_view text) override {
        seen.append("|").append(text);
        return true;
    }
    bool end_tag(int, std::string_view name) override {
        seen.append("/").append(name);
        return true;
    }
};

// The same, with each event's position from event `ask_from` on; the call
// at event `fail_at` fails.
struct Located final : Everything {
    Located(unsigned ask_from, unsigned fail_at) : ask_from(ask_from), fail_at(fail_at) {}
    bool start_tag(int e, std::string_view name, std::span<const tarvo::Attribute> attrs) override {
        Everything::start_tag(e, name, attrs);
        return next();
    }
    bool text(int e, std::string_view name, std::string_view text) override {
        Everything::text(e, name, text);
        return next();
    }
    bool end_tag(int e, std::string_view name) override {
        Everything::end_tag(e, name);
        return next();
    }
    std::string failure() const override { return "stopped at event " + std::to_string(fail_at); }

private:
    unsigned ask_from, fail_at, events = 0;

    bool next() {
        if (events >= ask_from) {
            long line = -1, column = -1;
            if (const tarvo::Position* at = position()) at->location(line, column);
            seen.append("@").append(std::to_string(line)).append(":").append(std::to_string(column));
        }
        return events++ != fail_at;
    }
};

struct Bytes {
    const std::string& data;
    size_t taken = 0;
    static int next(void* self) {
        auto* b = static_cast<Bytes*>(self);
        return b->taken < b->data.size() ? static_cast<unsigned char>(b->data[b->taken++]) : -1;
    }
};

// Loop mode, one reader call per byte.
[[maybe_unused]] std::string read_bytewise(const std::string& doc, const tarvo::SchemaTable& grammar,
                                           tarvo::Flags flags, size_t& taken) {
    tarvo::ReportBuilder report;
    Everything h;
    tarvo::DocumentParser parser;
    parser.set_handler(&h);
    Bytes src{doc};
    tarvo::Status status;
    for (;;) {
        int lookahead = -1;
        status = tarvo::parse_bytewise(parser, grammar, &Bytes::next, &src, lookahead, tarvo::Options{flags}, report);
        if (status != tarvo::Status::ok) break;
        // The whitespace between documents is taken, a next document's
        // first byte only by the parse that reads it.
        while (src.taken < doc.size() && tarvo::is_space(static_cast<unsigned char>(doc[src.taken]))) ++src.taken;
        if (src.taken == doc.size()) break;
    }
    taken = src.taken;
    const tarvo::Result r = report.finish(status);
    return std::to_string(static_cast<int>(status)) + "\n" + std::string(r.warnings()) + "\n" +
           std::string(r.errors()) + "\n" + h.seen;
}

// A Result with its records, as text.
[[maybe_unused]] std::string result_text(const tarvo::Result& r) {
    std::string out = std::to_string(static_cast<int>(r.status)) + "\n" + std::string(r.warnings()) + "\n" +
                      std::string(r.errors());
    for (const tarvo::Diagnostic& d : r.diagnostics()) {
        out.append("\n").append(std::to_string(static_cast<int>(d.severity))).append(" ");
        out.append(tarvo::kind_name(d.kind)).append(" ").append(d.code).append(" ");
        out.append(std::to_string(d.line)).append(":").append(std::to_string(d.column));
        out.append("-").append(std::to_string(d.end_line)).append(":").append(std::to_string(d.end_column));
        out.append(" <").append(d.element).append("> @").append(d.attribute).append(" in ").append(d.path);
        for (std::string_view e : d.expected) out.append(" ").append(e);
        out.append(d.note ? " (note) | " : " | ").append(d.message);
    }
    return out;
}

// Two readings that must agree did not: both are shown before the fuzzer
// stops, so that the finding says what differs.
[[noreturn, maybe_unused]] void disagree(const std::string& a, const std::string& b) {
    std::fprintf(stderr, "--- one reading:\n%s\n--- the other:\n%s\n", a.c_str(), b.c_str());
    __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    auto all = tarvo::grammars();
    const tarvo::SchemaTable& grammar = *all[data[0] % all.size()];
    const auto flags = static_cast<tarvo::Flags>(data[0] >> 4);  // the XML mode too
    std::string doc(reinterpret_cast<const char*>(data + 1), size - 1);

#if defined(TARVO_FUZZ_FILE)
    std::string path = tarvo_fuzz::write_scratch_file(doc);
    if (!path.empty()) {
        Everything h;
        tarvo::parse_file(grammar, path.c_str(), &h, flags);
    }
#elif defined(TARVO_FUZZ_BUFFER)
    std::string path = tarvo_fuzz::write_scratch_file(doc);
    if (!path.empty()) {
        // Exactly the document's bytes, so that a read past them is caught.
        std::unique_ptr<char[]> bytes(new char[doc.size()]);
        std::memcpy(bytes.get(), doc.data(), doc.size());
        Everything in_memory, in_file;
        std::string a = result_text(tarvo::parse_buffer(grammar, {bytes.get(), doc.size()}, path, &in_memory, flags));
        std::string b = result_text(tarvo::parse_file(grammar, path.c_str(), &in_file, flags));
        if (a != b || in_memory.seen != in_file.seen) disagree(a + "\n" + in_memory.seen, b + "\n" + in_file.seen);
    }
#elif defined(TARVO_FUZZ_AHEAD)
    // Exactly the document's bytes, so that a read past them is caught.
    std::unique_ptr<char[]> bytes(new char[doc.size()]);
    std::memcpy(bytes.get(), doc.data(), doc.size());
    const std::string_view view(bytes.get(), doc.size());
    const unsigned choice = data[size - 1];
    Located direct(choice & 15, choice >> 4), ahead(choice & 15, choice >> 4);
    std::string a = result_text(tarvo::parse_buffer(grammar, view, "doc.xml", &direct, flags));
    std::string b =
        result_text(tarvo::parse_ahead(grammar, tarvo::Source::bytes(view, "doc.xml"), &ahead, tarvo::Options{flags}));
    if (a != b || direct.seen != ahead.seen) disagree(a + "\n" + direct.seen, b + "\n" + ahead.seen);
#else
    // Packets of 1 to 5 bytes, looked at before they are taken.
    size_t taken = 0, peeked = 0;
    tarvo::StreamReader reader(
        [&](char* buf, size_t cap) {
            size_t n = std::min(cap, std::min<size_t>(doc.size() - taken, 1 + (peeked++ % 5)));
            doc.copy(buf, n, taken);
            return n;
        },
        [&](size_t n) { taken += n; });
    Everything h;
    tarvo::Result r = reader.read(grammar, &h, flags, true);
    std::string chunked = std::to_string(static_cast<int>(r.status)) + "\n" + std::string(r.warnings()) + "\n" +
                          std::string(r.errors()) + "\n" + h.seen;
    size_t bytewise_taken = 0;
    std::string bytewise = read_bytewise(doc, grammar, flags, bytewise_taken);
    if (chunked != bytewise || taken != bytewise_taken)
        disagree(chunked + "\ntaken " + std::to_string(taken), bytewise + "\ntaken " + std::to_string(bytewise_taken));
#endif
    return 0;
}
