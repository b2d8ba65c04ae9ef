// String-keyed dictionary with 32 fixed buckets.
//
// Its key order is observable: attributes are checked, reported and handed
// to callers bucket by bucket, in insertion order within a bucket. The hash
// is the sum of the key's bytes after the first, each read as a signed
// 8-bit value. A negative sum is mapped to its non-negative remainder
// modulo 32 (hash & 31), so every key lands in a bucket.
//
// Entries live in one pool that is reused after clear(), so a dictionary
// that is filled and cleared for every tag stops allocating once it has
// seen its largest tag (keys and values keep their string capacity).
//
// The buckets only give the order. Names that share a bucket are trivial to
// write, so beyond a few entries lookups go through a separate open-
// addressing index keyed by a keyed hash of the whole name (SipHash-1-3
// with a per-process random key): a start tag with a million attributes is
// read in linear time whatever their names.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace tarvo {

inline constexpr int kDictBuckets = 32;

// SipHash-1-3 of `key` under a random key drawn once per process.
uint64_t keyed_hash(std::string_view key);

constexpr uint32_t dict_bucket(std::string_view key) {
    int32_t h = 0;
    for (size_t i = 1; i < key.size(); ++i) h += static_cast<int8_t>(key[i]);
    return static_cast<uint32_t>(h) & (kDictBuckets - 1);
}

template <class V>
class StrDict {
public:
    struct Entry {
        std::string key;
        V value{};
        int32_t next = -1;  // next entry of the same bucket
    };

    StrDict() { reset_buckets(); }

    int32_t count() const { return static_cast<int32_t>(live_); }
    bool is_empty() const { return live_ == 0; }

    // Appends a new entry for a key the caller knows to be absent and returns
    // it for filling in place (the reader's way of avoiding copies).
    Entry& append(uint32_t bucket, std::string_view key) {
        if (live_ == pool_.size()) pool_.emplace_back();
        int32_t idx = static_cast<int32_t>(live_++);
        Entry& e = pool_[idx];
        e.key.assign(key.data(), key.size());
        e.next = -1;
        if (tail_[bucket] < 0)
            head_[bucket] = idx;
        else
            pool_[tail_[bucket]].next = idx;
        tail_[bucket] = idx;
        if (indexed_)
            index_insert(idx);
        else if (live_ > kIndexFrom)
            build_index();
        return pool_[idx];
    }

    const V* get(std::string_view key) const {
        const Entry* e = find_in(dict_bucket(key), key);
        return e ? &e->value : nullptr;
    }
    V* get(std::string_view key) {
        Entry* e = find_in(dict_bucket(key), key);
        return e ? &e->value : nullptr;
    }

    Entry* find_in(uint32_t bucket, std::string_view key) {
        if (indexed_) return index_find(key);
        for (int32_t i = head_[bucket]; i >= 0; i = pool_[i].next)
            if (pool_[i].key == key) return &pool_[i];
        return nullptr;
    }
    const Entry* find_in(uint32_t bucket, std::string_view key) const {
        return const_cast<StrDict*>(this)->find_in(bucket, key);
    }

    void clear() {
        live_ = 0;
        reset_buckets();
        if (indexed_) drop_index();
    }

    // Iteration in key order.
    template <bool Const>
    class basic_iterator {
        using Dict = std::conditional_t<Const, const StrDict, StrDict>;
        using Ref = std::conditional_t<Const, const Entry&, Entry&>;

    public:
        basic_iterator(Dict* d, int bucket, int32_t idx) : d_(d), bucket_(bucket), idx_(idx) { settle(); }
        Ref operator*() const { return d_->pool_[idx_]; }
        auto* operator->() const { return &d_->pool_[idx_]; }
        basic_iterator& operator++() {
            idx_ = d_->pool_[idx_].next;
            settle();
            return *this;
        }
        bool operator==(const basic_iterator& o) const { return idx_ == o.idx_ && bucket_ == o.bucket_; }

    private:
        void settle() {
            while (idx_ < 0 && ++bucket_ < kDictBuckets) idx_ = d_->head_[bucket_];
            if (idx_ < 0) bucket_ = kDictBuckets;
        }
        Dict* d_;
        int bucket_;
        int32_t idx_;
    };
    using iterator = basic_iterator<false>;
    using const_iterator = basic_iterator<true>;

    iterator begin() { return iterator(this, 0, head_[0]); }
    iterator end() { return iterator(this, kDictBuckets, -1); }
    const_iterator begin() const { return const_iterator(this, 0, head_[0]); }
    const_iterator end() const { return const_iterator(this, kDictBuckets, -1); }

private:
    // Up to this many entries a bucket chain is searched directly.
    static constexpr size_t kIndexFrom = 16;

    // An index slot is in use when its generation is the current one, so
    // dropping the index is O(1) and a table sized by a large tag costs a
    // small tag nothing.
    struct Slot {
        uint32_t generation = 0;
        uint32_t check = 0;  // high bits of the hash, compared before the key
        int32_t entry = -1;
    };

    void drop_index() {
        indexed_ = false;
        if (++generation_ == 0) {  // wrapped: no old slot may look current
            for (Slot& s : slots_) s.generation = 0;
            generation_ = 1;
        }
    }

    void build_index() {
        size_t size = slots_.size() < 64 ? 64 : slots_.size();
        while (size < 2 * live_) size *= 2;
        if (size != slots_.size()) {
            slots_.assign(size, Slot{});
            generation_ = 1;
        } else if (indexed_) {
            drop_index();
        }
        indexed_ = true;
        for (size_t i = 0; i < live_; ++i) place(static_cast<int32_t>(i), keyed_hash(pool_[i].key));
    }

    void index_insert(int32_t idx) {
        if (2 * live_ > slots_.size()) {
            build_index();  // grows and places every entry, this one included
            return;
        }
        place(idx, keyed_hash(pool_[idx].key));
    }

    void place(int32_t idx, uint64_t h) {
        size_t mask = slots_.size() - 1;
        size_t i = static_cast<size_t>(h) & mask;
        while (slots_[i].generation == generation_) i = (i + 1) & mask;
        slots_[i] = Slot{generation_, static_cast<uint32_t>(h >> 32), idx};
    }

    Entry* index_find(std::string_view key) {
        uint64_t h = keyed_hash(key);
        size_t mask = slots_.size() - 1;
        uint32_t check = static_cast<uint32_t>(h >> 32);
        for (size_t i = static_cast<size_t>(h) & mask; slots_[i].generation == generation_; i = (i + 1) & mask) {
            const Slot& s = slots_[i];
            if (s.check == check && pool_[s.entry].key == key) return &pool_[s.entry];
        }
        return nullptr;
    }

    void reset_buckets() {
        for (int b = 0; b < kDictBuckets; ++b) head_[b] = tail_[b] = -1;
    }
    std::vector<Entry> pool_;
    size_t live_ = 0;
    int32_t head_[kDictBuckets];
    int32_t tail_[kDictBuckets];
    std::vector<Slot> slots_;  // power-of-two size, at most half in use
    uint32_t generation_ = 1;
    bool indexed_ = false;
};

}  // namespace tarvo
