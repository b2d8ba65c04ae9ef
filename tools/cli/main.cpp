// tarvo: check documents against the built-in grammars from the shell.
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "schema/schema_table.h"
#include "tarvo/tarvo.h"

namespace {

constexpr int kExitValid = 0;
constexpr int kExitInvalid = 1;
constexpr int kExitUsage = 2;

const char kUsage[] =
    "usage: tarvo check [-A] [-U] [-E] GRAMMAR FILE...\n"
    "       tarvo check --stream [-A] [-U] [-E] GRAMMAR [FILE|-]\n"
    "       tarvo events [-A] [-U] [-E] GRAMMAR FILE\n"
    "       tarvo grammars\n"
    "       tarvo --help | --version\n"
    "\n"
    "commands:\n"
    "  check     check each FILE against GRAMMAR; warnings go to stdout, errors to\n"
    "            stderr; exit 0 when every file is valid, 1 when any is not\n"
    "            --stream: FILE (default: standard input) holds documents sent back\n"
    "            to back without XML declaration; check each until one fails\n"
    "  events    print the events of one parse as JSON Lines, then its outcome\n"
    "  grammars  list the built-in grammars with the sizes of their tables\n"
    "\n"
    "options:\n"
    "  -A, --ignore-wrong-attributes    a value outside its list becomes the default (warning)\n"
    "  -U, --ignore-unknown-attributes  an undeclared attribute is kept (warning)\n"
    "  -E, --ignore-wrong-elements      a misplaced element is skipped whole (warning)\n"
    "\n"
    "exit status: 0 valid, 1 invalid, 2 usage error or unknown grammar\n";

int usage_error(const std::string& message) {
    std::string_view synopsis(kUsage);
    synopsis = synopsis.substr(0, synopsis.find("\n\n") + 1);
    std::fprintf(stderr, "tarvo: %s\n%.*sRun 'tarvo --help' for the commands and options.\n", message.c_str(),
                 static_cast<int>(synopsis.size()), synopsis.data());
    return kExitUsage;
}

// Options and operands of check and events.
struct Invocation {
    int flags = tarvo::PARSE_STRICT;
    bool stream = false;
    const tarvo::SchemaTable* grammar = nullptr;
    std::vector<const char*> files;
};

// Parses flags, grammar and files; returns an exit status on error.
int parse_invocation(int argc, char** argv, Invocation& inv) {
    int i = 0;
    for (; i < argc; ++i) {
        std::string_view a = argv[i];
        if (a == "--") {
            ++i;
            break;
        }
        if (a.size() < 2 || a[0] != '-') break;
        if (a == "--stream")
            inv.stream = true;
        else if (a == "--ignore-wrong-attributes")
            inv.flags |= tarvo::PARSE_IGNORE_WRONG_ATTRIBUTES;
        else if (a == "--ignore-unknown-attributes")
            inv.flags |= tarvo::PARSE_IGNORE_UNKNOWN_ATTRIBUTES;
        else if (a == "--ignore-wrong-elements")
            inv.flags |= tarvo::PARSE_IGNORE_WRONG_ELEMENTS;
        else if (a[1] != '-') {
            for (char f : a.substr(1)) {
                if (f == 'A')
                    inv.flags |= tarvo::PARSE_IGNORE_WRONG_ATTRIBUTES;
                else if (f == 'U')
                    inv.flags |= tarvo::PARSE_IGNORE_UNKNOWN_ATTRIBUTES;
                else if (f == 'E')
                    inv.flags |= tarvo::PARSE_IGNORE_WRONG_ELEMENTS;
                else
                    return usage_error(std::string("unknown option '-") + f + "'");
            }
        } else {
            return usage_error("unknown option '" + std::string(a) + "'");
        }
    }
    if (i >= argc) return usage_error("missing GRAMMAR");
    inv.grammar = tarvo::find_grammar(argv[i]);
    if (!inv.grammar) {
        std::string known;
        for (const tarvo::SchemaTable* g : tarvo::grammars()) known += std::string("\n  ") + g->name;
        std::fprintf(stderr, "tarvo: unknown grammar '%s'; known grammars:%s\n", argv[i], known.c_str());
        return kExitUsage;
    }
    for (++i; i < argc; ++i) inv.files.push_back(argv[i]);
    if (inv.stream) {
        if (inv.files.size() > 1) return usage_error("--stream reads one FILE or standard input");
        if (inv.files.empty()) inv.files.push_back("-");
    }
    if (inv.files.empty()) return usage_error("missing FILE");
    return -1;
}

void print_text(std::FILE* out, const std::string& text) {
    if (!text.empty()) std::fprintf(out, "%s\n", text.c_str());
}

// Documents back to back: the outcome of each, up to the first that fails.
int run_stream_check(const Invocation& inv) {
    std::string_view name = inv.files[0];
    std::FILE* in = name == "-" ? stdin : std::fopen(inv.files[0], "rb");
    if (!in) {
        std::fprintf(stderr, "tarvo: cannot open %s for reading\n", inv.files[0]);
        return kExitInvalid;
    }
    tarvo::StreamReader reader([in](char* buf, size_t cap) { return std::fread(buf, 1, cap, in); });
    int exit_code = kExitValid;
    for (int n = 1;; ++n) {
        tarvo::Result r = reader.read(*inv.grammar, nullptr, inv.flags);
        print_text(stdout, r.warnings);
        std::printf("document %d: %s\n", n, r.ok() ? "valid" : "invalid");
        std::fflush(stdout);
        if (!r.ok()) {
            print_text(stderr, r.errors);
            exit_code = kExitInvalid;
            break;
        }
        if (reader.at_end()) break;
    }
    if (in != stdin) std::fclose(in);
    return exit_code;
}

int run_check(int argc, char** argv) {
    Invocation inv;
    if (int rc = parse_invocation(argc, argv, inv); rc >= 0) return rc;
    if (inv.stream) return run_stream_check(inv);
    int exit_code = kExitValid;
    for (const char* file : inv.files) {
        tarvo::Result r = tarvo::parse_file(*inv.grammar, file, nullptr, inv.flags);
        print_text(stdout, r.warnings);
        std::fflush(stdout);
        // A valid document's refusals (of elements skipped under -E) are not
        // part of its outcome, as a caller of the module never sees them.
        if (!r.ok()) {
            print_text(stderr, r.errors);
            exit_code = kExitInvalid;
        }
    }
    return exit_code;
}

// JSON string of a byte string: valid UTF-8 passes through, any other byte
// is written as the code point of the same value, so nothing is dropped.
std::string json_string(std::string_view s) {
    std::string out = "\"";
    for (size_t i = 0; i < s.size();) {
        unsigned char c = static_cast<unsigned char>(s[i]);
        size_t len = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 0;
        bool valid = len > 1 && i + len <= s.size();
        for (size_t k = 1; valid && k < len; ++k) valid = (static_cast<unsigned char>(s[i + k]) >> 6) == 2;
        if (len == 1) {
            if (c == '"' || c == '\\') {
                out += '\\';
                out += static_cast<char>(c);
            } else if (c < 0x20) {
                static const char* const kShort[] = {"\\b", "\\t", "\\n", nullptr, "\\f", "\\r"};
                if (c >= 8 && c <= 13 && kShort[c - 8]) {
                    out += kShort[c - 8];
                } else {
                    char buf[8];
                    std::snprintf(buf, sizeof buf, "\\u%04x", c);
                    out += buf;
                }
            } else {
                out += static_cast<char>(c);
            }
            ++i;
        } else if (valid) {
            out.append(s.substr(i, len));
            i += len;
        } else {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\u%04x", c);
            out += buf;
            ++i;
        }
    }
    return out + "\"";
}

class JsonEvents : public tarvo::Handler {
public:
    void start_tag(int, std::string_view name, std::span<const tarvo::Attribute> attrs) override {
        std::string line = "{\"event\":\"start\",\"name\":" + json_string(name) + ",\"attributes\":{";
        for (size_t i = 0; i < attrs.size(); ++i) {
            if (i) line += ',';
            line += json_string(attrs[i].name) + ":" + json_string(attrs[i].value);
        }
        emit(line + "}}");
    }
    void text(int, std::string_view element, std::string_view text) override {
        emit("{\"event\":\"text\",\"name\":" + json_string(element) + ",\"text\":" + json_string(text) + "}");
    }
    void end_tag(int, std::string_view name) override {
        emit("{\"event\":\"end\",\"name\":" + json_string(name) + "}");
    }
    static void emit(const std::string& line) { std::fprintf(stdout, "%s\n", line.c_str()); }
};

std::string json_list(const std::vector<std::string>& items) {
    std::string out = "[";
    for (size_t i = 0; i < items.size(); ++i) {
        if (i) out += ',';
        out += json_string(items[i]);
    }
    return out + "]";
}

int run_events(int argc, char** argv) {
    Invocation inv;
    if (int rc = parse_invocation(argc, argv, inv); rc >= 0) return rc;
    if (inv.files.size() != 1) return usage_error("events takes exactly one FILE");
    JsonEvents events;
    tarvo::Result r = tarvo::parse_file(*inv.grammar, inv.files[0], &events, inv.flags);
    JsonEvents::emit("{\"event\":\"outcome\",\"valid\":" + std::string(r.ok() ? "true" : "false") +
                     ",\"status\":" + std::to_string(r.status) + ",\"warnings\":" + json_list(r.warning_messages) +
                     ",\"errors\":" + json_list(r.error_messages) + "}");
    return r.ok() ? kExitValid : kExitInvalid;
}

int run_grammars() {
    struct Counts {
        long elements = 0, rows = 0, text_rows = 0, attributes = 0, mandatory = 0, empty_default = 0, listed = 0;
    };
    auto row = [](const char* name, const char* source, const Counts& c) {
        std::printf("%-30s %-40s %8ld %6ld %5ld %10ld %9ld %6ld %6ld\n", name, source, c.elements, c.rows,
                    c.text_rows, c.attributes, c.mandatory, c.empty_default, c.listed);
    };
    std::printf("%-30s %-40s %8s %6s %5s %10s %9s %6s %6s\n", "grammar", "source", "elements", "rows", "text",
                "attributes", "mandatory", "empty", "listed");
    Counts total;
    for (const tarvo::SchemaTable* g : tarvo::grammars()) {
        Counts c;
        c.elements = g->element_count;
        c.text_rows = g->text_row_count;
        for (int32_t e = 0; e < g->element_count; ++e) {
            const tarvo::ElementRule& el = g->elements[e];
            c.rows += el.row_count;
            c.attributes += el.attribute_count;
            for (int32_t a = 0; a < el.attribute_count; ++a) {
                const tarvo::AttributeRule& r = el.attributes[a];
                c.mandatory += r.default_value == nullptr;
                c.empty_default += r.default_value && r.default_length == 0;
                c.listed += r.allowed_count > 0;
            }
        }
        row(g->name, g->source_path, c);
        total.elements += c.elements;
        total.rows += c.rows;
        total.text_rows += c.text_rows;
        total.attributes += c.attributes;
        total.mandatory += c.mandatory;
        total.empty_default += c.empty_default;
        total.listed += c.listed;
    }
    row("total", "", total);
    return kExitValid;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) return usage_error("missing command");
    std::string_view cmd = argv[1];
    if (cmd == "--help" || cmd == "-h" || cmd == "help") {
        std::fputs(kUsage, stdout);
        return kExitValid;
    }
    if (cmd == "--version") {
        std::printf("tarvo %s\n", tarvo::version());
        return kExitValid;
    }
    if (cmd == "check") return run_check(argc - 2, argv + 2);
    if (cmd == "events") return run_events(argc - 2, argv + 2);
    if (cmd == "grammars") return argc == 2 ? run_grammars() : usage_error("grammars takes no arguments");
    return usage_error("unknown command '" + std::string(cmd) + "'");
}
