// The attributes of one start tag: read into one store indexed by the
// element's attribute rules, with the undeclared names beside it; checked
// against the rules (defaults filled in, listed values tested); delivered in
// the documented order (see "Attribute order" in tarvo/tarvo.h). The check
// reports nothing: it returns one problem at a time, and the parse loop
// decides, by the parse flags, whether a problem is tolerated.
#pragma once

#include <algorithm>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "containers/str_dict.h"
#include "schema/schema_table.h"
#include "tarvo/tarvo.h"

namespace tarvo {

// A value read for a name outside the element's rules (or a pseudo-attribute
// of the XML declaration).
struct AttributeValue {
    std::string text;
    int32_t order = -1;     // place among the names the tag gave
    bool dropped = false;   // left out of delivery (an error the parse went on after)
};

using AttributeSet = StrDict<AttributeValue>;

// Where a value goes: `text`, or, where `view` is not null, a view of the
// input's buffer may be stored there instead (and `text` is then unused).
struct ValueTarget {
    std::string* text;
    std::string_view* view;
    bool again = false;  // the name was given before in the same tag
};

// What the attribute check found wrong with a tag.
struct AttributeProblem {
    enum class Kind : uint8_t {
        none,         // the tag is checked
        missing,      // declared `rule` has no default and was not given
        wrong_value,  // `value`, given for `rule`, is not in its allowed list
        unknown,      // `name` is not declared by the element
    };
    Kind kind = Kind::none;
    int32_t rule = -1;
    std::string_view name;
    std::string_view value;
};

class TagAttributes {
public:
    // Starts a document of `table`: forgets what was worked out for the
    // elements of the previous one (keeping the storage, so that a run of
    // small documents allocates nothing).
    void begin_document(const SchemaTable& table) {
        orders_.assign(static_cast<size_t>(table.element_count), Order{});
        pristine_.clear();
        at_.clear();
        shared_.clear();
    }

    // Starts a tag of element `element` of the document's table.
    [[gnu::always_inline]] void start(const SchemaTable& table, int32_t element) {
        const ElementRule& e = table.elements[element];
        rule_ = &e;
        order_ = &orders_[static_cast<size_t>(element)];
        if (order_->mandatory < 0) count_mandatory();
        ++tag_;
        given_ = 0;
        declared_given_ = 0;
        last_ = -1;
        cursor_ = 0;
        dropped_ = false;
        replaced_ = false;
        if (!undeclared_.is_empty()) undeclared_.clear();
        const size_t n = static_cast<size_t>(e.attribute_count);
        if (slots_.size() < n) {
            slots_.resize(n);
            given_rules_.resize(n);
        }
    }

    // Where the value of attribute `name` goes. A name given again keeps
    // its place and takes the later value.
    [[gnu::always_inline]] ValueTarget target(std::string_view name) {
        // Names mostly come in declaration order: try the rule after the
        // last one given before looking the name up.
        const int32_t guess = last_ + 1;
        int32_t i = guess < rule_->attribute_count &&
                            same_text(name, rule_->attributes[guess].name, rule_->attributes[guess].name_length)
                        ? guess
                        : find_attribute_rule(*rule_, name);
        last_ = i;
        if (i < 0) return undeclared_target(name);
        Slot& s = slots_[static_cast<size_t>(i)];
        const bool again = s.tag == tag_;
        if (!again) {
            s.tag = tag_;
            s.order = given_++;
            s.replaced = false;
            given_rules_[static_cast<size_t>(declared_given_++)] = i;
        }
        s.view = {};
        return {&s.text, &s.view, again};
    }

    // Copies the values kept as views of the input's buffer into the tag's
    // own storage; the input calls it before it reuses the buffer.
    static void spill_views(void* self) {
        auto* t = static_cast<TagAttributes*>(self);
        for (int32_t k = 0; k < t->declared_given_; ++k) {
            Slot& s = t->slots_[static_cast<size_t>(t->given_rules_[static_cast<size_t>(k)])];
            if (!s.view.data()) continue;
            s.text.assign(s.view.data(), s.view.size());
            s.view = {};
        }
    }

    // Checks on from where the last call stopped: the declared attributes
    // in declaration order (defaults filled in, listed values tested), then
    // the undeclared names in delivery order. Returns the next problem, or
    // one of kind none when the tag is checked.
    [[gnu::always_inline]] AttributeProblem next_problem() {
        if (cursor_ < rule_->attribute_count && !(cursor_ == 0 && all_well())) {
            AttributeProblem p = check_rules();
            if (p.kind != AttributeProblem::Kind::none) return p;
        }
        if (undeclared_.is_empty()) return {};
        return next_undeclared();
    }

