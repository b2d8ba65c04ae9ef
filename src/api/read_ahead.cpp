// parse_ahead(): the parse runs on a reading thread with a handler that
// records each event (its strings copied, its position taken) into chunks;
// the calling thread replays the chunks into the caller's handler. A few
// chunks at most are in flight, so memory stays bounded whatever the size
// of the document.
#include "tarvo/read_ahead.h"

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <exception>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

#include "reader/position_scope.h"
#include "schema/schema_table.h"

namespace tarvo {
namespace {

// A string copied into a chunk's bytes, or one the grammar holds (an
// element's name, a declared attribute's name or default), which the
// replay takes from there.
struct Piece {
    static constexpr size_t kGrammars = SIZE_MAX;
    size_t at = 0;
    size_t size = 0;
    bool grammars() const { return at == kGrammars; }
};

struct Event {
    enum class Kind : uint8_t { start, text, end };
    Kind kind;
    int element;
    Piece name;  // the element's name
    Piece data;  // a text event's text
    size_t first_attribute = 0;
    size_t attribute_count = 0;
    long line = 0;
    long column = 0;
};

struct RecordedAttribute {
    Piece name;
    Piece value;
    int rule;
};

struct Chunk {
    std::vector<Event> events;
    std::vector<RecordedAttribute> attributes;
    std::string bytes;

    Piece put(std::string_view s) {
        Piece p{bytes.size(), s.size()};
        bytes.append(s);
        return p;
    }
    // `s`, unless it is the grammar's `text` itself.
    Piece put(std::string_view s, const char* text, size_t length) {
        if (s.data() == text && s.size() == length) return {Piece::kGrammars, 0};
        return put(s);
    }
    std::string_view get(Piece p) const { return std::string_view(bytes.data() + p.at, p.size); }
    // Handed over once this full: a chunk's worth of replay is long enough
    // to make the hand-over's cost small, short enough to start soon.
    bool full() const { return events.size() >= 8192 || bytes.size() >= (size_t(1) << 19); }
    void clear() {
        events.clear();
        attributes.clear();
        bytes.clear();
    }
};

// A wait of the calling thread, announced to the host.
class Waiting {
public:
    explicit Waiting(AheadWait* wait) : wait_(wait) {
        if (wait_) wait_->begin();
    }
    ~Waiting() {
        if (wait_) wait_->end();
    }
    Waiting(const Waiting&) = delete;
    Waiting& operator=(const Waiting&) = delete;

private:
    AheadWait* wait_;
};

// The chunks between the two threads.
class Pipe {
public:
    // Reading thread: hands `chunk` over and returns an empty one, or null
    // once the replay has stopped. Waits while kInFlight chunks wait.
    std::unique_ptr<Chunk> hand_over(std::unique_ptr<Chunk> chunk) {
        std::unique_lock lock(mutex_);
        room_.wait(lock, [this] { return waiting_.size() < kInFlight || stopped_; });
        if (stopped_) return nullptr;
        waiting_.push_back(std::move(chunk));
        ready_.notify_one();
        if (spare_.empty()) return std::make_unique<Chunk>();
        std::unique_ptr<Chunk> empty = std::move(spare_.back());
        spare_.pop_back();
        return empty;
    }

    // Reading thread, last: the final chunk and how the parse ended.
    void finish(std::unique_ptr<Chunk> last, Result result, std::exception_ptr error) {
        std::lock_guard lock(mutex_);
        if (last) waiting_.push_back(std::move(last));
        result_ = std::move(result);
        error_ = error;
        finished_ = true;
        ready_.notify_one();
    }

    // Calling thread: the next chunk, or null when the parse has finished
    // and every chunk has been taken.
    std::unique_ptr<Chunk> take(AheadWait* wait) {
        for (;;) {
            {
                std::lock_guard lock(mutex_);
                if (!waiting_.empty()) {
                    std::unique_ptr<Chunk> chunk = std::move(waiting_.front());
                    waiting_.pop_front();
                    room_.notify_one();
                    return chunk;
                }
                if (finished_) return nullptr;
            }
            // The host's hooks run outside the lock: the reading thread
            // never waits for them.
            Waiting waiting(wait);
            std::unique_lock lock(mutex_);
            ready_.wait(lock, [this] { return !waiting_.empty() || finished_; });
        }
    }

