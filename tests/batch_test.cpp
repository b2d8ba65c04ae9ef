// validate(), validate_many() and validate_each(): every Result equals what
// parse_file or parse_buffer give for the same document, whatever the number
// of threads, in the order of the sources; a failure on any thread comes
// back to the caller.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <stdexcept>

#include "test_support.h"

namespace tarvo {
namespace {

using namespace testing;
namespace fs = std::filesystem;

const fs::path kExamples = fs::path(TARVO_SOURCE_DIR) / "examples";

S read_file(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return S(std::istreambuf_iterator<char>(in), {});
}

// One grammar's documents as sources, and what the plain entry points give
// for each.
struct Corpus {
    std::shared_ptr<const SchemaTable> owned;
    const SchemaTable* grammar = nullptr;
    std::vector<S> contents;  // the bytes the byte sources point into
    std::vector<Source> sources;
    std::vector<S> expected;
};

// The examples of `dir` as files and as bytes, a missing file, a directory,
// a document known unreadable, a file past the size read whole (its bytes
// read in blocks), and an empty one.
Corpus corpus_of(const fs::path& dir, const fs::path& scratch, const Options& options) {
    Corpus c;
    fs::path grammar_file = dir / (dir.filename().string() + ".grammar");
    if (fs::exists(grammar_file)) {
        c.owned = load_grammar(grammar_file.string());
        c.grammar = c.owned.get();
    } else {
        c.grammar = find_grammar(dir.filename().string());
    }
    if (!c.grammar) return c;
    std::vector<fs::path> files;
    for (const auto& e : fs::directory_iterator(dir))
        if (e.path().extension() == ".xml") files.push_back(e.path());
    std::sort(files.begin(), files.end());
    fs::path large = scratch / (dir.filename().string() + "-large.xml");
    // The first example with two MiB of trailing spaces: read past the first MiB in blocks.
    std::ofstream(large, std::ios::binary) << read_file(files.front()) << S(2 << 20, ' ');
    fs::path empty = scratch / "empty.xml";
    std::ofstream(empty, std::ios::binary).flush();
    files.push_back(large);
    files.push_back(empty);
    c.contents.reserve(files.size());
    auto add = [&c](Source source, const Result& expected) {
        c.sources.push_back(std::move(source));
        c.expected.push_back(outcome(expected));
    };
    for (const fs::path& f : files) {
        c.contents.push_back(read_file(f));
        add(Source::file(f.string()), parse_file(*c.grammar, f.string().c_str(), nullptr, options));
        add(Source::bytes(c.contents.back(), f.string()),
            parse_buffer(*c.grammar, c.contents.back(), f.string(), nullptr, options));
    }
    const S missing = (scratch / "missing.xml").string();
    add(Source::file(missing), parse_file(*c.grammar, missing.c_str(), nullptr, options));
    add(Source::file(scratch.string()), parse_file(*c.grammar, scratch.string().c_str(), nullptr, options));
    add(Source::unreadable("fifo.xml", 0), unreadable_result("fifo.xml", 0));
    add(Source::bytes("", "<bytes>"), parse_buffer(*c.grammar, "", "<bytes>", nullptr, options));
    return c;
}

class Batch : public ::testing::Test {
protected:
    void SetUp() override {
        scratch_ = fs::temp_directory_path() / ("tarvo-batch-" + std::to_string(::getpid()));
        fs::create_directories(scratch_);
    }
    void TearDown() override { fs::remove_all(scratch_); }
    fs::path scratch_;
};

TEST_F(Batch, EveryResultEqualsTheOneByOneParseAtEveryThreadCount) {
    for (const Options& options : {Options{}, Options{.max_errors = 0, .paths = true}}) {
        for (const auto& entry : fs::directory_iterator(kExamples)) {
            if (!entry.is_directory()) continue;
            Corpus c = corpus_of(entry.path(), scratch_, options);
            if (!c.grammar) continue;
            SCOPED_TRACE(entry.path().filename().string() + " max_errors " + std::to_string(options.max_errors));
            for (size_t i = 0; i < c.sources.size(); ++i)
                EXPECT_EQ(outcome(validate(*c.grammar, c.sources[i], options)), c.expected[i]) << c.sources[i].name();
            for (unsigned jobs : {1u, 2u, 4u, 0u}) {
                std::vector<Result> results = validate_many(*c.grammar, c.sources, jobs, options);
                ASSERT_EQ(results.size(), c.sources.size());
                for (size_t i = 0; i < results.size(); ++i)
                    EXPECT_EQ(outcome(results[i]), c.expected[i]) << "jobs " << jobs << ": " << c.sources[i].name();
            }
        }
    }
}

TEST_F(Batch, EachResultIsDeliveredOnceInOrder) {
    const SchemaTable& g = grammar("heatmap");
    const S doc = read_file(kExamples / "heatmap" / "order_handling_durations.xml");
    const S bad = read_file(kExamples / "heatmap" / "invalid-colors-after-element.xml");
    std::vector<Source> sources;
    for (int i = 0; i < 500; ++i) sources.push_back(Source::bytes(i % 7 == 3 ? bad : doc, std::to_string(i) + ".xml"));
    for (unsigned jobs : {1u, 2u, 4u, 8u}) {
        std::vector<size_t> seen;
        validate_each(g, sources, jobs, Options{}, [&](size_t i, const Result& r) {
            seen.push_back(i);
            EXPECT_EQ(r.ok(), i % 7 != 3) << i;
        });
        ASSERT_EQ(seen.size(), sources.size()) << "jobs " << jobs;
        for (size_t i = 0; i < seen.size(); ++i) ASSERT_EQ(seen[i], i) << "jobs " << jobs;
    }
    EXPECT_TRUE(validate_many(g, std::span<const Source>(), 2).empty());
}

TEST_F(Batch, AFailureOnAnyThreadReachesTheCaller) {
    const SchemaTable& g = grammar("heatmap");
    const S doc = read_file(kExamples / "heatmap" / "order_handling_durations.xml");
    std::vector<Source> sources(300, Source::bytes(doc));
    for (unsigned jobs : {1u, 2u, 4u}) {
        for (size_t failing : {size_t(0), size_t(150), size_t(299)}) {
            size_t delivered = 0;
            EXPECT_THROW(validate_each(g, sources, jobs, Options{},
                                       [&](size_t i, const Result&) {
                                           if (i == failing) throw std::runtime_error("sink failed");
                                           ++delivered;
                                       }),
                         std::runtime_error)
                << "jobs " << jobs << " failing " << failing;
            EXPECT_EQ(delivered, failing);
        }
    }
}

}  // namespace
}  // namespace tarvo
