// parse_ahead(): the parse runs on a reading thread with a handler that
// records each event (its strings copied) into chunks; the calling thread
// replays the chunks into the caller's handler. A few chunks at most are in
// flight, so memory stays bounded whatever the size of the document.
// Positions are taken only once a handler asks for one (see Replay).
//
// What is recorded is kept small: every byte of it is written on one core
// and read on the other, and where moving a cache line between cores is
// slow, that traffic, not the parse, sets the reading thread's pace (an
// event of 72 bytes and an attribute of 40 made the reading thread take
// 2.4 times as long as the parse alone on one such machine).
#include "tarvo/read_ahead.h"

#include <algorithm>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <deque>
#include <exception>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
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

// Bytes that stay where they are written until the arena is cleared, so
// that the views of a chunk's events and attributes can be handed to the
// handler as they are: blocks of 64 KiB, and a block of its own for a
// longer string.
class Arena {
public:
    std::string_view put(std::string_view s) {
        if (blocks_.empty() || blocks_[current_].size - used_ < s.size()) next_block(s.size());
        char* at = blocks_[current_].bytes.get() + used_;
        if (!s.empty()) std::memcpy(at, s.data(), s.size());
        used_ += s.size();
        total_ += s.size();
        return {at, s.size()};
    }
    size_t size() const { return total_; }
    // Keeps the ordinary blocks for the next chunk.
    void clear() {
        std::erase_if(blocks_, [](const Block& b) { return b.size > kBlock; });
        current_ = used_ = total_ = 0;
    }

private:
    static constexpr size_t kBlock = size_t(1) << 16;
    struct Block {
        std::unique_ptr<char[]> bytes;
        size_t size;
    };
    void next_block(size_t need) {
        const size_t next = blocks_.empty() ? 0 : current_ + 1;
        if (next == blocks_.size() || blocks_[next].size < need) {
            const size_t size = std::max(kBlock, need);
            Block block{std::make_unique<char[]>(size), size};
            if (next == blocks_.size())
                blocks_.push_back(std::move(block));
            else
                blocks_[next] = std::move(block);
        }
        current_ = next;
        used_ = 0;
    }

    std::vector<Block> blocks_;
    size_t current_ = 0, used_ = 0, total_ = 0;
};

// An event without its element's name: the parse passes the grammar's,
// and the replay takes it from there. A text's bytes are in the chunk's
// arena.
struct Event {
    enum class Kind : uint8_t { start, text, end };
    Kind kind;
    int32_t element;
    uint32_t first_attribute = 0;  // a start tag's, in the chunk's `given`
    uint32_t attribute_count = 0;
    const char* data = nullptr;  // a text event's text
    size_t size = 0;
};

struct Place {
    long line, column;
};

// An attribute as recorded: a declared one by its rule and value (its name
// is the rule's); any other (undeclared, or a value of 4 GiB or more) in
// full, among the chunk's others.
struct Given {
    static constexpr int32_t kOther = -1;
    const char* value;
    uint32_t size;  // of the value; for kOther, the index among the others
    int32_t rule;
};

// Events with their strings: the grammar's own names and defaults as they
// are (the grammar outlives the parse), every other string copied. Places
// are kept, one an event, only while positions are taken.
struct Chunk {
    std::vector<Event> events;
    std::vector<Place> places;
    std::vector<Given> given;
    std::vector<Attribute> others;
    Arena bytes;

