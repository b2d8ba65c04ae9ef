#include "containers/str_dict.h"

#include "containers/sip_hash.h"

namespace tarvo {

// Under a key drawn once per process, so no one can prepare names that collide.
uint64_t keyed_hash(std::string_view key) {
    static const HashKey k = process_hash_key();
    return sip_hash13(k, key);
}

}  // namespace tarvo
