// How `tarvo check` and `tarvo events` find the grammar of each document:
// the one given, or under --auto the one the document's head names, or
// under --internal-dtd the one its internal subset declares, else one of
// the others.
#pragma once

#include <memory>
#include <string>

#include "cli.h"
#include "tarvo/detect.h"

namespace tarvo::cli {

class GrammarChooser {
public:
    // Takes the grammar operands of a command: under --auto none may be
    // given, and under either option a GRAMMAR that names no grammar is the
    // first FILE, put back in front of `files`. Throws UsageError.
    GrammarChooser(bool auto_grammar, bool internal_dtd, GrammarOperand& operand, std::vector<std::string>& files);

    // Whether each document's grammar is chosen by itself.
    bool per_document() const { return auto_grammar_ || internal_dtd_; }
    // Loads the grammar given, if any; false after reporting why it cannot be.
    bool resolve(const GrammarOperand& operand);
    // The grammar given (when not per_document()).
    const tarvo::SchemaTable& given() const { return *given_; }

    // Under per_document(): reads one document against the grammar chosen
    // from its head, its events to `handler` (null: none); a document none
    // is chosen for gets no_grammar_result(). It is read once: a pipe works.
    tarvo::Result parse(const tarvo::Source& document, tarvo::Handler* handler, const tarvo::Options& options) const;
    // Checks one document with the grammar chosen for it.
    tarvo::Result check(const tarvo::Source& document, const tarvo::Options& options) const;

private:
    // The grammar of the document `name` whose head is `head`, under
    // per_document(); one made for it from its internal subset is kept in
    // `made`. Null when there is none, with `outcome` set to its Result.
    const tarvo::SchemaTable* choose(const tarvo::DocumentHead& head, const std::string& name,
                                     std::shared_ptr<const tarvo::SchemaTable>& made, tarvo::Result& outcome) const;

    bool auto_grammar_, internal_dtd_;
    std::shared_ptr<const tarvo::SchemaTable> given_;
    std::unique_ptr<tarvo::GrammarFinder> finder_;
};

}  // namespace tarvo::cli
