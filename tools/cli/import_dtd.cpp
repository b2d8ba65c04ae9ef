// tarvo import-dtd: a DTD written out as a grammar file, and what it checks
// more loosely than the DTD named on standard error.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "cli.h"

namespace tarvo::cli {

namespace {

struct ImportOptions {
    std::string dtd, root, output;
};

int run_import(const ImportOptions& o) {
    tarvo::DtdImport x;
    try {
        x = tarvo::import_dtd(o.dtd, o.root);
    } catch (const tarvo::GrammarError& e) {
        report_errors(e);
        return kExitUsage;
    }
    if (o.output.empty() || o.output == "-") {
        write_out(x.grammar);
    } else {
        std::FILE* f = std::fopen(o.output.c_str(), "wb");
        bool ok = f && std::fwrite(x.grammar.data(), 1, x.grammar.size(), f) == x.grammar.size();
        int err = errno;
        if (f && std::fclose(f) != 0 && ok) ok = false, err = errno;
        if (!ok) {
            report_error("tarvo: cannot write " + o.output + ": " + std::strerror(err));
            return kExitOutputFailed;
        }
    }
    report_loosened(o.dtd, x.loosened);
    return kExitValid;
}

}  // namespace

void report_loosened(const std::string& dtd, const std::vector<std::string>& loosened) {
    for (const std::string& l : loosened) report_error("tarvo: " + dtd + ": checked more loosely than the DTD at " + l);
}

Runner declare_import_dtd(CLI::App& app) {
    auto o = std::make_shared<ImportOptions>();
    app.footer("Exit status:\n"
               "  0  the grammar file was written\n"
               "  2  usage error, or a DTD that cannot be read or used\n"
               "  4  the grammar file could not be written (standard output, or the -o FILE)");
    app.add_option("DTD", o->dtd, "The DTD file; nothing outside it is read")->required();
    app.add_option("--root", o->root, "The document element: names the grammar (default: the file's name)")
        ->type_name("NAME");
    app.add_option("-o,--output", o->output, "Write the grammar file here instead of standard output")
        ->type_name("FILE");
    return [o] { return run_import(*o); };
}

}  // namespace tarvo::cli
