// Stack of references with index access: index 0 is the bottom, negative
// indices count from the top (-1 is the top). Items are not owned.
#pragma once

#include <cstdint>
#include <vector>

namespace tarvo {

template <class T>
class PtrStack {
public:
    void push(T* item) { items_.push_back(item); }
    void extend(const PtrStack& other) { items_.insert(items_.end(), other.items_.begin(), other.items_.end()); }
    T* pop() {
        if (items_.empty()) return nullptr;
        T* top = items_.back();
        items_.pop_back();
        return top;
    }
    int32_t count() const { return static_cast<int32_t>(items_.size()); }
    bool is_empty() const { return items_.empty(); }
    T* top() const { return items_.empty() ? nullptr : items_.back(); }
    T* get(int32_t index) const {
        int64_t i = resolve(index);
        return i < 0 ? nullptr : items_[static_cast<size_t>(i)];
    }
    void remove_at(int32_t index) {
        int64_t i = resolve(index);
        if (i >= 0) items_.erase(items_.begin() + i);
    }
    void clear() { items_.clear(); }
    auto begin() const { return items_.begin(); }
    auto end() const { return items_.end(); }

private:
    int64_t resolve(int32_t index) const {
        int64_t i = index < 0 ? int64_t{index} + count() : int64_t{index};
        return (i < 0 || i >= count()) ? -1 : i;
    }
    std::vector<T*> items_;
};

}  // namespace tarvo
