// Stack of references, iterated from the bottom. Items are not owned.
#pragma once

#include <cstdint>
#include <vector>

namespace tarvo {

template <class T>
class PtrStack {
public:
    void push(T* item) { items_.push_back(item); }
    T* pop() {
        if (items_.empty()) return nullptr;
        T* top = items_.back();
        items_.pop_back();
        return top;
    }
    int32_t count() const { return static_cast<int32_t>(items_.size()); }
    bool is_empty() const { return items_.empty(); }
    T* top() const { return items_.empty() ? nullptr : items_.back(); }
    void clear() { items_.clear(); }
    auto begin() const { return items_.begin(); }
    auto end() const { return items_.end(); }

private:
    std::vector<T*> items_;
};

}  // namespace tarvo
