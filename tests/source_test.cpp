// Documents from a host's own reader (parse_source) read exactly as files
// holding the same bytes, the Result of a document that cannot be opened,
// and file reads that signals interrupt.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <thread>

#include "tarvo/read_ahead.h"
#include "test_support.h"

namespace tarvo {
namespace {

using namespace testing;

// Hands out `data` in pieces of at most `piece` bytes, then fails with
// `error` (0: ends) once `fail_after` bytes are out.
struct Pieces {
    S data;
    size_t piece;
    size_t fail_after = S::npos;
    int error = 0;
    size_t at = 0;

    SourceRead operator()(char* buffer, size_t capacity) {
        if (fail_after != S::npos && at >= std::min(fail_after, data.size())) return {0, error};
        size_t n = std::min({capacity, piece, data.size() - at, fail_after - at});
        data.copy(buffer, n, at);
        at += n;
        return {n, 0};
    }
};

// Every document run_cases() reads is also read in pieces of 1 and 3,1,2
// bytes; here are larger pieces, over texts that cross the reader's blocks.
TEST(Source, ReadsAsAFileHoldingTheSameBytes) {
    const S long_text(200000, 'x');
    const struct { const char* grammar; S document; Flags flags; } cases[] = {
        {"heatmap", "<?xml encoding='x'?>\n<Heatmap a='1'>\n<Colors gradient_color_space='q'/></Heatmap>",
         Flags::ignore_unknown_attributes | Flags::ignore_wrong_attributes},
        {"dictionary", xml("<dictionary><translation><source>" + long_text + "&amp;</source><target>" + long_text +
                           "</target></translation><Bogus/></dictionary>"),
         Flags::ignore_wrong_elements},
        {"dictionary", xml("<dictionary>\n<translation>\n<source>" + long_text), Flags::strict},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.document.substr(0, 80));
        TempFile file(c.document);
        Recorder file_events;
        const S expected = outcome(parse_file(grammar(c.grammar), file.path().c_str(), &file_events, c.flags),
                                   file_events.events);
        for (size_t piece : {size_t{1}, size_t{7}, size_t{4096}, size_t{1} << 20}) {
            Recorder events;
            Pieces read{c.document, piece};
            Result r = parse_source(grammar(c.grammar), std::ref(read), file.path(), &events, c.flags);
            EXPECT_EQ(outcome(r, events.events), expected) << "pieces of " << piece;
        }
    }
}

TEST(Source, AFailedReadEndsTheDocumentAsAnUnreadableFile) {
    const S document = xml("<dictionary>\n<translation><source>a</source><target>b</target></translation>\n"
                           "<Bogus/>\n<translation><source>c</source><target>d</target></translation></dictionary>");
    const Result unreadable = unreadable_result("doc.xml", EIO);
    ASSERT_EQ(unreadable.diagnostics().size(), 1u);
    // Failing at once, in the middle, and where the document was complete.
    for (size_t fail_after : {size_t{0}, document.find("<Bogus"), document.size()}) {
        SCOPED_TRACE(fail_after);
        Recorder events;
        Pieces read{document, 5, fail_after, EIO};
        Result r = parse_source(grammar("dictionary"), std::ref(read), "doc.xml", &events,
                                Flags::ignore_wrong_elements);
        EXPECT_EQ(r.status, Status::unreadable);
        ASSERT_FALSE(r.error_messages().empty());
        EXPECT_EQ(r.error_messages().back(), "Could not open file doc.xml for reading");
        EXPECT_EQ(records(r).back(), "E input_output 0:0");
        EXPECT_EQ(r.diagnostics().back().os_error, EIO);
        // What was read before the failure stands.
        Recorder before;
        parse_buffer(grammar("dictionary"), document.substr(0, fail_after), "doc.xml", &before,
                     Flags::ignore_wrong_elements);
        EXPECT_EQ(events.events, before.events);
        if (fail_after == 0) {
            EXPECT_EQ(outcome(r, events.events), outcome(unreadable, events.events));
        }
    }
}

// Read directly or ahead, and with no handler call.
TEST(Source, UnreadableResultIsWhatAFileThatCannotBeOpenedGives) {
    // A directory opens but cannot be read.
    for (auto [path, error] : {std::pair{"/nonexistent/doc.xml", ENOENT}, {"-", ENOENT}, {"/", EISDIR}}) {
        SCOPED_TRACE(path);
        Recorder direct, ahead;
        const S expected = outcome(unreadable_result(path, error));
        EXPECT_EQ(outcome(parse_file(grammar("heatmap"), path, &direct), direct.events), expected);
        EXPECT_EQ(outcome(parse_ahead(grammar("heatmap"), Source::file(path), &ahead), ahead.events), expected);
    }
    const Result r = unreadable_result("<stdin>", EACCES);
    EXPECT_EQ((Lines{S(r.errors()), S(kind_name(r.diagnostics()[0].kind))}),
              (Lines{"Could not open file <stdin> for reading", "input_output"}));
    EXPECT_EQ(r.diagnostics()[0].os_error, EACCES);
    EXPECT_EQ(r.status, Status::unreadable);
}

// A signal whose handler returns interrupts a wait for a file; the read
// goes on as if nothing happened.
std::atomic<int> g_alarms{0};
void count_alarm(int) { ++g_alarms; }

TEST(Source, FileReadsGoOnThroughInterruptingSignals) {
    char dir_template[] = "/tmp/tarvo-fifo-XXXXXX";
    ASSERT_NE(mkdtemp(dir_template), nullptr);
    const S dir = dir_template, fifo = dir + "/doc.xml";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    const S document = xml("<Heatmap title='t'>\n<Colors/>\n<Element model_file='m' id='1' value='2'/></Heatmap>");

    struct sigaction action = {}, previous = {};
    action.sa_handler = count_alarm;  // no SA_RESTART: waits end with EINTR
    sigemptyset(&action.sa_mask);
    ASSERT_EQ(sigaction(SIGALRM, &action, &previous), 0);
    // The writer opens late and writes in pieces; only this thread takes the signals.
    sigset_t alarm_only;
    sigemptyset(&alarm_only);
    sigaddset(&alarm_only, SIGALRM);
    pthread_sigmask(SIG_BLOCK, &alarm_only, nullptr);
    std::thread writer([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        std::FILE* f = std::fopen(fifo.c_str(), "wb");
        for (size_t at = 0; f && at < document.size(); at += 40) {
            std::fwrite(document.data() + at, 1, std::min<size_t>(40, document.size() - at), f);
            std::fflush(f);
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        if (f) std::fclose(f);
    });
    pthread_sigmask(SIG_UNBLOCK, &alarm_only, nullptr);
    itimerval every_5ms = {{0, 5000}, {0, 5000}}, off = {};
    setitimer(ITIMER_REAL, &every_5ms, nullptr);
    Recorder events;
    const Result r = parse_file(grammar("heatmap"), fifo.c_str(), &events);
    setitimer(ITIMER_REAL, &off, nullptr);
    // Should the parse have given up early, the writer still finds a reader.
    int drain = open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
    writer.join();
    if (drain >= 0) close(drain);
    sigaction(SIGALRM, &previous, nullptr);
    unlink(fifo.c_str());
    rmdir(dir.c_str());

    Recorder expected_events;
    const Result expected = parse_buffer(grammar("heatmap"), document, fifo, &expected_events);
    EXPECT_TRUE(r.ok()) << r.errors();
    EXPECT_EQ(outcome(r, events.events), outcome(expected, expected_events.events));
    EXPECT_GE(g_alarms.load(), 10);
}

// A host may start a child process while a document is read: the child
// must not inherit the open document.
TEST(Source, AnOpenDocumentIsClosedOnExec) {
    TempFile file(xml("<dictionary/>"));
    struct FdsOfTheFile final : Handler {
        std::filesystem::path path;
        int open = 0, inherited = 0;
        bool start_tag(int, std::string_view, std::span<const Attribute>) override {
            for (const auto& fd : std::filesystem::directory_iterator("/proc/self/fd")) {
                std::error_code error;
                if (std::filesystem::read_symlink(fd.path(), error) != path) continue;
                ++open;
                inherited += (fcntl(std::stoi(fd.path().filename()), F_GETFD) & FD_CLOEXEC) == 0;
            }
            return true;
        }
    } handler;
    handler.path = std::filesystem::canonical(file.path());
    parse_file(grammar("dictionary"), file.path().c_str(), &handler);
    EXPECT_EQ(handler.open, 1);
    EXPECT_EQ(handler.inherited, 0);
}

}  // namespace
}  // namespace tarvo
