#include "schema/attributes.h"

#include <algorithm>
#include <string_view>

#include "diag/reporter.h"

namespace tarvo {

namespace {

bool is_allowed(const AttributeRule& r, std::string_view value) {
    for (int32_t i = 0; i < r.allowed_count; ++i)
        if (same_text(value, r.allowed[i], r.allowed_lengths[i])) return true;
    return false;
}

}  // namespace

bool check_attributes(const SchemaTable& table, int32_t element, AttributeSet& set, int flags) {
    const ElementRule& e = table.elements[element];
    for (int32_t i = 0; i < e.attribute_count; ++i) {
        const AttributeRule& r = e.attributes[i];
        std::string_view name(r.name, r.name_length);
        AttributeSet::Entry* entry = set.find_in(r.bucket, name);
        if (!entry) {
            if (!r.default_value) {
                if (Reporter* rep = current_reporter())
                    rep->error("No value found for mandatory attribute '%s'", r.name);
                return false;
            }
            AttributeSet::Entry& added = set.append(r.bucket, name);
            added.value.text.assign(r.default_value, r.default_length);
            added.value.rule = i;
            continue;
        }
        entry->value.rule = i;
        if (r.allowed_count == 0 || is_allowed(r, entry->value.text)) continue;
        if ((flags & PARSE_IGNORE_WRONG_ATTRIBUTES) && r.default_value) {
            if (Reporter* rep = current_reporter())
                rep->warning("Invalid attribute value '%s' for attribute '%s' - getting default value",
                             entry->value.text.c_str(), r.name);
            entry->value.text.assign(r.default_value, r.default_length);
            continue;
        }
        if (Reporter* rep = current_reporter())
            rep->error("Invalid attribute value '%s' for attribute '%s'", entry->value.text.c_str(), r.name);
        return false;
    }
    // Every declared name is in the set now; with no more entries than rules
    // there is nothing undeclared to look for.
    if (set.count() == e.attribute_count) return true;
    for (AttributeSet::Entry& entry : set) {
        if (entry.value.rule >= 0) continue;
        Reporter* rep = current_reporter();
        if (flags & PARSE_IGNORE_UNKNOWN_ATTRIBUTES) {
            if (rep) rep->warning("Unknown attribute '%s'", entry.key.c_str());
        } else {
            if (rep) rep->error("Unknown attribute '%s'", entry.key.c_str());
            return false;
        }
    }
    return true;
}

void TagAttributes::move_to_fallback() {
    moved_ = true;
    AttributeSet& set = *fallback_;
    set.clear();
    // Rule index by place given, then the entries in that order.
    keys_.assign(static_cast<size_t>(given_), 0);
    for (int32_t i = 0; i < rule_->attribute_count; ++i)
        if (slots_[static_cast<size_t>(i)].order >= 0)
            keys_[static_cast<size_t>(slots_[static_cast<size_t>(i)].order)] = static_cast<uint64_t>(i);
    for (uint64_t i : keys_) {
        const AttributeRule& r = rule_->attributes[i];
        AttributeSet::Entry& e = set.append(r.bucket, std::string_view(r.name, r.name_length));
        Slot& s = slots_[i];
        if (s.view.data())
            e.value.text.assign(s.view.data(), s.view.size());
        else
            e.value.text.swap(s.text);
        s.view = {};
        e.value.rule = -1;
    }
}

bool TagAttributes::check(int flags) {
    const ElementRule& e = *rule_;
    for (int32_t i = 0; i < e.attribute_count; ++i) {
        const AttributeRule& r = e.attributes[i];
        Slot& s = slots_[static_cast<size_t>(i)];
        if (s.order < 0) {
            if (!r.default_value) {
                if (Reporter* rep = current_reporter())
                    rep->error("No value found for mandatory attribute '%s'", r.name);
                return false;
            }
            s.value = std::string_view(r.default_value, r.default_length);
            continue;
        }
        s.value = s.read();
        if (r.allowed_count == 0 || is_allowed(r, s.value)) continue;
        if ((flags & PARSE_IGNORE_WRONG_ATTRIBUTES) && r.default_value) {
            if (Reporter* rep = current_reporter())
                rep->warning("Invalid attribute value '%s' for attribute '%s' - getting default value",
                             std::string(s.value).c_str(), r.name);
            s.value = std::string_view(r.default_value, r.default_length);
            continue;
        }
        if (Reporter* rep = current_reporter())
            rep->error("Invalid attribute value '%s' for attribute '%s'", std::string(s.value).c_str(), r.name);
        return false;
    }
    return true;
}

void TagAttributes::deliver(std::vector<Attribute>& out) {
    const ElementRule& e = *rule_;
    const size_t n = static_cast<size_t>(e.attribute_count);
    std::vector<int32_t>& by_bucket = orders_[static_cast<size_t>(element_)];
    if (by_bucket.size() != n) {
        by_bucket.resize(n);
        for (size_t i = 0; i < n; ++i) by_bucket[i] = static_cast<int32_t>(i);
        std::stable_sort(by_bucket.begin(), by_bucket.end(),
                         [&](int32_t a, int32_t b) { return e.attributes[a].bucket < e.attributes[b].bucket; });
    }
    out.resize(n);
    size_t k = 0;
    auto put = [&](int32_t i) {
        const AttributeRule& r = e.attributes[i];
        out[k++] = {std::string_view(r.name, r.name_length), slots_[static_cast<size_t>(i)].value, i};
    };
    // Bucket by bucket: the names given in the order given, then the
    // defaults in rule order, as a set filled in that order would hold them.
    for (size_t g = 0; g < n;) {
        size_t h = g + 1;
        while (h < n && e.attributes[by_bucket[h]].bucket == e.attributes[by_bucket[g]].bucket) ++h;
        if (h - g == 1) {
            put(by_bucket[g]);
        } else if (h - g > 8) {  // many names in one bucket: sort the given ones
            keys_.clear();
            for (size_t j = g; j < h; ++j) {
                int32_t order = slots_[static_cast<size_t>(by_bucket[j])].order;
                if (order >= 0) keys_.push_back(static_cast<uint64_t>(order) << 32 | static_cast<uint32_t>(by_bucket[j]));
            }
            std::sort(keys_.begin(), keys_.end());
            for (uint64_t key : keys_) put(static_cast<int32_t>(key & 0xFFFFFFFFu));
            for (size_t j = g; j < h; ++j)
                if (slots_[static_cast<size_t>(by_bucket[j])].order < 0) put(by_bucket[j]);
        } else {
            for (int32_t next = -1;;) {  // the given ones, lowest place first
                int32_t best = -1;
                for (size_t j = g; j < h; ++j) {
                    int32_t order = slots_[static_cast<size_t>(by_bucket[j])].order;
                    if (order > next && (best < 0 || order < slots_[static_cast<size_t>(best)].order))
                        best = by_bucket[j];
                }
                if (best < 0) break;
                put(best);
                next = slots_[static_cast<size_t>(best)].order;
            }
            for (size_t j = g; j < h; ++j)
                if (slots_[static_cast<size_t>(by_bucket[j])].order < 0) put(by_bucket[j]);
        }
        g = h;
    }
}

}  // namespace tarvo
