// The index lookups a host builds its per-grammar data from, against the
// description of the same grammar.
#include <gtest/gtest.h>

#include "test_support.h"

namespace tarvo {
namespace {

using namespace testing;

TEST(Lookup, NamesAttributeDeclarationsAndElementIndices) {
    const SchemaTable& g = grammar("heatmap");
    ASSERT_GE(element_count(g), 3);
    S seen;
    for (int e = 0; e < element_count(g); ++e) {
        EXPECT_EQ(element_index(g, element_name(g, e)), e);
        seen.append(element_name(g, e)).append(":");
        for (int a = 0; a < attribute_count(g, e); ++a) {
            const AttributeDeclaration d = attribute_declaration(g, e, a);
            seen.append(" ").append(d.name).append(d.required ? "!" : "=").append(d.default_value);
        }
        seen += "\n";
    }
    // As grammar_info() describes them; "" is a default, not its absence.
    const GrammarInfo info = grammar_info(g);
    S described;
    for (const ElementInfo& e : info.elements) {
        described.append(e.name).append(":");
        for (const AttributeInfo& a : e.attributes)
            described.append(" ").append(a.name).append(a.required ? "!" : "=").append(a.default_value);
        described += "\n";
    }
    EXPECT_EQ(seen, described);
    EXPECT_NE(seen.find(" title=\n"), S::npos);
    EXPECT_NE(seen.find(" model_file!"), S::npos);
    for (const S& name : {S("heatmap"), S("Heatmap "), S("Heat"), S(""), S("Heatmap\0", 8), S("*")})
        EXPECT_EQ(element_index(g, name), -1) << name;
}

}  // namespace
}  // namespace tarvo
