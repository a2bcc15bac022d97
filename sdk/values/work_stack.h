// sdk/values/work_stack.h - the explicit stack of the tree walks, the
// readers and the tree builder (internal to the SDK; installed only because
// PropertyBuilder keeps its stacks in it).
//
// Copying, releasing and converting trees, and building them from a
// document, never recurse on their depth; they keep their pending work here
// instead. The first kInline entries live in
// the object itself, so walking a small tree allocates nothing; a deeper or
// wider one spills to one heap block that doubles (std::bad_alloc when it
// cannot). The entries stay contiguous, so a range of them can be reordered.
#pragma once

#include <algorithm>
#include <cstddef>
#include <memory>
#include <utility>

namespace Korvo::detail {

template <typename T, size_t kInline = 32>
class WorkStack {
public:
    WorkStack() = default;
    WorkStack(const WorkStack&) = delete;
    WorkStack& operator=(const WorkStack&) = delete;

    void push_back(const T& entry) {
        if (size_ == capacity_) Grow();
        data_[size_++] = entry;
    }
    template <typename... Args>
    void emplace_back(Args&&... args) {
        push_back(T(std::forward<Args>(args)...));
    }
    [[nodiscard]] bool empty() const noexcept { return size_ == 0; }
    [[nodiscard]] size_t size() const noexcept { return size_; }
    [[nodiscard]] const T& back() const noexcept { return data_[size_ - 1]; }
    [[nodiscard]] T& back() noexcept { return data_[size_ - 1]; }
    [[nodiscard]] T& operator[](size_t index) noexcept { return data_[index]; }
    void pop_back() noexcept { --size_; }
    // Drops the entries from count on.
    void truncate(size_t count) noexcept { size_ = std::min(size_, count); }
    void clear() noexcept { size_ = 0; }
    // Room for count entries in all, so that pushing up to them cannot throw.
    void reserve(size_t count) {
        while (capacity_ < count) Grow();
    }
    [[nodiscard]] T* data() noexcept { return data_; }
    T* begin() noexcept { return data_; }
    T* end() noexcept { return data_ + size_; }

private:
    void Grow() {
        auto grown = std::make_unique<T[]>(capacity_ * 2);
        std::copy(data_, data_ + size_, grown.get());
        heap_ = std::move(grown);
        data_ = heap_.get();
        capacity_ *= 2;
    }

    T inline_[kInline];
    std::unique_ptr<T[]> heap_;
    T* data_ = inline_;
    size_t size_ = 0;
    size_t capacity_ = kInline;
};

}  // namespace Korvo::detail