    void give_back(std::unique_ptr<Chunk> chunk) {
        chunk->clear();
        std::lock_guard lock(mutex_);
        spare_.push_back(std::move(chunk));
    }

    // Calling thread: no more chunks are wanted.
    void stop() {
        std::lock_guard lock(mutex_);
        stopped_ = true;
        room_.notify_one();
    }

    // After the reading thread has ended.
    Result result() {
        if (error_) std::rethrow_exception(error_);
        return std::move(result_);
    }

private:
    static constexpr size_t kInFlight = 4;
    std::mutex mutex_;
    std::condition_variable ready_, room_;
    std::deque<std::unique_ptr<Chunk>> waiting_;
    std::vector<std::unique_ptr<Chunk>> spare_;
    bool stopped_ = false;
    bool finished_ = false;
    Result result_;
    std::exception_ptr error_;
};

// The reading thread's handler.
class Recorder final : public Handler {
public:
    Recorder(Pipe& pipe, const SchemaTable& grammar)
        : pipe_(pipe), grammar_(grammar), chunk_(std::make_unique<Chunk>()) {}

    bool start_tag(int element, std::string_view name, std::span<const Attribute> attributes) override {
        Event& e = add(Event::Kind::start, element, name);
        e.first_attribute = chunk_->attributes.size();
        e.attribute_count = attributes.size();
        const ElementRule& rule = grammar_.elements[element];
        for (const Attribute& a : attributes) {
            if (a.rule < 0) {
                chunk_->attributes.push_back({chunk_->put(a.name), chunk_->put(a.value), a.rule});
                continue;
            }
            const AttributeRule& r = rule.attributes[a.rule];
            chunk_->attributes.push_back(
                {chunk_->put(a.name, r.name, r.name_length), chunk_->put(a.value, r.default_value, r.default_length), a.rule});
        }
        return next();
    }
    bool text(int element, std::string_view element_name, std::string_view data) override {
        Event& e = add(Event::Kind::text, element, element_name);
        e.data = chunk_->put(data);
        return next();
    }
    bool end_tag(int element, std::string_view name) override {
        add(Event::Kind::end, element, name);
        return next();
    }

    std::unique_ptr<Chunk> last() { return std::move(chunk_); }

private:
    Event& add(Event::Kind kind, int element, std::string_view name) {
        const ElementRule& rule = grammar_.elements[element];
        Event& e = chunk_->events.emplace_back(Event{kind, element, chunk_->put(name, rule.name, rule.name_length), {}});
        if (const Position* at = position()) at->location(e.line, e.column);
        return e;
    }
    // False, which stops the parse, once the replay has stopped.
    bool next() {
        if (!chunk_->full()) return true;
        chunk_ = pipe_.hand_over(std::move(chunk_));
        return chunk_ != nullptr;
    }

