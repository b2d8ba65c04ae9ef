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
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace tarvo {

inline constexpr int kDictBuckets = 32;

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

    // Inserts or replaces; returns the stored value. A replaced value keeps
    // its place in the key order.
    V& set(std::string_view key, V value) { return set_in(dict_bucket(key), key, std::move(value)); }

    // As set(), with the bucket already known (precomputed for grammar names).
    V& set_in(uint32_t bucket, std::string_view key, V value) {
        if (Entry* e = find_in(bucket, key)) {
            e->value = std::move(value);
            return e->value;
        }
        Entry& e = append(bucket, key);
        e.value = std::move(value);
        return e.value;
    }

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
        return e;
    }

    const V* get(std::string_view key) const {
        const Entry* e = find_in(dict_bucket(key), key);
        return e ? &e->value : nullptr;
    }
    V* get(std::string_view key) {
        Entry* e = find_in(dict_bucket(key), key);
        return e ? &e->value : nullptr;
    }
    bool has(std::string_view key) const { return get(key) != nullptr; }

    Entry* find_in(uint32_t bucket, std::string_view key) {
        for (int32_t i = head_[bucket]; i >= 0; i = pool_[i].next)
            if (pool_[i].key == key) return &pool_[i];
        return nullptr;
    }
    const Entry* find_in(uint32_t bucket, std::string_view key) const {
        return const_cast<StrDict*>(this)->find_in(bucket, key);
    }

    // Unlinks the entry; the last pool entry moves into its slot.
    void remove(std::string_view key) {
        uint32_t b = dict_bucket(key);
        int32_t prev = -1, i = head_[b];
        while (i >= 0 && pool_[i].key != key) prev = i, i = pool_[i].next;
        if (i < 0) return;
        unlink(b, prev, i);
        int32_t last = static_cast<int32_t>(live_) - 1;
        if (i != last) relocate(last, i);
        --live_;
    }

    // Copies of all keys in key order.
    std::vector<std::string> keys() const {
        std::vector<std::string> out;
        out.reserve(live_);
        for (const Entry& e : *this) out.push_back(e.key);
        return out;
    }

    void clear() {
        live_ = 0;
        reset_buckets();
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
    void reset_buckets() {
        for (int b = 0; b < kDictBuckets; ++b) head_[b] = tail_[b] = -1;
    }
    void unlink(uint32_t b, int32_t prev, int32_t i) {
        int32_t nx = pool_[i].next;
        if (prev < 0)
            head_[b] = nx;
        else
            pool_[prev].next = nx;
        if (tail_[b] == i) tail_[b] = prev;
    }
    // Moves pool entry `from` to the free slot `to`, keeping its place in
    // its chain.
    void relocate(int32_t from, int32_t to) {
        std::swap(pool_[from], pool_[to]);
        uint32_t b = dict_bucket(pool_[to].key);
        if (tail_[b] == from) tail_[b] = to;
        if (head_[b] == from) {
            head_[b] = to;
            return;
        }
        for (int32_t i = head_[b]; i >= 0; i = pool_[i].next)
            if (pool_[i].next == from) {
                pool_[i].next = to;
                return;
            }
    }

    std::vector<Entry> pool_;
    size_t live_ = 0;
    int32_t head_[kDictBuckets];
    int32_t tail_[kDictBuckets];
};

}  // namespace tarvo
