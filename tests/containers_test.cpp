#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "containers/ptr_stack.h"
#include "containers/str_buf.h"
#include "containers/str_dict.h"

namespace tarvo {
namespace {

std::vector<std::string> keys_after_inserting(const std::vector<std::string>& keys) {
    StrDict<int> d;
    for (size_t i = 0; i < keys.size(); ++i) d.set(keys[i], static_cast<int>(i));
    return d.keys();
}

TEST(StrDict, KeyOrderIsBucketThenInsertion) {
    struct Case {
        std::vector<std::string> insert;
        std::vector<std::string> expected;
    };
    const Case cases[] = {
        {{"ab", "ba"}, {"ba", "ab"}},                 // buckets 2 and 1
        {{"b", "a", ""}, {"b", "a", ""}},             // all in bucket 0, insertion order
        {{"label", "value", "id", "model_file"}, {"model_file", "id", "value", "label"}},
        {{"x\xff\xff", "y"}, {"y", "x\xff\xff"}},     // hash -2 lands in bucket 30
    };
    for (const Case& c : cases) EXPECT_EQ(keys_after_inserting(c.insert), c.expected);
}

TEST(StrDict, BucketOfNegativeHashIsNonNegativeRemainder) {
    EXPECT_EQ(dict_bucket("a\x80"), 0u);   // -128
    EXPECT_EQ(dict_bucket("a\xff"), 31u);  // -1
    EXPECT_EQ(dict_bucket("ab"), 2u);
}

TEST(StrDict, SetReplacesInPlaceAndRemoveKeepsOrder) {
    StrDict<int> d;
    for (const char* k : {"ab", "ba", "b", "a"}) d.set(k, 1);
    d.set("ab", 7);
    EXPECT_EQ(d.count(), 4);
    EXPECT_EQ(*d.get("ab"), 7);
    EXPECT_EQ(d.keys(), (std::vector<std::string>{"b", "a", "ba", "ab"}));
    d.remove("b");
    d.remove("missing");
    EXPECT_EQ(d.count(), 3);
    EXPECT_EQ(d.get("b"), nullptr);
    EXPECT_EQ(d.keys(), (std::vector<std::string>{"a", "ba", "ab"}));
    d.set("c", 3);  // reuses the freed pool slot, goes to the end of bucket 0
    EXPECT_EQ(d.keys(), (std::vector<std::string>{"a", "c", "ba", "ab"}));
    EXPECT_EQ(*d.get("ab"), 7);
    d.clear();
    EXPECT_TRUE(d.is_empty());
    EXPECT_EQ(d.begin(), d.end());
}

TEST(StrDict, RemoveEveryKeyInAnyOrder) {
    // Chains of one bucket with the removed entry at head, middle and tail.
    const std::vector<std::string> keys = {"a", "b", "c", "d", "e", "ab", "xb"};
    for (size_t victim = 0; victim < keys.size(); ++victim) {
        StrDict<int> d;
        for (const std::string& k : keys) d.set(k, 0);
        d.remove(keys[victim]);
        std::vector<std::string> expected = keys_after_inserting(keys);
        std::erase(expected, keys[victim]);
        EXPECT_EQ(d.keys(), expected) << "removing " << keys[victim];
        for (const std::string& k : keys) EXPECT_EQ(d.has(k), k != keys[victim]);
    }
}

TEST(StrBuf, AppendCompareCopy) {
    StrBuf b;
    b.append_char(0);
    EXPECT_EQ(b.length(), 0u);
    b.append("ab");
    b.append_char('c');
    StrBuf other("abd");
    EXPECT_EQ(b.compare(other), -1);
    EXPECT_EQ(other.compare(b), 1);
    EXPECT_EQ(b.compare(StrBuf("abc")), 0);
    EXPECT_EQ(StrBuf("ab").compare(b), -1);  // a proper prefix is smaller
    EXPECT_EQ(StrBuf("\xe9").compare(StrBuf("z")), 1);
    EXPECT_EQ(StrBuf().take_copy(), "");
}

TEST(StrBuf, FormatHasNoLengthLimit) {
    std::string long_name(5000, 'n');
    StrBuf b;
    b.append_format("Element '%s' unknown in DTD", long_name.c_str());
    EXPECT_EQ(b.length(), long_name.size() + 25);
}

TEST(PtrStack, IndexResolution) {
    int x = 1, y = 2, z = 3;
    PtrStack<int> s;
    EXPECT_EQ(s.pop(), nullptr);
    EXPECT_EQ(s.get(-1), nullptr);
    s.push(&x);
    s.push(&y);
    s.push(&z);
    EXPECT_EQ(s.get(0), &x);
    EXPECT_EQ(s.get(-1), &z);
    EXPECT_EQ(s.get(-3), &x);
    EXPECT_EQ(s.get(-4), nullptr);
    EXPECT_EQ(s.get(3), nullptr);
    s.remove_at(-1);
    EXPECT_EQ(s.count(), 2);
    EXPECT_EQ(s.pop(), &y);
    EXPECT_EQ(s.count(), 1);
}

}  // namespace
}  // namespace tarvo
