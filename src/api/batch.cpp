// validate(), validate_many() and validate_each(): Results without a handler,
// for one document or many on threads.
//
// Each thread keeps one Checker for all the documents it takes: the
// parser's scratch storage and a read buffer serve document after document,
// so a small file costs its open, one or two reads and the parse, with no
// per-file allocation of buffers.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <exception>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "diag/report.h"
#include "reader/document_parser.h"
#include "tarvo/tarvo.h"

namespace tarvo {

Source Source::file(std::string path) { return Source(Kind::file, std::move(path), {}, 0); }

Source Source::bytes(std::string_view data, std::string name) { return Source(Kind::bytes, std::move(name), data, 0); }

Source Source::unreadable(std::string name, int os_error) {
    return Source(Kind::unreadable, std::move(name), {}, os_error);
}

namespace {

// Files up to this size are read whole and parsed in place; larger ones are
// read in blocks as parse_file reads them, so memory stays bounded.
constexpr size_t kWholeFile = size_t(1) << 20;

// A system call again while a signal interrupts it.
template <class Call>
long retried(Call&& call) {
    for (;;) {
        long value = static_cast<long>(call());
        if (value >= 0 || errno != EINTR) return value;
    }
}

class Descriptor {
public:
    explicit Descriptor(int fd) : fd_(fd) {}
    ~Descriptor() {
        if (fd_ >= 0) ::close(fd_);
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    int get() const { return fd_; }

private:
    int fd_;
};

// Checks documents one after another, reusing its storage.
class Checker {
public:
    Result check(const SchemaTable& grammar, const Source& source, const Options& options) {
        Status status;
        switch (source.kind()) {
        case Source::Kind::bytes:
            status = parser_.parse_buffer(grammar, source.data(), source.name(), options, report_);
            break;
        case Source::Kind::file: status = check_file(grammar, source.name(), options); break;
        case Source::Kind::unreadable:
        default: status = report_unreadable(report_, source.name().c_str(), source.os_error()); break;
        }
        return report_.finish(status);
    }

private:
    // The file's bytes up to kWholeFile are read first. When that reaches
    // its end (for a regular file: the size it had when opened) the buffer
    // is parsed in place; otherwise (a larger file, or a
    // read that failed) the parse goes on from those bytes to the rest of
    // the file, or to the error, exactly as a parse reading blocks would.
    Status check_file(const SchemaTable& grammar, const std::string& path, const Options& options) {
        Descriptor fd(static_cast<int>(retried([&] { return ::open(path.c_str(), O_RDONLY | O_CLOEXEC); })));
        if (fd.get() < 0) return report_unreadable(report_, path.c_str(), errno);
        struct stat st;
        bool sized = ::fstat(fd.get(), &st) == 0 && S_ISREG(st.st_mode) && st.st_size > 0;
        size_t expected = sized ? static_cast<size_t>(st.st_size) : 0;
        buffer_.resize(std::min(expected, kWholeFile) + 1);
        size_t filled = 0;
        int error = 0;
        bool at_end = false;
        while (filled < buffer_.size()) {
            long n = retried([&] { return ::read(fd.get(), buffer_.data() + filled, buffer_.size() - filled); });
            if (n < 0) {
                error = errno;
                break;
            }
            filled += static_cast<size_t>(n);
            // A regular file is read up to the size it had when opened: no
            // read is spent to see its end.
            if (n == 0 || (sized && filled == expected)) {
                at_end = true;
                break;
            }
            if (filled == buffer_.size() && buffer_.size() <= kWholeFile)
                buffer_.resize(std::min(2 * buffer_.size(), kWholeFile + 1));
        }
        if (at_end) return parser_.parse_buffer(grammar, std::string_view(buffer_.data(), filled), path, options, report_);
        size_t given = 0;
        return parser_.parse_source(
            grammar,
            [&](char* out, size_t capacity) -> SourceRead {
                if (given < filled) {
                    size_t n = std::min(capacity, filled - given);
                    std::copy_n(buffer_.data() + given, n, out);
                    given += n;
                    return {n, 0};
                }
                if (error) return {0, error};
                long n = retried([&] { return ::read(fd.get(), out, capacity); });
                if (n < 0) return {0, errno};
                return {static_cast<size_t>(n), 0};
            },
            path.c_str(), options, report_);
    }

