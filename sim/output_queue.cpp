#include "sim/output_queue.h"

#include <algorithm>
#include <cstring>

namespace ulvarin::sim {

void OutputQueue::Push(std::vector<uint8_t> bytes, Clock::time_point at) {
    if (bytes.empty()) return;
    if (!chunks_.empty()) at = std::max(at, chunks_.back().at);
    size_ += bytes.size();
    chunks_.push_back({at, std::move(bytes)});
}

size_t OutputQueue::Available(Clock::time_point now) const {
    size_t total = 0;
    for (const Chunk& chunk : chunks_) {
        if (chunk.at > now) break;
        total += chunk.bytes.size();
    }
    return chunks_.empty() || chunks_.front().at > now ? 0 : total - headOffset_;
}

size_t OutputQueue::Take(uint8_t* out, size_t wanted, Clock::time_point now) {
    size_t taken = 0;
    while (taken < wanted && !chunks_.empty() && chunks_.front().at <= now) {
        const auto& bytes = chunks_.front().bytes;
        const size_t n = std::min(wanted - taken, bytes.size() - headOffset_);
        std::memcpy(out + taken, bytes.data() + headOffset_, n);
        taken += n;
        headOffset_ += n;
        if (headOffset_ == bytes.size()) {
            chunks_.pop_front();
            headOffset_ = 0;
        }
    }
    size_ -= taken;
    return taken;
}

std::optional<std::vector<uint8_t>> OutputQueue::PopChunk(Clock::time_point now,
                                                          Clock::time_point& at) {
    if (chunks_.empty() || chunks_.front().at > now) return std::nullopt;
    Chunk chunk = std::move(chunks_.front());
    chunks_.pop_front();
    chunk.bytes.erase(chunk.bytes.begin(), chunk.bytes.begin() + static_cast<std::ptrdiff_t>(headOffset_));
    headOffset_ = 0;
    size_ -= chunk.bytes.size();
    at = chunk.at;
    return std::move(chunk.bytes);
}

std::optional<Clock::time_point> OutputQueue::NextArrival(Clock::time_point now) const {
    for (const Chunk& chunk : chunks_)
        if (chunk.at > now) return chunk.at;
    return std::nullopt;
}

void OutputQueue::DropAvailable(Clock::time_point now) {
    while (!chunks_.empty() && chunks_.front().at <= now) {
        size_ -= chunks_.front().bytes.size() - headOffset_;
        chunks_.pop_front();
        headOffset_ = 0;
    }
}

void OutputQueue::Clear() {
    chunks_.clear();
    headOffset_ = 0;
    size_ = 0;
}

}  // namespace ulvarin::sim
