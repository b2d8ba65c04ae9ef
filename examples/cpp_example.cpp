// Prints the elements of a heatmap document with their attributes, then the
// outcome of the parse.
//
//   build/examples/cpp_example examples/heatmap/order_handling_durations.xml
#include <tarvo/tarvo.h>

#include <cstdio>
#include <span>
#include <string_view>

namespace {

struct Printer : tarvo::Handler {
    int depth = 0;
    bool start_tag(int, std::string_view name, std::span<const tarvo::Attribute> attributes) override {
        std::printf("%*s%.*s", 2 * depth++, "", static_cast<int>(name.size()), name.data());
        for (const tarvo::Attribute& a : attributes)
            std::printf(" %.*s=\"%.*s\"", static_cast<int>(a.name.size()), a.name.data(),
                        static_cast<int>(a.value.size()), a.value.data());
        std::printf("\n");
        return true;
    }
    bool end_tag(int, std::string_view) override { return --depth, true; }
};

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s HEATMAP.xml\n", argv[0]);
        return 2;
    }
    Printer printer;
    tarvo::Result r = tarvo::parse_file(*tarvo::find_grammar("heatmap"), argv[1], &printer, tarvo::Flags::strict);
    if (!r.warnings().empty())
        std::printf("warnings:\n%.*s\n", static_cast<int>(r.warnings().size()), r.warnings().data());
    if (!r.ok()) {
        std::fprintf(stderr, "invalid:\n%.*s\n", static_cast<int>(r.errors().size()), r.errors().data());
        return 1;
    }
    std::printf("valid (tarvo %s)\n", tarvo::version());
    return 0;
}
