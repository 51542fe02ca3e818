// Bytes in arrival order: appended at the back, taken from the front, amortised O(1) per byte.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

namespace ulvarin {

class ByteFifo {
public:
    size_t Size() const { return data_.size() - head_; }

    void Append(const uint8_t* bytes, size_t count) {
        // Drop the consumed front once it is at least half the storage, so appends stay
        // amortised O(count) without a ring buffer's wrap-around copies.
        if (head_ > 0 && head_ >= data_.size() / 2) {
            data_.erase(data_.begin(), data_.begin() + static_cast<std::ptrdiff_t>(head_));
            head_ = 0;
        }
        data_.insert(data_.end(), bytes, bytes + count);
    }

    // Moves up to `count` bytes from the front into `out`; returns how many.
    size_t Take(uint8_t* out, size_t count) {
        count = std::min(count, Size());
        if (count == 0) return 0;  // `out` may then be null
        std::memcpy(out, data_.data() + head_, count);
        head_ += count;
        if (head_ == data_.size()) Clear();
        return count;
    }

    void Clear() {
        data_.clear();
        head_ = 0;
    }

private:
    std::vector<uint8_t> data_;
    size_t head_ = 0;
};

}  // namespace ulvarin
