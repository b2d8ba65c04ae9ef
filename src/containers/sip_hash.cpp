#include "containers/sip_hash.h"

#include <atomic>
#include <chrono>
#include <random>

namespace tarvo {

HashKey random_hash_key() {
    uint64_t k0 = 0, k1 = 0;
    try {
        std::random_device rd;
        k0 = (uint64_t{rd()} << 32) ^ rd();
        k1 = (uint64_t{rd()} << 32) ^ rd();
    } catch (...) {
    }
    // Mixed in all the same, in case the device gave nothing; the counter
    // keeps two keys drawn at the same tick apart.
    static std::atomic<uint64_t> drawn{0};
    k0 ^= static_cast<uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
    k1 ^= reinterpret_cast<uintptr_t>(&k0) + 0x9E3779B97F4A7C15ULL * ++drawn;
    return {k0, k1};
}

const HashKey& process_hash_key() {
    static const HashKey key = random_hash_key();
    return key;
}

}  // namespace tarvo
