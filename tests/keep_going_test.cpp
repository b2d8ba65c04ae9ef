// Keep-going validation (Options::max_errors): after each validity error
// the parse goes on as the matching tolerance would, and reports every
// problem once, in document order, up to the limit.
#include <gtest/gtest.h>

#include "test_support.h"

namespace tarvo {
namespace {

using namespace testing;

void register_recipe() {
    static const auto& g = register_grammar(load_grammar(S(TARVO_SOURCE_DIR) + "/examples/recipe/recipe.grammar"));
    (void)g;
}

const S kIngredient = "<ingredient amount=\"1\">flour</ingredient>";
const Lines kIngredientEvents = {"start ingredient unit=piece amount=1", "text ingredient |flour|", "end ingredient"};

// A kind of mistake: what stands in a recipe where an ingredient would, the
// records of the problem (its cause, then the reader's line about the
// element), and the events the parse goes on with in its place.
struct Mistake {
    const char* what;
    S unit;
    Lines records;
    Lines events;
    int later = 0;  // lines past the mistake's where the reader stands when it is found
};

const Mistake kMistakes[] = {
    {"wrong value: the default", "<ingredient amount=\"1\" unit=\"kg\">flour</ingredient>",
     {"E wrong_attribute_value", "E wrong_attribute_value"}, kIngredientEvents},
    {"undeclared attribute: dropped", "<ingredient bogus=\"x\" amount=\"1\">flour</ingredient>",
     {"E unknown_attribute", "E unknown_attribute"}, kIngredientEvents},
    {"missing attribute: left out", "<ingredient>flour</ingredient>", {"E missing_attribute", "E missing_attribute"},
     {"start ingredient unit=piece", "text ingredient |flour|", "end ingredient"}},
    {"unknown element: skipped whole", kIngredient + "<nope a=\"1\"><step/>text</nope>",
     {"E unknown_element", "E unknown_element"}, kIngredientEvents},
    {"misplaced element: skipped whole", kIngredient + "<title>late</title>",
     {"E misplaced_element", "E misplaced_element"}, kIngredientEvents},
    {"text where none may stand: skipped", kIngredient + "some text", {"E text_not_allowed", "E text_not_allowed"},
     kIngredientEvents, 1},  // found at the next '<', on the next line
};

S recipe(const S& body) { return xml("<recipe><title>T</title>" + body + "\n<step>s</step></recipe>"); }

// The records without their places, which differ from copy to copy.
Lines kinds(const Result& r) {
    Lines out;
    for (const Diagnostic& d : r.diagnostics())
        out.push_back(S(d.severity == Severity::error ? "E " : "W ") + S(kind_name(d.kind)));
    return out;
}

TEST(KeepGoing, EveryMistakeOnceInDocumentOrder) {
    register_recipe();
    for (const Mistake& m : kMistakes) {
        for (int copies : {1, 2, 50}) {
            SCOPED_TRACE(S(m.what) + ", " + std::to_string(copies) + " copies");
            S body;
            Lines records, events = {"start recipe serves=2 course=main", "start title", "text title |T|", "end title"};
            for (int i = 0; i < copies; ++i) {
                body += "\n" + m.unit;
                records.insert(records.end(), m.records.begin(), m.records.end());
                events.insert(events.end(), m.events.begin(), m.events.end());
            }
            events.insert(events.end(), {"start step", "text step |s|", "end step", "end recipe"});
            for (unsigned limit : {0u, 100u}) {
                Recorder h;
                Result r = parse_buffer(grammar("recipe"), recipe(body), "doc.xml", &h, Options{.max_errors = limit});
                EXPECT_EQ(r.status, Status::invalid);
                EXPECT_EQ(kinds(r), records);
                EXPECT_EQ(h.events, events);
                // The reader's lines name each copy's line, in order: 3, 4, ...
                size_t line = 3 + static_cast<size_t>(m.later);
                for (const Diagnostic& d : r.diagnostics()) {
                    if (d.message.starts_with("File")) {
                        EXPECT_TRUE(d.message.starts_with("File doc.xml, line " + std::to_string(line++) + ":"))
                            << d.message;
                    }
                }
            }
            // With a limit the parse ends at the limit's error, as the default ends at the first.
            Result first = parse_buffer(grammar("recipe"), recipe(body), "doc.xml", nullptr, Options{.max_errors = 1});
            EXPECT_EQ(first.errors(), parse_buffer(grammar("recipe"), recipe(body), "doc.xml", nullptr).errors());
            EXPECT_EQ(kinds(first), m.records);
            if (copies > 2) {
                const Options two{.max_errors = 2};
                EXPECT_EQ(kinds(parse_buffer(grammar("recipe"), recipe(body), "doc.xml", nullptr, two)).size(), 4u);
            }
        }
    }
}

const Options kNoLimit{.max_errors = 0};

TEST(KeepGoing, AnElementThatMayNotCloseYetClosesAnyway) {
    Recorder h;
    Result r = parse_buffer(grammar("dictionary"),
                            xml("<dictionary><translation></translation><translation><source>a</source></translation>"
                                "</dictionary>"),
                            "doc.xml", &h, kNoLimit);
    EXPECT_EQ(r.errors(), closing(missing_first("translation"), "translation") + "\n" +
                              closing(missing_successor("source", 0), "translation"));
    EXPECT_EQ(h.events, (Lines{"start dictionary", "start translation", "end translation", "start translation",
                               "start source", "text source |a|", "end source", "end translation", "end dictionary"}));
}

S heatmap(const S& body) { return xml("<Heatmap>" + body + "</Heatmap>"); }

TEST(KeepGoing, ASyntaxErrorStillEndsTheDocument) {
    Result r = parse_buffer(grammar("heatmap"), heatmap("<Nope/><Colors x/><Nope/>"), "doc.xml", nullptr, kNoLimit);
    EXPECT_EQ(r.errors(), opening(unknown("Nope"), "Nope") + "\n" +
                              in_attributes(at(2, "found '/' where '=' expected"), "Colors"));
    // A close tag that names another element is one too.
    r = parse_buffer(grammar("heatmap"), heatmap("<Colors></Element><Nope/>"), "doc.xml", nullptr, kNoLimit);
    EXPECT_EQ(kinds(r), (Lines{"E syntax", "E syntax"}));
}

}  // namespace
}  // namespace tarvo