    // Leaves the undeclared name next_problem() returned last out of
    // delivery.
    void drop_undeclared() {
        const size_t at = static_cast<size_t>(cursor_ - rule_->attribute_count);
        unchecked_[at - 1]->value.dropped = true;
        dropped_ = true;
    }
    // Leaves the declared attributes that have no value (a missing one
    // reported) out of delivery.
    void leave_out_missing() { dropped_ = true; }

    // Makes declared `rule` take its default: a wrong value tolerated.
    void use_default(int32_t rule) {
        slots_[static_cast<size_t>(rule)].replaced = true;
        replaced_ = true;
    }

    // The checked attributes in delivery order. The list is in `scratch` or
    // in storage of this object, valid until the next tag.
    [[gnu::always_inline]] std::span<const Attribute> deliver(std::vector<Attribute>& scratch) {
        if (given_ == 0 && rule_->attribute_count == 0) return {};  // often half the tags: settled inline
        return deliver_list(scratch);
    }

private:
    struct Slot {
        std::string text;       // the value read, unless `view` shows it
        std::string_view view;  // the value read, in the input's buffer
        uint64_t tag = 0;       // the tag that gave it last
        int32_t order = -1;     // its place among the names that tag gave
        bool replaced = false;  // a wrong value tolerated: the default stands for it
        std::string_view read() const { return view.data() ? view : std::string_view(text); }
    };

    [[gnu::noinline]] ValueTarget undeclared_target(std::string_view name);
    bool given(int32_t rule) const { return slots_[static_cast<size_t>(rule)].tag == tag_; }
    // Whether the tag has nothing wrong with its declared attributes, told
    // from the names given alone (a tag mostly gives a few of many): every
    // mandatory one given, every listed value allowed.
    [[gnu::always_inline]] bool all_well() {
        if (!undeclared_.is_empty()) return false;
        int32_t mandatory = 0;
        for (int32_t k = 0; k < declared_given_; ++k) {
            const int32_t i = given_rules_[static_cast<size_t>(k)];
            const AttributeRule& r = rule_->attributes[i];
            mandatory += r.default_value == nullptr;
            if (r.allowed_count != 0 && !is_allowed_value(r, slots_[static_cast<size_t>(i)].read())) return false;
        }
        if (mandatory != order_->mandatory) return false;
        cursor_ = rule_->attribute_count;
        return true;
    }
    AttributeProblem check_rules();
    [[gnu::noinline]] AttributeProblem next_undeclared();
    // The declared attributes with their checked values in delivery order,
    // then the undeclared ones among them if any.
    std::span<const Attribute> deliver_list(std::vector<Attribute>& scratch);
    std::span<const Attribute> deliver_mixed(std::vector<Attribute>& out);

    const ElementRule* rule_ = nullptr;
    uint64_t tag_ = 0;     // counts the tags started
    int32_t given_ = 0;
    int32_t declared_given_ = 0;
    int32_t last_ = -1;    // rule of the name given last
    int32_t cursor_ = 0;   // next rule (then undeclared entry) to check
    bool dropped_ = false;   // something is left out of delivery
    bool replaced_ = false;  // some slot is replaced
    std::vector<Attribute> list_;        // the declared attributes delivered
    std::vector<Slot> slots_;            // by rule
    std::vector<int32_t> given_rules_;   // the declared rules given, in the order given
    std::vector<Attribute> run_;         // scratch
    AttributeSet undeclared_;
    std::vector<AttributeSet::Entry*> unchecked_;  // undeclared names in delivery order

    // By element: how many of its attributes are mandatory, counted when
    // its first tag starts, and its delivery order, made when the first is
    // delivered. Every declared attribute is delivered, so each name
    // bucket's run of places in the list is the same for every tag: only
    // the order within a run of two or more depends on the tag (the names
    // given first, in the order given). `pristine_` holds the list of a tag
    // that gives nothing (by bucket, then rule; the defaults as values)
    // from `first` on, `at_` from `first` on the place of each rule in it,
    // and `shared_` from `first_shared` on the runs of two or more (start,
    // end, ...).
    struct Order {
        int32_t mandatory = -1;  // attributes without a default
        bool made = false;
        uint32_t first = 0;
        uint32_t first_shared = 0, shared_end = 0;
    };
    [[gnu::cold, gnu::noinline]] void count_mandatory();
    [[gnu::cold, gnu::noinline]] void make_order();
    // Orders the runs of names that share a bucket in the delivered list.
    [[gnu::noinline]] void order_shared_runs(Attribute* list);
    std::vector<Order> orders_;
    std::vector<Attribute> pristine_;
    std::vector<uint32_t> at_;
    std::vector<uint32_t> shared_;
    Order* order_ = nullptr;  // the current element's
};

}  // namespace tarvo
