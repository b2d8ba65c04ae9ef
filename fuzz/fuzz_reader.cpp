// libFuzzer target: any bytes, as a document file and as a stream of
// documents, against every grammar and flag combination chosen by the
// first byte. The reader must never crash, hang or read out of bounds.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <string>

#include "tarvo/tarvo.h"

namespace {

struct Everything : tarvo::Handler {
    size_t seen = 0;
    void start_tag(int, std::string_view name, std::span<const tarvo::Attribute> attrs) override {
        seen += name.size();
        for (const tarvo::Attribute& a : attrs) seen += a.name.size() + a.value.size();
    }
    void text(int, std::string_view, std::string_view text) override { seen += text.size(); }
    void end_tag(int, std::string_view name) override { seen += name.size(); }
};

std::string temp_path() {
    char path[] = "/tmp/tarvo-fuzz-XXXXXX";
    int fd = mkstemp(path);
    if (fd >= 0) close(fd);
    return path;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    auto all = tarvo::grammars();
    const tarvo::SchemaTable& grammar = *all[data[0] % all.size()];
    int flags = (data[0] >> 4) & 7;
    std::string doc(reinterpret_cast<const char*>(data + 1), size - 1);

    static const std::string path = temp_path();
    if (std::FILE* f = std::fopen(path.c_str(), "wb")) {
        std::fwrite(doc.data(), 1, doc.size(), f);
        std::fclose(f);
        Everything h;
        tarvo::parse_file(grammar, path.c_str(), &h, flags);
    }

    size_t pos = 0;
    tarvo::StreamReader reader([&](char* buf, size_t cap) {
        size_t n = std::min(cap, std::min<size_t>(doc.size() - pos, 1 + (pos % 5)));
        doc.copy(buf, n, pos);
        pos += n;
        return n;
    });
    Everything h;
    reader.read(grammar, &h, flags, true);
    return 0;
}