    Pipe& pipe_;
    const SchemaTable& grammar_;
    std::unique_ptr<Chunk> chunk_;
};

// Where the event being replayed was read.
class Recorded final : public Position {
public:
    void location(long& line, long& column) const override {
        line = line_;
        column = column_;
    }
    void set(const Event& e) {
        line_ = e.line;
        column_ = e.column;
    }

private:
    long line_ = 0, column_ = 0;
};

// The second reading after a handler call failed: the events before it
// pass, the failing one fails with the same failure.
class FailAt final : public Handler {
public:
    FailAt(uint64_t event, std::string failure) : left_(event), failure_(std::move(failure)) {}
    bool start_tag(int, std::string_view, std::span<const Attribute>) override { return pass(); }
    bool text(int, std::string_view, std::string_view) override { return pass(); }
    bool end_tag(int, std::string_view) override { return pass(); }
    std::string failure() const override { return failure_; }

private:
    bool pass() { return left_-- > 0; }
    uint64_t left_;
    std::string failure_;
};

Result parse_directly(const SchemaTable& grammar, const Source& source, Handler* handler, const Options& options) {
    switch (source.kind()) {
    case Source::Kind::file: return parse_file(grammar, source.name().c_str(), handler, options);
    case Source::Kind::bytes: return parse_buffer(grammar, source.data(), source.name(), handler, options);
    case Source::Kind::unreadable:
    default: return unreadable_result(source.name(), source.os_error());
    }
}

// Makes the call event `e` of `chunk` stands for; false when it failed.
bool deliver(Handler& handler, const SchemaTable& grammar, const Chunk& chunk, const Event& e,
             std::vector<Attribute>& attributes) {
    const ElementRule& rule = grammar.elements[e.element];
    const std::string_view name = e.name.grammars() ? std::string_view(rule.name, rule.name_length) : chunk.get(e.name);
    switch (e.kind) {
    case Event::Kind::start: {
        attributes.resize(e.attribute_count);
        const RecordedAttribute* recorded = chunk.attributes.data() + e.first_attribute;
        for (Attribute& out : attributes) {
            const RecordedAttribute& a = *recorded++;
            out.rule = a.rule;
            out.name = a.name.grammars() ? std::string_view(rule.attributes[a.rule].name, rule.attributes[a.rule].name_length)
                                         : chunk.get(a.name);
            out.value = a.value.grammars() ? std::string_view(rule.attributes[a.rule].default_value,
                                                              rule.attributes[a.rule].default_length)
                                           : chunk.get(a.value);
        }
        return handler.start_tag(e.element, name, attributes);
    }
    case Event::Kind::text: return handler.text(e.element, name, chunk.get(e.data));
    case Event::Kind::end:
    default: return handler.end_tag(e.element, name);
    }
}

// Owns the reading thread: however the replay ends, the thread is told to
// stop and is joined before the pipe goes.
class ReadingThread {
public:
    ReadingThread(Pipe& pipe, const SchemaTable& grammar, const Source& source, const Options& options)
        : pipe_(pipe), thread_([&pipe, &grammar, &source, &options] {
              Recorder recorder(pipe, grammar);
              Result result;
              std::exception_ptr error;
              try {
                  result = parse_directly(grammar, source, &recorder, options);
              } catch (...) {
                  error = std::current_exception();
              }
              pipe.finish(recorder.last(), std::move(result), error);
          }) {}
    ~ReadingThread() { stop(); }
    ReadingThread(const ReadingThread&) = delete;
    ReadingThread& operator=(const ReadingThread&) = delete;

    void stop() {
        if (!thread_.joinable()) return;
        pipe_.stop();
        thread_.join();
    }
    void join() {
        if (thread_.joinable()) thread_.join();
    }

private:
    Pipe& pipe_;
    std::thread thread_;
};

}  // namespace

Result parse_ahead(const SchemaTable& grammar, const Source& source, Handler* handler, const Options& options,
                   AheadWait* wait) {
    static const bool one_core = std::thread::hardware_concurrency() < 2;
    if (!handler || source.kind() == Source::Kind::unreadable || one_core)
        return parse_directly(grammar, source, handler, options);
    Pipe pipe;
    std::optional<ReadingThread> reading;
    try {
        reading.emplace(pipe, grammar, source, options);
    } catch (const std::system_error&) {
        return parse_directly(grammar, source, handler, options);
    }
    uint64_t delivered = 0;
    {
        Recorded where;
        PositionScope scope(handler, &where);
        std::vector<Attribute> attributes;
        while (std::unique_ptr<Chunk> chunk = pipe.take(wait)) {
            for (const Event& e : chunk->events) {
                where.set(e);
                if (!deliver(*handler, grammar, *chunk, e, attributes)) {
                    // The reading thread has gone past this event: the
                    // Result is read again, up to it.
                    FailAt fail(delivered, handler->failure());
                    reading->stop();
                    Waiting waiting(wait);
                    return parse_directly(grammar, source, &fail, options);
                }
                ++delivered;
            }
            pipe.give_back(std::move(chunk));
        }
    }
    reading->join();
    return pipe.result();
}

}  // namespace tarvo
