// Checking documents for their Result alone, one at a time or many at once
// on threads: no handler, nothing but the outcome of each.
#pragma once

#include <cstddef>
#include <functional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "tarvo/tarvo.h"

namespace tarvo {

// One document to check: a file by its path, or bytes held in memory under
// a name that stands where a file's path stands in messages.
class TARVO_API Source {
public:
    // The file at `path`, read as parse_file reads it.
    static Source file(std::string path);
    // `data`, read as parse_buffer reads it. The bytes are not copied: they
    // must stay valid and unchanged until the call that checks them returns.
    static Source bytes(std::string_view data, std::string name = "<bytes>");
    // A document known to be unreadable without opening it (a FIFO or a
    // device, whose opening could wait for ever): its Result is
    // unreadable_result(name, os_error).
    static Source unreadable(std::string name, int os_error);

    enum class Kind { file, bytes, unreadable };
    Kind kind() const { return kind_; }
    // The path, or the name of the bytes.
    const std::string& name() const { return name_; }
    std::string_view data() const { return data_; }
    int os_error() const { return os_error_; }

private:
    Source(Kind kind, std::string name, std::string_view data, int os_error)
        : kind_(kind), name_(std::move(name)), data_(data), os_error_(os_error) {}

    Kind kind_;
    std::string name_;
    std::string_view data_;
    int os_error_;
};

// The Result of checking one document, without events: what parse_file or
// parse_buffer with a null handler give for it.
TARVO_API Result validate(const SchemaTable& grammar, const Source& source, const Options& options = {});

// The Results of checking every source, in the order of `sources`, each
// equal to what validate() gives for it. The documents are checked on
// `jobs` threads (0: one per core; never more than there are sources), the
// calling thread being one of them. An exception thrown while checking (out
// of memory) stops the handing out of further documents and is rethrown
// here once every thread has ended.
TARVO_API std::vector<Result> validate_many(const SchemaTable& grammar, std::span<const Source> sources,
                                           unsigned jobs = 0, const Options& options = {});

// Receives the Result of sources[index].
using ResultSink = std::function<void(size_t index, const Result& result)>;

// As validate_many, but hands each Result to `deliver` as soon as it and all
// before it are done, in the order of `sources`, one call at a time (from
// whichever thread is free), instead of keeping them all. A Result is
// dropped once delivered, so a long run holds only the Results that wait
// for an earlier one. An exception thrown by `deliver` ends the run as one
// thrown while checking does.
TARVO_API void validate_each(const SchemaTable& grammar, std::span<const Source> sources, unsigned jobs,
                             const Options& options, const ResultSink& deliver);

// Makes the Result of document `index`, on whichever thread takes it.
using ResultMaker = std::function<Result(size_t index)>;

// validate_each's threads and ordered delivery for `count` documents whose
// Results `make` gives: for checks that are more than one grammar over
// sources, such as choosing each document's grammar first. `make` is called
// for each index once, from several threads at a time.
TARVO_API void each_in_order(size_t count, unsigned jobs, const ResultMaker& make, const ResultSink& deliver);

}  // namespace tarvo
