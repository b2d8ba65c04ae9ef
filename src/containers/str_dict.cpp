#include "containers/str_dict.h"

#include <chrono>
#include <random>

namespace tarvo {

namespace {

constexpr uint64_t rotl(uint64_t x, int b) { return (x << b) | (x >> (64 - b)); }

struct SipKey {
    uint64_t k0, k1;
};

// Drawn once per process, so no one can prepare names that collide.
SipKey make_key() {
    uint64_t k0 = 0, k1 = 0;
    try {
        std::random_device rd;
        k0 = (uint64_t{rd()} << 32) ^ rd();
        k1 = (uint64_t{rd()} << 32) ^ rd();
    } catch (...) {
    }
    // Mixed in all the same, in case the device gave nothing.
    k0 ^= static_cast<uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
    k1 ^= reinterpret_cast<uintptr_t>(&k0);
    return {k0, k1};
}

struct SipState {
    uint64_t v0, v1, v2, v3;
    void round() {
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
    void absorb(uint64_t m) {
        v3 ^= m;
        round();
        v0 ^= m;
    }
};

}  // namespace

uint64_t keyed_hash(std::string_view key) {
    static const SipKey k = make_key();
    SipState s{k.k0 ^ 0x736f6d6570736575ULL, k.k1 ^ 0x646f72616e646f6dULL, k.k0 ^ 0x6c7967656e657261ULL,
               k.k1 ^ 0x7465646279746573ULL};
    const unsigned char* p = reinterpret_cast<const unsigned char*>(key.data());
    size_t n = key.size();
    for (; n >= 8; n -= 8, p += 8) {
        uint64_t m = 0;
        for (int i = 0; i < 8; ++i) m |= uint64_t{p[i]} << (8 * i);
        s.absorb(m);
    }
    uint64_t last = static_cast<uint64_t>(key.size()) << 56;
    for (size_t i = 0; i < n; ++i) last |= uint64_t{p[i]} << (8 * i);
    s.absorb(last);
    s.v2 ^= 0xff;
    for (int i = 0; i < 3; ++i) s.round();
    return s.v0 ^ s.v1 ^ s.v2 ^ s.v3;
}

}  // namespace tarvo
