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

tarvo::Result GrammarChooser::check(const tarvo::Source& document, const tarvo::Options& options) const {
    const std::string& name = document.name();
    auto parse = [&](const tarvo::SchemaTable& g) { return tarvo::validate(g, document, options); };
    if (!per_document()) return parse(*given_);
    if (document.kind() == tarvo::Source::Kind::unreadable) return tarvo::unreadable_result(name, document.os_error());
    tarvo::DocumentHead head = document.kind() == tarvo::Source::Kind::bytes
                                   ? tarvo::read_document_head(document.data())
                                   : tarvo::read_document_head_file(name.c_str());
    if (head.os_error) return tarvo::unreadable_result(name, head.os_error);
    if (internal_dtd_) {
        try {
            // The DTD's loosened places are those `tarvo import-dtd` lists
            // for the subset; a check of many files does not repeat them.
            if (std::shared_ptr<const tarvo::SchemaTable> g = tarvo::internal_subset_grammar(head, name)) return parse(*g);
        } catch (const tarvo::GrammarError& e) {
            std::string why = "its internal subset cannot serve as the grammar: ";
            for (size_t i = 0; i < e.messages().size(); ++i) why += (i ? "; " : "") + e.messages()[i];
            return tarvo::no_grammar_result(name, why);
        }
    }
    if (given_) return parse(*given_);
    if (!finder_) return tarvo::no_grammar_result(name, "it has no internal subset that declares its elements");
    tarvo::GrammarChoice choice = finder_->find(head);
    if (!choice.grammar) return tarvo::no_grammar_result(name, choice.reason);
    return parse(*choice.grammar);
}

}  // namespace tarvo::cli
