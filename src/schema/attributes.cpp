#include "schema/attributes.h"

#include <algorithm>
#include <string_view>
#include <vector>

#include "diag/reporter.h"

namespace tarvo {

namespace {

Details details_of(DiagnosticKind kind, const ElementRule& e, std::string_view attribute) {
    Details d;
    d.kind = kind;
    d.element = std::string_view(e.name, e.name_length);
    d.attribute = attribute;
    return d;
}

// A wrong value's record: the allowed values. Built only when a message is made.
struct WrongValue {
    Details details;
    std::vector<std::string_view> values;

    WrongValue(const ElementRule& e, const AttributeRule& r)
        : details(details_of(DiagnosticKind::wrong_attribute_value, e, {r.name, r.name_length})) {
        for (int32_t i = 0; i < r.allowed_count; ++i) values.emplace_back(r.allowed[i], r.allowed_lengths[i]);
        details.expected_key = &r;
        details.expected = values;
    }
};

[[gnu::cold, gnu::noinline]] void report_missing(const ElementRule& e, const AttributeRule& r) {
    if (Reporter* rep = current_reporter())
        rep->add_error(format_message("No value found for mandatory attribute '%s'", r.name),
                       details_of(DiagnosticKind::missing_attribute, e, {r.name, r.name_length}));
}

// A value outside the allowed list: a warning when the default replaces it.
[[gnu::cold, gnu::noinline]] void report_wrong_value(const ElementRule& e, const AttributeRule& r,
                                                     std::string_view value, bool replaced) {
    Reporter* rep = current_reporter();
    if (!rep) return;
    rep->add_parts(replaced ? Severity::warning : Severity::error, WrongValue(e, r).details,
                   {"Invalid attribute value '", value, "' for attribute '", r.name,
                    replaced ? "' - getting default value" : "'"});
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
                report_missing(e, r);
                return false;
            }
            AttributeSet::Entry& added = set.append(r.bucket, name);
            added.value.text.assign(r.default_value, r.default_length);
            added.value.rule = i;
            continue;
        }
        entry->value.rule = i;
        if (r.allowed_count == 0 || is_allowed_value(r, entry->value.text)) continue;
        if ((flags & PARSE_IGNORE_WRONG_ATTRIBUTES) && r.default_value) {
            report_wrong_value(e, r, entry->value.text, true);
            entry->value.text.assign(r.default_value, r.default_length);
            continue;
        }
        report_wrong_value(e, r, entry->value.text, false);
        return false;
    }
    // Every declared name is in the set now; with no more entries than rules
    // there is nothing undeclared to look for.
    if (set.count() == e.attribute_count) return true;
    for (AttributeSet::Entry& entry : set) {
        if (entry.value.rule >= 0) continue;
        const bool kept = flags & PARSE_IGNORE_UNKNOWN_ATTRIBUTES;
        if (Reporter* rep = current_reporter())
            rep->add_parts(kept ? Severity::warning : Severity::error,
                           details_of(DiagnosticKind::unknown_attribute, e, entry.key),
                           {"Unknown attribute '", entry.key, "'"});
        if (!kept) return false;
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
                report_missing(e, r);
                return false;
            }
            s.value = std::string_view(r.default_value, r.default_length);
            continue;
        }
        s.value = s.read();
        if (r.allowed_count == 0 || is_allowed_value(r, s.value)) continue;
        if ((flags & PARSE_IGNORE_WRONG_ATTRIBUTES) && r.default_value) {
            report_wrong_value(e, r, s.value, true);
            s.value = std::string_view(r.default_value, r.default_length);
            continue;
        }
        report_wrong_value(e, r, s.value, false);
        return false;
    }
    return true;
}

std::span<const Attribute> TagAttributes::deliver(std::vector<Attribute>& out) {
    const ElementRule& e = *rule_;
    const size_t n = static_cast<size_t>(e.attribute_count);
    Order& o = orders_[static_cast<size_t>(element_)];
    if (!o.made) {
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
    }
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
    // defaults in rule order, as a set filled in that order would hold them.
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

}  // namespace tarvo
