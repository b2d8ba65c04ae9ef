// Attribute check: completes an element's attribute set with defaults,
// corrects or refuses values outside their allowed lists, and refuses or
// tolerates undeclared attributes, as the parse flags say.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "containers/str_dict.h"
#include "schema/schema_table.h"
#include "tarvo/tarvo.h"

namespace tarvo {

struct AttributeValue {
    std::string text;
    // Index of the element's attribute rule for this name, -1 when the
    // element does not declare it; set by check_attributes.
    int32_t rule = -1;
};

using AttributeSet = StrDict<AttributeValue>;

// True when the set is acceptable; it then holds every declared attribute.
bool check_attributes(const SchemaTable& table, int32_t element, AttributeSet& attributes, int flags);

// Where a value goes: `text`, or, where `view` is not null, a view of the
// input's buffer may be stored there instead (and `text` is then unused).
struct ValueTarget {
    std::string* text;
    std::string_view* view;
};

// The attributes of one start tag while every name given is one the element
// declares (the usual case): values are kept by rule index, so no name is
// stored, hashed into a set or looked up twice, and a default is a view of
// the grammar's own text. The first undeclared name moves what was read so
// far into an AttributeSet, in the order it was read, and the tag goes on
// there; everything seen from outside (messages, their order, the delivered
// order) is the same either way.
class TagAttributes {
public:
    // Starts a document of `table`: forgets the delivery orders worked out
    // for the previous one.
    void begin_document(const SchemaTable& table) {
        orders_.clear();
        orders_.resize(static_cast<size_t>(table.element_count));
    }

    // Starts a tag of element `element` of the document's table; `fallback`
    // is the set used once an undeclared name appears.
    void start(const SchemaTable& table, int32_t element, AttributeSet& fallback) {
        const ElementRule& e = table.elements[element];
        element_ = element;
        rule_ = &e;
        fallback_ = &fallback;
        moved_ = false;
        given_ = 0;
        last_ = -1;
        const size_t n = static_cast<size_t>(e.attribute_count);
        if (slots_.size() < n) slots_.resize(n);
        for (size_t i = 0; i < n; ++i) slots_[i].order = -1;
    }

    // True once the tag has moved to the fallback set.
    bool moved() const { return moved_; }

    // Where the value of attribute `name` goes. A name given again keeps
    // its place and takes the later value.
    [[gnu::always_inline]] ValueTarget target(std::string_view name) {
        if (!moved_) {
            // Names mostly come in declaration order: try the rule after the
            // last one given before looking the name up.
            const int32_t guess = last_ + 1;
            int32_t i = guess < rule_->attribute_count &&
                                same_text(name, rule_->attributes[guess].name, rule_->attributes[guess].name_length)
                            ? guess
                            : find_attribute_rule(*rule_, name);
            last_ = i;
            if (i >= 0) {
                Slot& s = slots_[static_cast<size_t>(i)];
                if (s.order < 0) s.order = given_++;
                s.view = {};
                return {&s.text, &s.view};
            }
        }
        return undeclared_target(name);
    }

    // Where the value of an undeclared name goes (and of every name after it).
    [[gnu::noinline]] ValueTarget undeclared_target(std::string_view name) {
        if (!moved_) move_to_fallback();
        uint32_t bucket = dict_bucket(name);
        AttributeSet::Entry* entry = fallback_->find_in(bucket, name);
        if (!entry) entry = &fallback_->append(bucket, name);
        entry->value.rule = -1;
        return {&entry->value.text, nullptr};
    }

    // Copies the values kept as views of the input's buffer into the tag's
    // own storage; the input calls it before it reuses the buffer.
    static void spill_views(void* self) {
        auto* t = static_cast<TagAttributes*>(self);
        if (!t->rule_) return;
        for (int32_t i = 0; i < t->rule_->attribute_count; ++i) {
            Slot& s = t->slots_[static_cast<size_t>(i)];
            if (s.order < 0 || !s.view.data()) continue;
            s.text.assign(s.view.data(), s.view.size());
            s.view = {};
        }
    }

    // As check_attributes, for a tag that has not moved: fills defaults,
    // corrects or refuses listed values and reports exactly as it does.
    bool check(int flags);

    // The checked attributes in delivery order (the order an AttributeSet
    // holding the same names would give): by name bucket, then in the order
    // they were given, defaults after everything given. The list is in
    // `scratch` or in storage of this object, valid until the next tag.
    std::span<const Attribute> deliver(std::vector<Attribute>& scratch);

private:
    struct Slot {
        std::string text;        // the value read, unless `view` shows it
        std::string_view view;   // the value read, in the input's buffer
        std::string_view value;  // the checked value: the one read, or a default
        int32_t order = -1;      // place among the names given; -1: not given
        std::string_view read() const { return view.data() ? view : std::string_view(text); }
    };

    void move_to_fallback();

    const ElementRule* rule_ = nullptr;
    int32_t element_ = -1;
    AttributeSet* fallback_ = nullptr;
    bool moved_ = false;
    int32_t given_ = 0;
    int32_t last_ = -1;  // rule of the name given last
    std::vector<Slot> slots_;
    std::vector<uint64_t> keys_;  // scratch
    // By element, made when the element is first delivered: its rule
    // indices by name bucket (rule order within a bucket), and for each
    // position the end of its bucket's run. When no bucket holds two of its
    // names, the order does not depend on the tag: `fixed` is then the
    // delivered list with names and rules in place, and a tag only sets
    // the values.
    struct Order {
        bool made = false;
        std::vector<int32_t> rules;
        std::vector<uint32_t> run_end;
        std::vector<Attribute> fixed;
    };
    std::vector<Order> orders_;
};

}  // namespace tarvo
