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
        if (!given(i)) {  // it takes its default
            if (!r.default_value) return {AttributeProblem::Kind::missing, i, {r.name, r.name_length}, {}};
            continue;
        }
        const std::string_view v = slots_[static_cast<size_t>(i)].read();
        if (r.allowed_count == 0 || is_allowed_value(r, v)) continue;
        return {AttributeProblem::Kind::wrong_value, i, {r.name, r.name_length}, v};
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

void TagAttributes::count_mandatory() {
    int32_t mandatory = 0;
    for (int32_t i = 0; i < rule_->attribute_count; ++i) mandatory += rule_->attributes[i].default_value == nullptr;
    order_->mandatory = mandatory;
}

void TagAttributes::make_order() {
    const ElementRule& e = *rule_;
    const uint32_t n = static_cast<uint32_t>(e.attribute_count);
    Order& o = *order_;
    o.first = static_cast<uint32_t>(pristine_.size());
    for (uint32_t i = 0; i < n; ++i) {
        const AttributeRule& r = e.attributes[i];
        pristine_.push_back({std::string_view(r.name, r.name_length), std::string_view(r.default_value, r.default_length),
                             static_cast<int32_t>(i)});
    }
    Attribute* list = pristine_.data() + o.first;
    auto bucket = [&e](const Attribute& a) { return e.attributes[a.rule].bucket; };
    auto by_bucket = [&](const Attribute& a, const Attribute& b) { return bucket(a) < bucket(b); };
    if (n > 64) {
        std::stable_sort(list, list + n, by_bucket);
    } else {  // without the temporary buffer
        for (uint32_t j = 1; j < n; ++j)
            for (uint32_t k = j; k > 0 && by_bucket(list[k], list[k - 1]); --k) std::swap(list[k], list[k - 1]);
    }
    at_.resize(o.first + n);
    for (uint32_t j = 0; j < n; ++j) at_[o.first + static_cast<uint32_t>(list[j].rule)] = j;
    o.first_shared = static_cast<uint32_t>(shared_.size());
    for (uint32_t g = 0; g < n;) {
        uint32_t h = g + 1;
        while (h < n && bucket(list[h]) == bucket(list[g])) ++h;
        if (h - g > 1) {
            shared_.push_back(g);
            shared_.push_back(h);
        }
        g = h;
    }
    o.shared_end = static_cast<uint32_t>(shared_.size());
    o.made = true;
}

std::span<const Attribute> TagAttributes::deliver_list(std::vector<Attribute>& out) {
    if (!order_->made) make_order();
    const Order& o = *order_;
    const size_t n = static_cast<size_t>(rule_->attribute_count);
    if (list_.size() < n) list_.resize(n);
    Attribute* list = list_.data();
    const Attribute* pristine = pristine_.data() + o.first;
    const uint32_t* at = at_.data() + o.first;
    std::copy(pristine, pristine + n, list);
    for (int32_t k = 0; k < declared_given_; ++k) {
        const int32_t i = given_rules_[static_cast<size_t>(k)];
        list[at[i]].value = slots_[static_cast<size_t>(i)].read();
    }
    if (replaced_)
        for (int32_t k = 0; k < declared_given_; ++k) {
            const int32_t i = given_rules_[static_cast<size_t>(k)];
            if (slots_[static_cast<size_t>(i)].replaced) list[at[i]].value = pristine[at[i]].value;
        }
    if (o.shared_end != o.first_shared) order_shared_runs(list);
    if (!undeclared_.is_empty() || dropped_) [[unlikely]]
        return deliver_mixed(out);
    return {list, n};
}

// In each run of names that share a bucket: those given, in the order
// given, then the others in rule order (as the pristine list has them).
void TagAttributes::order_shared_runs(Attribute* list) {
    auto key = [this](const Attribute& a) {
        return given(a.rule) ? int64_t{slots_[static_cast<size_t>(a.rule)].order} : (int64_t{1} << 32) + a.rule;
    };
    for (uint32_t k = order_->first_shared; k < order_->shared_end; k += 2) {
        Attribute* run = list + shared_[k];
        Attribute* end = list + shared_[k + 1];
        if (end - run > 16) {  // an element of very many names: the given ones sorted, the others after them
            run_.clear();
            for (Attribute* a = run; a < end; ++a)
                if (given(a->rule)) run_.push_back(*a);
            std::sort(run_.begin(), run_.end(), [&](const Attribute& a, const Attribute& b) { return key(a) < key(b); });
            for (Attribute* a = run; a < end; ++a)
                if (!given(a->rule)) run_.push_back(*a);
            std::copy(run_.begin(), run_.end(), run);
            continue;
        }
        for (Attribute* a = run + 1; a < end; ++a) {  // insertion sort: the run is short
            const Attribute moving = *a;
            const int64_t place = key(moving);
            Attribute* b = a;
            for (; b > run && key(b[-1]) > place; --b) *b = b[-1];
            *b = moving;
        }
    }
}

// The same order with undeclared names among the declared ones: sorted by
// (bucket, given before defaulted, place given or rule).
std::span<const Attribute> TagAttributes::deliver_mixed(std::vector<Attribute>& out) {
    struct Key {
        uint32_t bucket;
        uint32_t defaulted;
        int64_t place;
        Attribute attribute;
    };
    std::vector<Key> keys;
    keys.reserve(static_cast<size_t>(rule_->attribute_count) + static_cast<size_t>(undeclared_.count()));
    for (int32_t j = 0; j < rule_->attribute_count; ++j) {
        const Attribute& a = list_[static_cast<size_t>(j)];
        const AttributeRule& r = rule_->attributes[a.rule];
        const bool defaulted = !given(a.rule);
        if (defaulted && !r.default_value) continue;  // a missing one, reported
        keys.push_back({r.bucket, defaulted, defaulted ? a.rule : slots_[static_cast<size_t>(a.rule)].order, a});
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