    DocumentParser parser_;
    ReportBuilder report_;
    std::string buffer_;
};

unsigned thread_count(unsigned jobs, size_t documents) {
    if (jobs == 0) jobs = std::max(1u, std::thread::hardware_concurrency());
    return static_cast<unsigned>(std::min<size_t>(jobs, documents));
}

// The state the threads of one run share. Each thread makes Results with
// its own worker, made by `make_worker()` (a callable Result(size_t)).
template <class MakeWorker>
class Run {
public:
    Run(size_t count, const MakeWorker& make_worker, const ResultSink& deliver)
        : make_worker_(make_worker), deliver_(deliver), done_(count) {}

    // Takes documents until none is left, or until a thread failed.
    void work() noexcept {
        try {
            auto worker = make_worker_();
            for (size_t i; !stop_.load(std::memory_order_relaxed) && (i = next_.fetch_add(1)) < done_.size();)
                file(i, worker(i));
        } catch (...) {
            std::lock_guard<std::mutex> lock(mutex_);
            if (!failure_) failure_ = std::current_exception();
            stop_ = true;
        }
    }

    void rethrow() const {
        if (failure_) std::rethrow_exception(failure_);
    }

private:
    // Files the Result of document `i`. One thread at a time delivers: it
    // takes every Result that is next in order under the lock and delivers
    // them without it, so the others go on checking meanwhile.
    void file(size_t i, Result&& result) {
        std::vector<std::pair<size_t, Result>> ready;
        std::unique_lock<std::mutex> lock(mutex_);
        done_[i] = std::move(result);
        if (delivering_ || stop_.load(std::memory_order_relaxed)) return;
        delivering_ = true;
        try {
            for (;;) {
                for (; delivered_ < done_.size() && done_[delivered_]; ++delivered_) {
                    ready.emplace_back(delivered_, std::move(*done_[delivered_]));
                    done_[delivered_].reset();
                }
                if (ready.empty()) break;
                lock.unlock();
                for (const auto& [index, r] : ready) deliver_(index, r);
                ready.clear();
                lock.lock();
            }
        } catch (...) {
            // Stopped before another thread can take over the delivering:
            // nothing after the failed Result is delivered.
            if (!lock.owns_lock()) lock.lock();
            stop_ = true;
            delivering_ = false;
            throw;
        }
        delivering_ = false;
    }

    const MakeWorker& make_worker_;
    const ResultSink& deliver_;

    std::atomic<size_t> next_{0};
    std::atomic<bool> stop_{false};
    std::mutex mutex_;
    std::vector<std::optional<Result>> done_;  // made, not yet delivered
    size_t delivered_ = 0;
    bool delivering_ = false;
    std::exception_ptr failure_;
};

// Makes and delivers `count` Results on up to `jobs` threads, the calling
// one among them.
template <class MakeWorker>
void run_in_order(size_t count, unsigned jobs, const MakeWorker& make_worker, const ResultSink& deliver) {
    unsigned threads = thread_count(jobs, count);
    if (threads <= 1) {
        auto worker = make_worker();
        for (size_t i = 0; i < count; ++i) deliver(i, worker(i));
        return;
    }
    Run<MakeWorker> run(count, make_worker, deliver);
    std::vector<std::thread> workers;
    try {
        for (unsigned j = 1; j < threads; ++j) workers.emplace_back([&run] { run.work(); });
    } catch (...) {
        // No thread to be had: those that started and this one do the work.
    }
    run.work();
    for (std::thread& t : workers) t.join();
    run.rethrow();
}

}  // namespace

Result validate(const SchemaTable& grammar, const Source& source, const Options& options) {
    return Checker().check(grammar, source, options);
}

void validate_each(const SchemaTable& grammar, std::span<const Source> sources, unsigned jobs, const Options& options,
                   const ResultSink& deliver) {
    // One Checker per thread, for all the documents it takes.
    run_in_order(
        sources.size(), jobs,
        [&] {
            return [&, checker = std::make_shared<Checker>()](size_t i) {
                return checker->check(grammar, sources[i], options);
            };
        },
        deliver);
}

void each_in_order(size_t count, unsigned jobs, const ResultMaker& make, const ResultSink& deliver) {
    run_in_order(count, jobs, [&make] { return [&make](size_t i) { return make(i); }; }, deliver);
}

std::vector<Result> validate_many(const SchemaTable& grammar, std::span<const Source> sources, unsigned jobs,
                                  const Options& options) {
    std::vector<Result> results(sources.size());
    validate_each(grammar, sources, jobs, options, [&results](size_t i, const Result& r) { results[i] = r; });
    return results;
}

}  // namespace tarvo
