#include "check/attributes.h"

#include <algorithm>
#include <string_view>
#include <tuple>
#include <vector>

namespace tarvo {

ValueTarget TagAttributes::undeclared_target(std::string_view name) {
    const uint32_t bucket = dict_bucket(name);
    AttributeSet::Entry* entry = undeclared_.find_in(bucket, name);
    const bool again = entry != nullptr;
    if (!again) {
        entry = &undeclared_.append(bucket, name);
        entry->value.order = given_++;
        entry->value.dropped = false;
    }
    return {&entry->value.text, nullptr, again};
}

AttributeProblem TagAttributes::check_rules() {
    const ElementRule& e = *rule_;
    while (cursor_ < e.attribute_count) {
        const int32_t i = cursor_++;
        const AttributeRule& r = e.attributes[i];
        Slot& s = slots_[static_cast<size_t>(i)];
        if (s.order < 0) {
            if (!r.default_value) {
                s.value = {};
                return {AttributeProblem::Kind::missing, i, {r.name, r.name_length}, {}};
            }
            s.value = std::string_view(r.default_value, r.default_length);
            continue;
        }
        s.value = s.read();
        if (r.allowed_count == 0 || is_allowed_value(r, s.value)) continue;
        return {AttributeProblem::Kind::wrong_value, i, {r.name, r.name_length}, s.value};
    }
    return {};
}

AttributeProblem TagAttributes::next_undeclared() {
    const size_t at = static_cast<size_t>(cursor_ - rule_->attribute_count);
    if (at == 0) {
        unchecked_.clear();
        for (AttributeSet::Entry& entry : undeclared_) unchecked_.push_back(&entry);
    }
    if (at >= unchecked_.size()) return {};
    ++cursor_;
    const AttributeSet::Entry& entry = *unchecked_[at];
    return {AttributeProblem::Kind::unknown, -1, entry.key, entry.value.text};
}

TagAttributes::Order& TagAttributes::order_of_element() {
    const ElementRule& e = *rule_;
    const size_t n = static_cast<size_t>(e.attribute_count);
    Order& o = orders_[static_cast<size_t>(element_)];
    if (o.made) return o;
    o.rules.resize(n);
    for (size_t i = 0; i < n; ++i) o.rules[i] = static_cast<int32_t>(i);
    std::stable_sort(o.rules.begin(), o.rules.end(),
                     [&](int32_t a, int32_t b) { return e.attributes[a].bucket < e.attributes[b].bucket; });
    o.run_end.resize(n);
    for (size_t g = 0; g < n;) {
        size_t h = g + 1;
        while (h < n && e.attributes[o.rules[h]].bucket == e.attributes[o.rules[g]].bucket) ++h;
        for (size_t j = g; j < h; ++j) o.run_end[j] = static_cast<uint32_t>(h);
        g = h;
    }
    bool single = true;
    for (size_t j = 0; j < n; ++j) single = single && o.run_end[j] == j + 1;
    if (single)
        for (int32_t i : o.rules)
            o.fixed.push_back({std::string_view(e.attributes[i].name, e.attributes[i].name_length), {}, i});
    o.made = true;
    return o;
}

std::span<const Attribute> TagAttributes::deliver(std::vector<Attribute>& out) {
    if (!undeclared_.is_empty() || dropped_) return deliver_mixed(out);
    const ElementRule& e = *rule_;
    const size_t n = static_cast<size_t>(e.attribute_count);
    Order& o = order_of_element();
    if (!o.fixed.empty()) {
        for (Attribute& a : o.fixed) a.value = slots_[static_cast<size_t>(a.rule)].value;
        return o.fixed;
    }
    if (out.size() < n) out.resize(n);
    Attribute* w = out.data();
    const int32_t* rules = o.rules.data();
    auto put = [&](int32_t i) {
        const AttributeRule& r = e.attributes[i];
        *w++ = {std::string_view(r.name, r.name_length), slots_[static_cast<size_t>(i)].value, i};
    };
    auto order_of = [&](size_t j) { return slots_[static_cast<size_t>(rules[j])].order; };
    // Bucket by bucket: the names given in the order given, then the
    // defaults in rule order.
    for (size_t g = 0; g < n;) {
        const size_t h = o.run_end[g];
        if (h == g + 1) {
            put(rules[g]);
        } else if (h - g > 8) {  // many names in one bucket: sort the given ones
            keys_.clear();
            for (size_t j = g; j < h; ++j)
                if (order_of(j) >= 0)
                    keys_.push_back(static_cast<uint64_t>(order_of(j)) << 32 | static_cast<uint32_t>(rules[j]));
            std::sort(keys_.begin(), keys_.end());
            for (uint64_t key : keys_) put(static_cast<int32_t>(key & 0xFFFFFFFFu));
            for (size_t j = g; j < h; ++j)
                if (order_of(j) < 0) put(rules[j]);
        } else {
            for (int32_t next = -1;;) {  // the given ones, lowest place first
                size_t best = h;
                for (size_t j = g; j < h; ++j)
                    if (order_of(j) > next && (best == h || order_of(j) < order_of(best))) best = j;
                if (best == h) break;
                put(rules[best]);
                next = order_of(best);
            }
            for (size_t j = g; j < h; ++j)
                if (order_of(j) < 0) put(rules[j]);
        }
        g = h;
    }
    return {out.data(), n};
}

// The same order with undeclared names among the declared ones: sorted by
// (bucket, given before defaulted, place given or rule).
std::span<const Attribute> TagAttributes::deliver_mixed(std::vector<Attribute>& out) {
    const ElementRule& e = *rule_;
    struct Key {
        uint32_t bucket;
        uint32_t defaulted;
        int64_t place;
        Attribute attribute;
    };
    std::vector<Key> keys;
    keys.reserve(static_cast<size_t>(e.attribute_count) + static_cast<size_t>(undeclared_.count()));
    for (int32_t i = 0; i < e.attribute_count; ++i) {
        const AttributeRule& r = e.attributes[i];
        const Slot& s = slots_[static_cast<size_t>(i)];
        if (s.order < 0 && !r.default_value) continue;  // a missing one, reported
        keys.push_back({r.bucket, s.order < 0, s.order < 0 ? i : s.order,
                        {std::string_view(r.name, r.name_length), s.value, i}});
    }
    for (const AttributeSet::Entry& entry : undeclared_)
        if (!entry.value.dropped)
            keys.push_back({dict_bucket(entry.key), 0, entry.value.order, {entry.key, entry.value.text, -1}});
    std::sort(keys.begin(), keys.end(), [](const Key& a, const Key& b) {
        return std::tie(a.bucket, a.defaulted, a.place) < std::tie(b.bucket, b.defaulted, b.place);
    });
    out.clear();
    for (const Key& k : keys) out.push_back(k.attribute);
    return out;
}

}  // namespace tarvo
