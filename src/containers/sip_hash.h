// SipHash-1-3: a hash of every byte of a string under a 128-bit key. Whoever
// chooses the strings without knowing the key cannot make them collide, so
// tables that hold names from untrusted input hash them with it.
#pragma once

#include <cstdint>
#include <string_view>

namespace tarvo {

struct HashKey {
    uint64_t k0, k1;
};

namespace detail {
constexpr uint64_t rotl(uint64_t x, int b) { return (x << b) | (x >> (64 - b)); }

struct SipState {
    uint64_t v0, v1, v2, v3;
    constexpr void round() {
        v0 += v1;
        v1 = rotl(v1, 13);
        v1 ^= v0;
        v0 = rotl(v0, 32);
        v2 += v3;
        v3 = rotl(v3, 16);
        v3 ^= v2;
        v0 += v3;
        v3 = rotl(v3, 21);
        v3 ^= v0;
        v2 += v1;
        v1 = rotl(v1, 17);
        v1 ^= v2;
        v2 = rotl(v2, 32);
    }
    constexpr void absorb(uint64_t m) {
        v3 ^= m;
        round();
        v0 ^= m;
    }
};
}  // namespace detail

constexpr uint64_t sip_hash13(const HashKey& k, std::string_view data) {
    detail::SipState s{k.k0 ^ 0x736f6d6570736575ULL, k.k1 ^ 0x646f72616e646f6dULL, k.k0 ^ 0x6c7967656e657261ULL,
                       k.k1 ^ 0x7465646279746573ULL};
    const auto byte = [&](size_t i) { return uint64_t{static_cast<unsigned char>(data[i])}; };
    size_t at = 0;
    for (; data.size() - at >= 8; at += 8) {
        uint64_t m = 0;
        for (int i = 0; i < 8; ++i) m |= byte(at + i) << (8 * i);
        s.absorb(m);
    }
    uint64_t last = static_cast<uint64_t>(data.size()) << 56;
    for (size_t i = 0; at + i < data.size(); ++i) last |= byte(at + i) << (8 * i);
    s.absorb(last);
    s.v2 ^= 0xff;
    for (int i = 0; i < 3; ++i) s.round();
    return s.v0 ^ s.v1 ^ s.v2 ^ s.v3;
}

// A key drawn once per process from the system's random source (mixed with
// the clock in case that gives nothing).
const HashKey& process_hash_key();

// A fresh key from the same sources, for a table of its own.
HashKey random_hash_key();

}  // namespace tarvo