    // `s`, kept unless it is the grammar's `text` itself.
    std::string_view keep(std::string_view s, const char* text, size_t length) {
        return s.data() == text && s.size() == length ? s : bytes.put(s);
    }
    // Event `e`'s attributes, as the parse delivered them, into `out`.
    std::span<const Attribute> attributes_of(const Event& e, const ElementRule& element,
                                             std::vector<Attribute>& out) const {
        out.clear();
        for (const Given& g : std::span<const Given>(given).subspan(e.first_attribute, e.attribute_count)) {
            if (g.rule == Given::kOther) {
                out.push_back(others[g.size]);
                continue;
            }
            const AttributeRule& r = element.attributes[g.rule];
            out.push_back({{r.name, r.name_length}, {g.value, g.size}, g.rule});
        }
        return out;
    }
    // Handed over once this full: a chunk's worth of replay is long enough
    // to make the hand-over's cost small, short enough to start soon.
    bool full() const { return events.size() >= 8192 || bytes.size() >= (size_t(1) << 19); }
    void clear() {
        events.clear();
        places.clear();
        given.clear();
        others.clear();
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

// The reading thread's handler. It passes over the events before `skip`
// (those delivered already) and takes each event's position only when
// `located` (a handler has asked for one): counting the line feeds is a
// good part of its work.
class Recorder final : public Handler {
public:
    Recorder(Pipe& pipe, const SchemaTable& grammar, uint64_t skip, bool located)
        : pipe_(pipe), grammar_(grammar), skip_(skip), located_(located), chunk_(std::make_unique<Chunk>()) {}

    bool start_tag(int element, std::string_view, std::span<const Attribute> attributes) override {
        if (skipped()) return true;
        Event& e = add(Event::Kind::start, element);
        e.first_attribute = static_cast<uint32_t>(chunk_->given.size());
        e.attribute_count = static_cast<uint32_t>(attributes.size());
        const ElementRule& rule = grammar_.elements[element];
        for (const Attribute& a : attributes) {
            if (a.rule < 0 || a.value.size() > UINT32_MAX) {
                chunk_->given.push_back({nullptr, static_cast<uint32_t>(chunk_->others.size()), Given::kOther});
                chunk_->others.push_back({chunk_->bytes.put(a.name), chunk_->bytes.put(a.value), a.rule});
                continue;
            }
            const AttributeRule& r = rule.attributes[a.rule];
            const std::string_view value = chunk_->keep(a.value, r.default_value, r.default_length);
            chunk_->given.push_back({value.data(), static_cast<uint32_t>(value.size()), a.rule});
        }
        return next();
    }
    bool text(int element, std::string_view, std::string_view data) override {
        if (skipped()) return true;
        Event& e = add(Event::Kind::text, element);
        const std::string_view kept = chunk_->bytes.put(data);
        e.data = kept.data();
        e.size = kept.size();
        return next();
    }
    bool end_tag(int element, std::string_view) override {
        if (skipped()) return true;
        add(Event::Kind::end, element);
        return next();
    }

    std::unique_ptr<Chunk> last() { return std::move(chunk_); }

private:
    bool skipped() {
        if (skip_ == 0) return false;
        --skip_;
        return true;
    }
    Event& add(Event::Kind kind, int element) {
        if (located_) {
            Place& p = chunk_->places.emplace_back(Place{0, 0});
            if (const Position* at = position()) at->location(p.line, p.column);
        }
        return chunk_->events.emplace_back(Event{kind, element});
    }
    // False, which stops the parse, once the replay has stopped.
    bool next() {
        if (!chunk_->full()) return true;
        chunk_ = pipe_.hand_over(std::move(chunk_));
        return chunk_ != nullptr;
    }

    Pipe& pipe_;
    const SchemaTable& grammar_;
    uint64_t skip_;
    bool located_;
    std::unique_ptr<Chunk> chunk_;
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
// `attributes` is scratch space for a start tag's.
bool deliver(Handler& handler, const SchemaTable& grammar, const Chunk& chunk, const Event& e,
             std::vector<Attribute>& attributes) {
    const ElementRule& rule = grammar.elements[e.element];
    const std::string_view name(rule.name, rule.name_length);
    switch (e.kind) {
    case Event::Kind::start: return handler.start_tag(e.element, name, chunk.attributes_of(e, rule, attributes));
    case Event::Kind::text: return handler.text(e.element, name, std::string_view(e.data, e.size));
    case Event::Kind::end:
    default: return handler.end_tag(e.element, name);
    }
}

// A reading thread and its pipe: however the replay ends, the thread is
// told to stop and is joined before the pipe goes. Throws std::system_error
// when no thread can be started.
class Reading {
public:
    Reading(const SchemaTable& grammar, const Source& source, const Options& options, uint64_t skip, bool located)
        : thread_([this, &grammar, &source, &options, skip, located] {
              Recorder recorder(pipe_, grammar, skip, located);
              Result result;
              std::exception_ptr error;
              try {
                  result = parse_directly(grammar, source, &recorder, options);
              } catch (...) {
                  error = std::current_exception();
              }
              pipe_.finish(recorder.last(), std::move(result), error);
          }) {}
    ~Reading() { stop(); }
    Reading(const Reading&) = delete;
    Reading& operator=(const Reading&) = delete;

    Pipe& pipe() { return pipe_; }
    void stop() {
        if (!thread_.joinable()) return;
        pipe_.stop();
        thread_.join();
    }
    // Once every chunk is taken.
    Result result() {
        if (thread_.joinable()) thread_.join();
        return pipe_.result();
    }

private:
    Pipe pipe_;
    std::thread thread_;
};

// The calling thread's side: the events in order, and where the one being
// delivered was read. Chunks carry no positions until a handler asks for
// one; then the document is read again from its start, with positions, and
// the replay goes on from that reading at the event being delivered.
class Replay final : public Position {
public:
    Replay(const SchemaTable& grammar, const Source& source, const Options& options, AheadWait* wait)
        : grammar_(grammar), source_(source), options_(options), wait_(wait),
          reading_(std::make_unique<Reading>(grammar, source, options, 0, false)) {}

    // The next event, or null after the last.
    const Event* next() {
        stale_.reset();
        if (current_) ++delivered_;
        for (;;) {
            if (chunk_ && at_ < chunk_->events.size()) return current_ = &chunk_->events[at_++];
            if (chunk_) reading_->pipe().give_back(std::move(chunk_));
            chunk_ = reading_->pipe().take(wait_);
            at_ = 0;
            if (!chunk_) return current_ = nullptr;
        }
    }
    const Chunk& chunk() const { return *chunk_; }
    // Events delivered before the current one.
    uint64_t delivered() const { return delivered_; }

    void location(long& line, long& column) const override {
        if (!current_) {  // between the replay's end and the end of the call
            line = column = 0;
            return;
        }
        if (!located_) const_cast<Replay*>(this)->read_located();
        if (current_ == &kUnknown) {
            line = column = 0;
            return;
        }
        const Place& p = chunk_->places[at_ - 1];
        line = p.line;
        column = p.column;
    }

    void stop() { reading_->stop(); }
    Result result() { return reading_->result(); }

private:
    // Called during a handler call: the current chunk stays alive until the
    // call returns, as its views are the call's arguments. Should a second
    // reading not start, or not come as far (a file changed meanwhile), the
    // location is line 0, column 0 and the replay goes on as it was.
    void read_located() {
        std::unique_ptr<Reading> again;
        try {
            again = std::make_unique<Reading>(grammar_, source_, options_, delivered_, true);
        } catch (const std::exception&) {
            current_ = &kUnknown;
            return;
        }
        stale_ = std::move(chunk_);
        reading_->stop();
        reading_ = std::move(again);
        located_ = true;
        chunk_ = reading_->pipe().take(wait_);
        at_ = 1;
        current_ = chunk_ && !chunk_->events.empty() ? &chunk_->events[0] : &kUnknown;
    }

    // The current event while its place is not known.
    static constexpr Event kUnknown{Event::Kind::end, 0};

    const SchemaTable& grammar_;
    const Source& source_;
    const Options& options_;
    AheadWait* wait_;
    std::unique_ptr<Reading> reading_;
    bool located_ = false;  // reading_ takes positions
    std::unique_ptr<Chunk> chunk_, stale_;
    size_t at_ = 0;
    const Event* current_ = nullptr;
    uint64_t delivered_ = 0;
};

}  // namespace

Result parse_ahead(const SchemaTable& grammar, const Source& source, Handler* handler, const Options& options,
                   AheadWait* wait) {
    static const bool one_core = std::thread::hardware_concurrency() < 2;
    if (!handler || source.kind() == Source::Kind::unreadable || one_core)
        return parse_directly(grammar, source, handler, options);
    std::optional<Replay> replay;
    try {
        replay.emplace(grammar, source, options, wait);
    } catch (const std::system_error&) {
        return parse_directly(grammar, source, handler, options);
    }
    PositionScope scope(handler, &*replay);
    std::vector<Attribute> attributes;
    while (const Event* e = replay->next()) {
        if (deliver(*handler, grammar, replay->chunk(), *e, attributes)) continue;
        // The reading thread has gone past this event: the Result is read
        // again, up to it.
        FailAt fail(replay->delivered(), handler->failure());
        replay->stop();
        Waiting waiting(wait);
        return parse_directly(grammar, source, &fail, options);
    }
    return replay->result();
}

}  // namespace tarvo
