// A growable array with its own lock, held for each operation. Elements live
// in a deque, so the address of a stored element stays valid until Clear even
// while the search thread appends and the interface thread reads.
#pragma once

#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>

namespace veld {

template <typename T>
class RecordArray {
public:
    using ReleaseHook = std::function<void(T*)>;

    explicit RecordArray(ReleaseHook release = {}) : release_(std::move(release)) {}

    // Appends a copy (moved in); returns the stored element's address.
    T* Add(T element) {
        std::lock_guard<std::recursive_mutex> guard(lock_);
        items_.push_back(std::move(element));
        return &items_.back();
    }
    // The element's address when index < Count, else null.
    T* Get(size_t index) {
        std::lock_guard<std::recursive_mutex> guard(lock_);
        return index < items_.size() ? &items_[index] : nullptr;
    }
    // A copy of the element taken under the lock.
    std::optional<T> CopyAt(size_t index) {
        std::lock_guard<std::recursive_mutex> guard(lock_);
        if (index >= items_.size()) return std::nullopt;
        return items_[index];
    }
    size_t Count() {
        std::lock_guard<std::recursive_mutex> guard(lock_);
        return items_.size();
    }
    // Removes without calling the release hook.
    void RemoveAt(size_t index) {
        std::lock_guard<std::recursive_mutex> guard(lock_);
        if (index < items_.size()) items_.erase(items_.begin() + std::ptrdiff_t(index));
    }
    void Clear() {
        std::lock_guard<std::recursive_mutex> guard(lock_);
        if (release_)
            for (auto& item : items_) release_(&item);
        items_.clear();
    }
    // Runs fn(element&) for each element under the lock; fn returns false to stop.
    template <typename Fn>
    void ForEach(Fn fn) {
        std::lock_guard<std::recursive_mutex> guard(lock_);
        for (auto& item : items_)
            if (!fn(item)) break;
    }
    void Lock() { lock_.lock(); }
    void Unlock() { lock_.unlock(); }

private:
    std::recursive_mutex lock_;
    std::deque<T> items_;
    ReleaseHook release_;
};

}  // namespace veld
