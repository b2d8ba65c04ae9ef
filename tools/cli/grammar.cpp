// tarvo grammar (describe a grammar), tarvo export (RELAX NG or DTD), and
// the --grammar-file operand that every command taking a grammar accepts.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "cli.h"

namespace tarvo::cli {

void GrammarOperand::declare(CLI::App& app) {
    app.add_option("GRAMMAR", name, "A grammar by name (see 'tarvo grammars')");
    app.add_option("--grammar-file", file, "Use the grammar in this grammar file; no GRAMMAR is written then")
        ->type_name("PATH");
    app.add_option("--dtd", dtd, "Use the grammar this DTD gives (see 'tarvo import-dtd'); no GRAMMAR is written then")
        ->type_name("PATH");
}

void GrammarOperand::shift_into(std::vector<std::string>& rest) {
    if ((file.empty() && dtd.empty()) || name.empty()) return;
    rest.insert(rest.begin(), name);
    name.clear();
}

std::shared_ptr<const tarvo::SchemaTable> GrammarOperand::resolve() const {
    if (!file.empty() && !dtd.empty()) throw UsageError("--grammar-file and --dtd do not go together");
    if (!dtd.empty()) {
        try {
            std::vector<std::string> loosened;
            std::shared_ptr<const tarvo::SchemaTable> t = tarvo::load_dtd(dtd, &loosened);
            report_loosened(dtd, loosened);
            return t;
        } catch (const tarvo::GrammarError& e) {
            report_errors(e);
            return nullptr;
        }
    }
    if (!file.empty()) {
        try {
            return tarvo::load_grammar(file);
        } catch (const tarvo::GrammarError& e) {
            report_errors(e);
            return nullptr;
        }
    }
    if (name.empty()) throw UsageError("GRAMMAR is required (or --grammar-file PATH)");
    const tarvo::SchemaTable* g = find_grammar_or_report(name);
    // A registered grammar lives as long as the process: the pointer shares no ownership.
    return g ? std::shared_ptr<const tarvo::SchemaTable>(std::shared_ptr<void>(), g) : nullptr;
}

namespace {

const char kGrammarFooter[] =
    "Exit status:\n"
    "  0  the description was written\n"
    "  2  usage error, unknown grammar or ELEMENT, or a grammar file that cannot be loaded\n"
    "  4  the output could not be written";

const char kExportFooter[] =
    "Exit status:\n"
    "  0  the schema was written\n"
    "  2  usage error, unknown grammar, or a grammar file that cannot be loaded\n"
    "  4  the schema could not be written (standard output, or the -o FILE)";

struct GrammarOptions {
    GrammarOperand grammar;
    std::string element;
    std::string format = "text";
};

int run_grammar(GrammarOptions& o) {
    std::vector<std::string> operands;
    if (!o.element.empty()) operands.push_back(o.element);
    o.grammar.shift_into(operands);
    if (operands.size() > 1) throw UsageError("unexpected '" + operands[1] + "'");
    std::shared_ptr<const tarvo::SchemaTable> t = o.grammar.resolve();
    if (!t) return kExitUsage;
    tarvo::GrammarInfo g = tarvo::grammar_info(*t);
    int index = -1;
    if (!operands.empty()) {
        for (size_t i = 0; i < g.elements.size(); ++i)
            if (g.elements[i].name == operands[0]) index = static_cast<int>(i);
        if (index < 0) {
            report_error("tarvo: grammar '" + g.name + "' has no element '" + operands[0] + "'");
            return kExitUsage;
        }
    }
    write_out(o.format == "json"  ? tarvo::describe_json(g, index)
              : o.format == "dot" ? tarvo::describe_dot(g, index)
                                  : tarvo::describe_text(g, index));
    return kExitValid;
}

struct ExportOptions {
    GrammarOperand grammar;
    std::string format, output;
};

int run_export(ExportOptions& o) {
    std::vector<std::string> operands;
    o.grammar.shift_into(operands);
    if (!operands.empty()) throw UsageError("unexpected '" + operands[0] + "'");
    std::shared_ptr<const tarvo::SchemaTable> t = o.grammar.resolve();
    if (!t) return kExitUsage;
    tarvo::GrammarInfo g = tarvo::grammar_info(*t);
    tarvo::Export x = o.format == "rng" ? tarvo::export_rng(g) : tarvo::export_dtd(g);
    if (o.output.empty() || o.output == "-") {
        write_out(x.text);
    } else {
        std::FILE* f = std::fopen(o.output.c_str(), "wb");
        bool ok = f && std::fwrite(x.text.data(), 1, x.text.size(), f) == x.text.size();
        int err = errno;
        if (f && std::fclose(f) != 0 && ok) ok = false, err = errno;
        if (!ok) {
            report_error("tarvo: cannot write " + o.output + ": " + std::strerror(err));
            return kExitOutputFailed;
        }
    }
    // Wherever the schema accepts more than tarvo, say so, every time.
    for (const std::string& l : x.loosened)
        report_error("tarvo: the " + o.format + " schema of " + g.name + " accepts more than tarvo at " + l);
    return kExitValid;
}

}  // namespace

Runner declare_grammar(CLI::App& app) {
    auto o = std::make_shared<GrammarOptions>();
    app.footer(kGrammarFooter);
    o->grammar.declare(app);
    app.add_option("ELEMENT", o->element, "Describe only this element");
    one_of(app.add_option("--format", o->format, "text (default), json, or dot (a Graphviz graph per element)"),
           {"text", "json", "dot"});
    return [o] { return run_grammar(*o); };
}

Runner declare_export(CLI::App& app) {
    auto o = std::make_shared<ExportOptions>();
    app.footer(kExportFooter);
    o->grammar.declare(app);
    one_of(app.add_option("--format", o->format, "rng (RELAX NG, XML syntax) or dtd"), {"rng", "dtd"})->required();
    app.add_option("-o,--output", o->output, "Write the schema here instead of standard output")->type_name("FILE");
    return [o] { return run_export(*o); };
}

}  // namespace tarvo::cli
