#include "sim/link_model.h"

#include <algorithm>
#include <utility>

namespace ulvarin::sim {
namespace {

// A message on a slow link arrives in pieces of this size, as USB packets would.
constexpr size_t kPieceBytes = 4096;

Clock::duration FromSeconds(double seconds) {
    return std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
}

}  // namespace

void LinkModel::DropNext(size_t bytes) {
    faults_.push_back({Fault::Kind::kDrop, bytes, 0, {}});
}

void LinkModel::CorruptNext(size_t offset, uint8_t xorMask) {
    faults_.push_back({Fault::Kind::kCorrupt, offset, xorMask, {}});
}

void LinkModel::InsertNext(size_t offset, std::vector<uint8_t> bytes) {
    faults_.push_back({Fault::Kind::kInsert, offset, 0, std::move(bytes)});
}

void LinkModel::CutNext(size_t keep) {
    faults_.push_back({Fault::Kind::kCut, keep, 0, {}});
}

void LinkModel::StallUntil(Clock::time_point until) {
    stallUntil_ = std::max(stallUntil_, until);
}

std::optional<LinkModel::WriteFault> LinkModel::TakeWriteFault() {
    return std::exchange(writeFault_, std::nullopt);
}

void LinkModel::Spoil(std::vector<uint8_t>& message) {
    for (const Fault& fault : faults_) {
        const size_t at = std::min(fault.offset, message.size());
        const auto pos = message.begin() + static_cast<std::ptrdiff_t>(at);
        switch (fault.kind) {
            case Fault::Kind::kDrop:
                message.erase(message.begin(), pos);
                break;
            case Fault::Kind::kCorrupt:
                if (fault.offset < message.size()) message[fault.offset] ^= fault.mask;
                break;
            case Fault::Kind::kInsert:
                message.insert(pos, fault.bytes.begin(), fault.bytes.end());
                break;
            case Fault::Kind::kCut:
                message.erase(pos, message.end());
                break;
        }
    }
    faults_.clear();
}

void LinkModel::Deliver(std::vector<uint8_t> message, Clock::time_point sent) {
    const auto start =
        std::max({sent + FromSeconds(timing_.latencySeconds), wireFree_, stallUntil_});
    if (timing_.bytesPerSecond <= 0 || message.empty()) {
        wireFree_ = start;
        received_.Push(std::move(message), start);
        return;
    }
    size_t done = 0;
    while (done < message.size()) {
        const size_t n = std::min(kPieceBytes, message.size() - done);
        const auto begin = message.begin() + static_cast<std::ptrdiff_t>(done);
        done += n;
        wireFree_ = start + FromSeconds(static_cast<double>(done) / timing_.bytesPerSecond);
        received_.Push(std::vector<uint8_t>(begin, begin + static_cast<std::ptrdiff_t>(n)),
                       wireFree_);
    }
}

void LinkModel::Pump(OutputQueue& from, Clock::time_point now) {
    Clock::time_point sent{};
    while (auto message = from.PopChunk(now, sent)) {
        if (!faults_.empty()) Spoil(*message);
        Deliver(std::move(*message), sent);
    }
}

void LinkModel::Reset() {
    faults_.clear();
    writeFault_.reset();
    received_.Clear();
    stallUntil_ = wireFree_ = Clock::time_point{};
}

}  // namespace ulvarin::sim
