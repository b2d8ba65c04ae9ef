#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "containers/ptr_stack.h"
#include "containers/str_buf.h"
#include "containers/str_dict.h"

namespace tarvo {
namespace {

using Keys = std::vector<std::string>;

TEST(StrDict, KeyOrderIsBucketThenInsertionWhateverIsReplacedOrRemoved) {
    // Buckets: "ba" 1, "ab" and "xb" 2, "x\xff\xff" 30 (a negative hash, -2,
    // goes to its non-negative remainder); one-byte keys and "" share bucket 0.
    const Keys inserted = {"x\xff\xff", "ab", "ba", "xb", "b", "a", ""};
    const Keys order = {"b", "a", "", "ba", "ab", "xb", "x\xff\xff"};
    EXPECT_EQ(dict_bucket("a\xff"), 31u);
    for (const std::string& victim : inserted) {
        StrDict<int> d;
        for (const std::string& k : inserted) d.set(k, 1);
        d.set(victim, 7);
        EXPECT_EQ(*d.get(victim), 7);
        EXPECT_EQ(d.keys(), order);  // replaced in place
        d.remove(victim);  // the last entry moves into its pool slot
        d.remove("missing");
        EXPECT_FALSE(d.has(victim));
        d.set("c", 3);  // at the end of bucket 0
        Keys expected = order;
        expected.insert(expected.begin() + 3, "c");
        std::erase(expected, victim);
        EXPECT_EQ(d.keys(), expected) << "removing " << victim;
    }
}

TEST(StrDict, ManyKeysInOneBucketKeepOrderAndAreFound) {
    // "a" + letters + two letters that bring every key to bucket 0: past the
    // size where lookups go through the index, the order is still insertion.
    Keys keys;
    for (int i = 0; i < 300; ++i) {
        std::string k = "a" + std::to_string(i);
        int sum = 0;
        for (size_t j = 1; j < k.size(); ++j) sum += k[j];
        int need = ((-sum - 130) % 32 + 32) % 32;
        k += static_cast<char>('A' + std::min(need, 25));
        k += static_cast<char>('A' + need - std::min(need, 25));
        ASSERT_EQ(dict_bucket(k), 0u);
        keys.push_back(k);
    }
    StrDict<int> d;
    for (int round = 0; round < 2; ++round) {  // the second round reuses the cleared index
        d.clear();
        for (size_t i = 0; i < keys.size(); ++i) d.set(keys[i], static_cast<int>(i));
        for (size_t i = 0; i < keys.size(); i += 7) d.set(keys[i], -1);  // replaced in place
        EXPECT_EQ(d.keys(), keys);
        EXPECT_EQ(*d.get(keys[7]), -1);
        EXPECT_EQ(*d.get(keys[299]), 299);
        EXPECT_FALSE(d.has("a1"));
    }
    d.remove(keys[0]);
    EXPECT_FALSE(d.has(keys[0]));
    EXPECT_EQ(*d.get(keys[299]), 299);  // moved into the freed slot, still found
    EXPECT_EQ(d.keys(), Keys(keys.begin() + 1, keys.end()));
}

TEST(StrBuf, AppendAndCompare) {
    StrBuf b;
    b.append_char(0);
    b.append(std::string("ab\0x", 4));  // appended as a C string
    b.append_char('c');
    EXPECT_EQ(b.str(), "abc");
    EXPECT_EQ(b.compare(StrBuf("abd")), -1);
    EXPECT_EQ(StrBuf("abd").compare(b), 1);
    EXPECT_EQ(b.compare(StrBuf("abc")), 0);
    EXPECT_EQ(StrBuf("ab").compare(b), -1);  // a proper prefix is smaller
    EXPECT_EQ(StrBuf("\xe9").compare(StrBuf("z")), 1);
}

TEST(PtrStack, IndexResolution) {
    int x = 1, y = 2, z = 3;
    PtrStack<int> s;
    EXPECT_EQ(s.pop(), nullptr);
    EXPECT_EQ(s.get(-1), nullptr);
    for (int* p : {&x, &y, &z}) s.push(p);
    // -1 is the top, -count the bottom; beyond either end there is nothing.
    EXPECT_EQ((std::vector<int*>{s.get(0), s.get(-1), s.get(-3), s.get(-4), s.get(3)}),
              (std::vector<int*>{&x, &z, &x, nullptr, nullptr}));
    s.remove_at(-1);
    EXPECT_EQ(s.pop(), &y);
    EXPECT_EQ(s.count(), 1);
}

}  // namespace
}  // namespace tarvo
