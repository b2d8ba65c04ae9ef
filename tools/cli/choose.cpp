#include "choose.h"

#include <utility>

namespace tarvo::cli {

GrammarChooser::GrammarChooser(bool auto_grammar, bool internal_dtd, GrammarOperand& operand,
                               std::vector<std::string>& files)
    : auto_grammar_(auto_grammar), internal_dtd_(internal_dtd) {
    if (!per_document()) return;
    const bool named = !operand.name.empty() && tarvo::find_grammar(operand.name);
    if (auto_grammar_ && (named || !operand.file.empty() || !operand.dtd.empty()))
        throw UsageError("--auto chooses the grammar of each FILE: no GRAMMAR, --grammar-file or --dtd goes with it");
    if (!operand.name.empty() && !named && operand.file.empty() && operand.dtd.empty()) {
        files.insert(files.begin(), operand.name);
        operand.name.clear();
    }
    if (auto_grammar_) finder_ = std::make_unique<tarvo::GrammarFinder>();
}

bool GrammarChooser::resolve(const GrammarOperand& operand) {
    if (per_document() && operand.name.empty() && operand.file.empty() && operand.dtd.empty()) return true;
    given_ = operand.resolve();
    return given_ != nullptr;
}

const tarvo::SchemaTable* GrammarChooser::choose(const tarvo::DocumentHead& head, const std::string& name,
                                                 std::shared_ptr<const tarvo::SchemaTable>& made,
                                                 tarvo::Result& outcome) const {
    if (internal_dtd_) {
        try {
            // The DTD's loosened places are those `tarvo import-dtd` lists
            // for the subset; a check of many files does not repeat them.
            if ((made = tarvo::internal_subset_grammar(head, name))) return made.get();
        } catch (const tarvo::GrammarError& e) {
            std::string why = "its internal subset cannot serve as the grammar: ";
            for (size_t i = 0; i < e.messages().size(); ++i) why += (i ? "; " : "") + e.messages()[i];
            outcome = tarvo::no_grammar_result(name, why);
            return nullptr;
        }
    }
    if (given_) return given_.get();
    if (!finder_) {
        outcome = tarvo::no_grammar_result(name, "it has no internal subset that declares its elements");
        return nullptr;
    }
    return tarvo::choose_grammar(*finder_, head, name, outcome);
}

tarvo::Result GrammarChooser::check(const tarvo::Source& document, const tarvo::Options& options) const {
    return per_document() ? parse(document, nullptr, options) : tarvo::validate(*given_, document, options);
}

tarvo::Result GrammarChooser::parse(const tarvo::Source& document, tarvo::Handler* handler,
                                    const tarvo::Options& options) const {
    std::shared_ptr<const tarvo::SchemaTable> made;
    return tarvo::parse_detected(
        document,
        [&](const tarvo::DocumentHead& head, tarvo::Result& outcome) {
            return choose(head, document.name(), made, outcome);
        },
        handler, options);
}

}  // namespace tarvo::cli
