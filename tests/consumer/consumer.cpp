// Counts the elements of a heatmap document. Written in C++17: the C++20
// the library's header needs must come from tarvo::tarvo's requirements.
#include <tarvo/tarvo.h>

#include <cstdio>

struct Counter : tarvo::Handler {
    int elements = 0;
    bool end_tag(int, std::string_view) override {
        ++elements;
        return true;
    }
};

int main(int argc, char** argv) {
    if (argc != 2) return 2;
    const tarvo::SchemaTable* grammar = tarvo::find_grammar("heatmap");
    if (!grammar) return 2;
    Counter counter;
    tarvo::Result r = tarvo::parse_file(*grammar, argv[1], &counter, tarvo::Flags::strict);
    std::printf("tarvo %s: %s, %d elements, C++ %ld\n", tarvo::version(), r.ok() ? "valid" : "invalid",
                counter.elements, static_cast<long>(__cplusplus));
    return r.ok() ? 0 : 1;
}
