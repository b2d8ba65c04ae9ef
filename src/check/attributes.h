// The attributes of one start tag: read into one store indexed by the
// element's attribute rules, with the undeclared names beside it; checked
// against the rules (defaults filled in, listed values tested); delivered in
// the documented order (see "Attribute order" in tarvo/tarvo.h). The check
// reports nothing: it returns one problem at a time, and the parse loop
// decides, by the parse flags, whether a problem is tolerated.
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
    // Starts a document of `table`: forgets the delivery orders worked out
    // for the previous one.
    void begin_document(const SchemaTable& table) {
        orders_.clear();
        orders_.resize(static_cast<size_t>(table.element_count));
    }

    // Starts a tag of element `element` of the document's table.
    [[gnu::always_inline]] void start(const SchemaTable& table, int32_t element) {
        const ElementRule& e = table.elements[element];
        element_ = element;
        rule_ = &e;
        given_ = 0;
        last_ = -1;
        cursor_ = 0;
        dropped_ = false;
        if (!undeclared_.is_empty()) undeclared_.clear();
        const size_t n = static_cast<size_t>(e.attribute_count);
        if (slots_.size() < n) slots_.resize(n);
        for (size_t i = 0; i < n; ++i) slots_[i].order = -1;
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
        const bool again = s.order >= 0;
        if (!again) s.order = given_++;
        s.view = {};
        return {&s.text, &s.view, again};
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

    // Checks on from where the last call stopped: the declared attributes
    // in declaration order (defaults filled in, listed values tested), then
    // the undeclared names in delivery order. Returns the next problem, or
    // one of kind none when the tag is checked.
    [[gnu::always_inline]] AttributeProblem next_problem() {
        if (cursor_ < rule_->attribute_count) {
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
        const AttributeRule& r = rule_->attributes[rule];
        slots_[static_cast<size_t>(rule)].value = std::string_view(r.default_value, r.default_length);
    }

    // The checked attributes in delivery order. The list is in `scratch` or
    // in storage of this object, valid until the next tag.
    std::span<const Attribute> deliver(std::vector<Attribute>& scratch);

private:
    struct Slot {
        std::string text;        // the value read, unless `view` shows it
        std::string_view view;   // the value read, in the input's buffer
        std::string_view value;  // the checked value: the one read, or a default
        int32_t order = -1;      // place among the names given; -1: not given
        std::string_view read() const { return view.data() ? view : std::string_view(text); }
    };

    [[gnu::noinline]] ValueTarget undeclared_target(std::string_view name);
    AttributeProblem check_rules();
    [[gnu::noinline]] AttributeProblem next_undeclared();
    std::span<const Attribute> deliver_mixed(std::vector<Attribute>& out);

    const ElementRule* rule_ = nullptr;
    int32_t element_ = -1;
    int32_t given_ = 0;
    int32_t last_ = -1;    // rule of the name given last
    int32_t cursor_ = 0;   // next rule (then undeclared entry) to check
    bool dropped_ = false;  // something is left out of delivery
    std::vector<Slot> slots_;
    AttributeSet undeclared_;
    std::vector<AttributeSet::Entry*> unchecked_;  // undeclared names in delivery order
    std::vector<uint64_t> keys_;                       // scratch
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
    Order& order_of_element();
    std::vector<Order> orders_;
};

}  // namespace tarvo
