// The grammar checks on the built-in tables: the content model called
// directly, its refusals worded as the parse loop words them; attributes
// through one start tag, as the loop judges and reports them.
#include <gtest/gtest.h>

#include <algorithm>
#include <numeric>
#include <optional>
#include <random>
#include <sstream>

#include "check/content_model.h"
#include "diag/messages.h"
#include "tarvo/grammar.h"
#include "test_support.h"

namespace tarvo {
namespace {

using namespace testing;

// Runs every case: `run` gives the result and the messages.
template <class Case, size_t N>
void run_table(const Case (&cases)[N]) {
    for (const Case& c : cases) {
        SCOPED_TRACE(label(c));
        S errors, warnings;
        EXPECT_EQ(run(c, errors, warnings), c.result);
        EXPECT_EQ(errors, c.errors);
        EXPECT_EQ(warnings, c.warnings);
    }
}

enum Check { Start, Text, End };

// `name` of a start or end tag; `open` and `previous` written as the grammar files write positions, "" for none;
// `result` the position taken by a start tag or text, "" when refused, and "true" or "" for an end tag.
struct ModelCase {
    const char* grammar;
    Check check;
    const char *name, *open, *previous;
    S result, errors = "", warnings = "";
};

// dictionary: source (first TEXT/0; row 0 target/0), translation (source/0; END translation/0),
// target (TEXT/0; END), dictionary (END translation/0; empty row 0); its text row 0 is END.
const ModelCase kModelCases[] = {
    {"dictionary", Start, "Dictionary", "", "", "", unknown("Dictionary")},
    {"dictionary", Start, "target", "translation/0", "", "", first_child("translation")},
    {"dictionary", Start, "target", "translation/0", "target/0", "", successor("target", 0)},
    {"dictionary", Start, "target", "source/0", "TEXT/0", "", within_text(0)},
    {"dictionary", Text, "", "translation/0", "source/0", "", successor("source", 0)},
    {"dictionary", Text, "", "source/0", "TEXT/0", "", within_text(0)},
    {"dictionary", End, "source", "translation/0", "", "", "Close tag for 'source' does not match opened element "
                                                           "('translation')"},
    {"dictionary", End, "translation", "translation/0", "", "", missing_first("translation")},
    {"dictionary", End, "translation", "translation/0", "source/0", "", missing_successor("source", 0)},
    {"heatmap", End, "Heatmap", "Heatmap/0", "Heatmap/0", "true"},  // an empty list accepts the end
    {"lumoCodeCoverage", Start, "CoveringTestcase", "CodeCoverageResultNode/1", "CodeCoverageResultNode/1", "",
     successor("CodeCoverageResultNode", 1)},
    {"PrintLanguage", Start, "line", "text/0", "TEXT/1", "", within_text(1)},  // contexts other than 0
    {"PrintLanguage", Text, "", "text/0", "TEXT/1", "TEXT/1"},
};

S run(const ModelCase& c, S& errors, S&) {
    const SchemaTable& t = grammar(c.grammar);
    std::optional<ContentPosition> open, previous;  // "Name/c" or "TEXT/c"
    for (auto [text, pos] : {std::pair{S(c.open), &open}, {S(c.previous), &previous}}) {
        size_t slash = text.find('/');
        if (!text.empty()) *pos = {text.starts_with("TEXT") ? POSITION_TEXT : find_element(t, text.substr(0, slash)),
                                   std::stoi(text.substr(slash + 1))};
    }
    const ContentPosition* o = open ? &*open : nullptr;
    const ContentPosition* p = previous ? &*previous : nullptr;
    ContentRefusal refusal;
    auto refused = [&] {
        StrBuf text;
        word_refusal(t, refusal, text);
        errors = text.str();
        return "";
    };
    if (c.check == End) return accept_end_tag(t, c.name, o, p, refusal) ? "true" : refused();
    const ContentPosition* got =
        c.check == Start ? accept_start_tag(t, c.name, o, p, refusal) : accept_text(t, o, p, refusal);
    if (!got) return refused();
    S name = got->element == POSITION_TEXT ? "TEXT" : S(element_name(t, got->element));
    return name + "/" + std::to_string(got->context);
}

S label(const ModelCase& c) {
    return S(c.grammar) + " " + "STE"[c.check] + " '" + c.name + "' open=" + c.open + " prev=" + c.previous;
}

TEST(ContentModel, EveryCheckAndMessage) { run_table(kModelCases); }

// `given`: "name=value|name=value" in the order given; `result`: the attributes as delivered, "name=value ...",
// "" when refused; `errors`: the refusal, which the reader's own line follows.
struct AttrCase { const char *grammar, *element; S given; int flags; S result, warnings = "", errors = ""; };

const S kColorDefaults = "init_alpha=0.75 gradient_color_space=HSVs min_color=#00FF00 max_color=#FF0000";
const S kColorsGivenSpace = "gradient_color_space=HSVs init_alpha=0.75 min_color=#00FF00 max_color=#FF0000";

const AttrCase kAttrCases[] = {
    {"heatmap", "Colors", "", 0, kColorDefaults},
    {"heatmap", "Element", "value=v|id=i|model_file=m", 0, "model_file=m id=i value=v label="},
    // Same bucket: a given attribute stays ahead of a default added later.
    {"heatmap", "Colors", "max_color=#000000|gradient_color_space=RGB", 0,
     "gradient_color_space=RGB init_alpha=0.75 min_color=#00FF00 max_color=#000000"},
    {"heatmap", "Colors", "gradient_color_space=hsvs", 2 | 4 | 8, "", "", invalid("hsvs", "gradient_color_space")},
    // A replaced value keeps its place, ahead of init_alpha in the same bucket.
    {"heatmap", "Colors", "gradient_color_space=hsvs", 1, kColorsGivenSpace, replaced("hsvs", "gradient_color_space")},
    {"heatmap", "Element", "model_file=m", 3, "", "", mandatory("id")},
    // Undeclared attributes in key order (bucket, then insertion); the first one refused.
    {"heatmap", "Colors", "zz=1|ab=2|ba=3", 0, "", "", unknown_attribute("ba")},
    {"heatmap", "Colors", "zz=1|ab=2|ba=3", 2, "ba=3 ab=2 " + kColorDefaults + " zz=1",
     unknown_attribute("ba") + "\n" + unknown_attribute("ab") + "\n" + unknown_attribute("zz")},
    // The first pass runs to its end before the second starts.
    {"heatmap", "Colors", "ab=1|gradient_color_space=cmyk", 3, "ab=1 " + kColorsGivenSpace,
     replaced("cmyk", "gradient_color_space") + "\n" + unknown_attribute("ab")},
    {"heatmap", "Colors", "ab=1|gradient_color_space=cmyk", 2, "", "", invalid("cmyk", "gradient_color_space")},
    {"heatmap", "Element", "ab=1|model_file=m", 2, "", "", mandatory("id")},
    // Rules in stored order: a missing mandatory attribute before a later wrong value.
    {"bpmn_project", "ElementNode", "type=x", 0, "", "", mandatory("file_name")},
    // No default: a wrong value fails whatever the flags.
    {"bpmn_project", "ElementNode", "file_name=a|type=BPMN_MODEL", 1, "", "", invalid("BPMN_MODEL", "type")},
};

// The delivered attributes, each with the rule index it was given checked
// against the element's rules.
struct Delivered : Handler {
    const ElementRule* rule = nullptr;
    S out;
    bool start_tag(int, std::string_view, std::span<const Attribute> attributes) override {
        if (!out.empty()) return true;  // the first tag only
        for (const Attribute& a : attributes) {
            if (a.rule != find_attribute_rule(*rule, a.name)) out.append("wrong rule for ").append(a.name).append(" ");
            out.append(out.empty() ? "" : " ").append(a.name).append("=").append(a.value);
        }
        return true;
    }
};

S run(const AttrCase& c, S& errors, S& warnings) {
    const SchemaTable& t = grammar(c.grammar);
    S tag = "<";
    tag += c.element;
    std::istringstream in(c.given);
    for (S item; std::getline(in, item, '|');) {
        const size_t eq = item.find('=');
        tag.append(" ").append(item, 0, eq).append("=\"").append(item, eq + 1).append("\"");
    }
    Delivered d;
    d.rule = &t.elements[find_element(t, c.element)];
    // Any declared element may stand as the root.
    Result r = parse_buffer(t, "<?xml version=\"1.0\"?>" + tag + "/>", "doc.xml", &d, Flags(c.flags));
    warnings = r.warnings();
    errors = r.errors();
    S follow = "\n";
    follow += in_attributes("", c.element, 1).substr(1);  // the reader's own line after the refusal
    if (errors.ends_with(follow)) errors.resize(errors.size() - follow.size());
    return r.ok() ? d.out : "";
}

S label(const AttrCase& c) { return S(c.grammar) + " <" + c.element + " " + c.given + "> " + std::to_string(c.flags); }

TEST(CheckAttributes, EveryMessageAndDefault) { run_table(kAttrCases); }

// Many tags of `element` in one document (`before`, then each tag closed
// by `close`, then `after`), each giving a random subset of its attributes
// in a random order (some twice, some wrong values that the flags replace
// by the default): each delivery equals the documented order, worked out
// here from the rules alone, whatever the tags before it gave. The first
// `skip` deliveries of the element (tags in `before`) are not compared.
void expect_documented_order(const SchemaTable& t, const char* element, S doc, const S& close, const S& after,
                             size_t skip) {
    const ElementRule& rule = t.elements[find_element(t, element)];
    std::mt19937 random(7);
    auto pick = [&](size_t n) { return static_cast<size_t>(random() % n); };
    std::vector<S> expected;
    for (int tag = 0; tag < 300; ++tag) {
        struct Given { int32_t rule; int32_t place; S value; };
        std::vector<Given> given;
        std::vector<int32_t> rules(static_cast<size_t>(rule.attribute_count));
        std::iota(rules.begin(), rules.end(), 0);
        std::shuffle(rules.begin(), rules.end(), random);
        S text = S("<") + element;
        for (int32_t i : rules) {
            const AttributeRule& r = rule.attributes[i];
            if (r.default_value && pick(3) == 0) continue;  // left out: its default
            given.push_back({i, static_cast<int32_t>(given.size()), ""});
            for (int times = pick(6) == 0 ? 2 : 1; times > 0; --times) {  // a name given again keeps its place
                const bool wrong = r.allowed_count && r.default_value && pick(8) == 0;
                S value = r.allowed_count ? S(r.allowed[pick(static_cast<size_t>(r.allowed_count))])
                                          : "v" + std::to_string(pick(99));
                text += " " + S(r.name, r.name_length) + "=\"" + (wrong ? "wrong" : value) + "\"";
                given.back().value = wrong ? S(r.default_value, r.default_length) : value;
            }
        }
        doc += text + close;
        struct Key { uint32_t bucket; bool defaulted; int32_t place; S item; };
        std::vector<Key> keys;
        for (int32_t i = 0; i < rule.attribute_count; ++i) {
            const AttributeRule& r = rule.attributes[i];
            auto g = std::find_if(given.begin(), given.end(), [i](const Given& x) { return x.rule == i; });
            const bool defaulted = g == given.end();
            const S value = defaulted ? S(r.default_value, r.default_length) : g->value;
            keys.push_back({r.bucket, defaulted, defaulted ? i : g->place, S(r.name, r.name_length) + "=" + value});
        }
        std::sort(keys.begin(), keys.end(), [](const Key& a, const Key& b) {
            return std::tie(a.bucket, a.defaulted, a.place) < std::tie(b.bucket, b.defaulted, b.place);
        });
        S line;
        for (const Key& k : keys) line += (line.empty() ? "" : " ") + k.item;
        expected.push_back(line);
    }
    Recorder each;
    const Result r = parse_buffer(t, doc + after, "doc.xml", &each, Flags::ignore_wrong_attributes);
    ASSERT_EQ(r.status, Status::ok) << r.errors();
    const S start = "start " + S(element) + " ";
    std::erase_if(each.events, [&](const S& e) { return !e.starts_with(start); });
    ASSERT_EQ(each.events.size(), expected.size() + skip);
    for (size_t k = 0; k < expected.size(); ++k) EXPECT_EQ(each.events[k + skip], start + expected[k]) << "tag " << k;
}

TEST(CheckAttributes, DeliveryOrderTagAfterTag) {
    // Fourteen attributes, a few of them sharing a bucket.
    expect_documented_order(grammar("lumoDiagram"), "Symbol",
                            "<?xml version=\"1.0\"?><Diagram type=\"usec\"><Symbol symbolId=\"s\" xCenter=\"x\" "
                            "yCenter=\"y\" type=\"umlNode\"><Text/>",
                            "><Text/></Symbol>", "</Symbol></Diagram>", 1);
    // Forty names in one bucket (their bytes after the first add up to the
    // same), beside a few in others.
    S text = "grammar buckets\nsource none\nelement 0 R\n  first W/0\n  row 0 (none)\n"
             "element 1 W\n  first END\n  row 0 END W/0\n  attr must required\n  attr kind default \"a\" values \"a\" \"b\"\n";
    int shared = 0;
    for (char x = 'a'; x <= 'z' && shared < 40; ++x)
        for (char y = 'a'; y <= 'z' && shared < 40; ++y)
            if (char z = static_cast<char>(320 - x - y); z >= 'a' && z <= 'z') {
                text += "  attr w" + S{x, y, z} + (shared % 5 ? " default \"\"\n" : " required\n");
                ++shared;
            }
    TempFile file(text, "buckets.grammar");
    const std::shared_ptr<const SchemaTable> g = load_grammar(file.path());
    expect_documented_order(*g, "W", "<?xml version=\"1.0\"?><R>", "/>", "</R>", 0);
}

}  // namespace
}  // namespace tarvo
