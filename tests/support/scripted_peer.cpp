#include "tests/support/scripted_peer.h"

#include <algorithm>
#include <cstring>

namespace ulvarin::test {

namespace {
void CopyText(char (&out)[kFtStringSize], const std::string& text) {
    std::memset(out, 0, kFtStringSize);
    std::memcpy(out, text.data(), std::min<size_t>(text.size(), kFtStringSize - 1));
}
std::chrono::steady_clock::duration Seconds(double s) {
    return std::chrono::duration_cast<std::chrono::steady_clock::duration>(
        std::chrono::duration<double>(s));
}
}  // namespace

void ScriptedPeer::AddDevice(std::string description, std::string serial) {
    std::lock_guard lock(mutex_);
    devices_.push_back({std::move(description), std::move(serial)});
}

void ScriptedPeer::FailNext(const std::string& call, FtStatus status) {
    std::lock_guard lock(mutex_);
    failNext_.emplace_back(call, status);
}

void ScriptedPeer::FailAlways(const std::string& call, FtStatus status) {
    std::lock_guard lock(mutex_);
    std::erase_if(failAlways_, [&](auto& f) { return f.first == call; });
    if (status != FT_OK) failAlways_.emplace_back(call, status);
}

FtStatus ScriptedPeer::Injected(const std::string& call) {
    for (auto it = failNext_.begin(); it != failNext_.end(); ++it) {
        if (it->first == call) {
            FtStatus s = it->second;
            failNext_.erase(it);
            return s;
        }
    }
    for (auto& f : failAlways_)
        if (f.first == call) return f.second;
    return FT_OK;
}

void ScriptedPeer::Play(const std::string& bytes, double delay) {
    std::lock_guard lock(mutex_);
    Clock::time_point base = Clock::now();
    if (!chunks_.empty()) base = std::max(base, chunks_.back().at);
    chunks_.push_back({base + Seconds(delay), bytes});
    arrived_.notify_all();
}

void ScriptedPeer::ReplyToWrite(const std::string& bytes, double delay) {
    std::lock_guard lock(mutex_);
    replies_.push_back({bytes, delay});
}

std::string ScriptedPeer::Written() const {
    std::lock_guard lock(mutex_);
    return written_;
}

void ScriptedPeer::ClearWritten() {
    std::lock_guard lock(mutex_);
    written_.clear();
}

int ScriptedPeer::WriteCalls() const {
    std::lock_guard lock(mutex_);
    return writeCalls_;
}

int ScriptedPeer::ReadCalls() const {
    std::lock_guard lock(mutex_);
    return readCalls_;
}

int ScriptedPeer::OpenCalls() const {
    std::lock_guard lock(mutex_);
    return openCalls_;
}

int ScriptedPeer::DetailCalls() const {
    std::lock_guard lock(mutex_);
    return detailCalls_;
}

size_t ScriptedPeer::Pending() const {
    std::lock_guard lock(mutex_);
    size_t n = 0;
    for (auto& c : chunks_) n += c.Left();
    return n;
}

uint32_t ScriptedPeer::ReadTimeoutMs() const {
    std::lock_guard lock(mutex_);
    return readTimeoutMs_;
}

size_t ScriptedPeer::AvailableLocked(Clock::time_point now) const {
    size_t n = 0;
    for (auto& c : chunks_) {
        if (c.at > now) break;
        n += c.Left();
    }
    return n;
}

ScriptedPeer::Clock::time_point ScriptedPeer::NextArrivalLocked() const {
    for (auto& c : chunks_)
        if (c.Left() != 0) return c.at;
    return Clock::time_point::max();
}

FtStatus ScriptedPeer::CreateDeviceInfoList(uint32_t& count) {
    std::lock_guard lock(mutex_);
    count = 0;
    if (FtStatus s = Injected("CreateDeviceInfoList")) return s;
    count = static_cast<uint32_t>(devices_.size());
    return FT_OK;
}

FtStatus ScriptedPeer::GetDeviceInfoDetail(uint32_t index, char (&description)[kFtStringSize]) {
    std::lock_guard lock(mutex_);
    ++detailCalls_;
    if (FtStatus s = Injected("GetDeviceInfoDetail")) return s;
    if (index >= devices_.size()) return FT_DEVICE_NOT_FOUND;
    CopyText(description, devices_[index].description);
    return FT_OK;
}

FtStatus ScriptedPeer::OpenEx(const char* description, FtHandle& handle) {
    std::lock_guard lock(mutex_);
    ++openCalls_;
    handle = nullptr;
    if (FtStatus s = Injected("OpenEx")) return s;
    for (size_t i = 0; i < devices_.size(); ++i) {
        if (devices_[i].description == description) {
            openIndex_ = static_cast<int>(i);
            open_ = true;
            handle = &handleToken_;
            return FT_OK;
        }
    }
    return FT_DEVICE_NOT_FOUND;
}

FtStatus ScriptedPeer::Purge(FtHandle handle, uint32_t) {
    std::lock_guard lock(mutex_);
    if (handle != &handleToken_ || !open_) return FT_INVALID_HANDLE;
    return Injected("Purge");
}

FtStatus ScriptedPeer::SetTimeouts(FtHandle handle, uint32_t readMs, uint32_t) {
    std::lock_guard lock(mutex_);
    if (handle != &handleToken_ || !open_) return FT_INVALID_HANDLE;
    if (FtStatus s = Injected("SetTimeouts")) return s;
    readTimeoutMs_ = readMs;
    return FT_OK;
}

FtStatus ScriptedPeer::GetDeviceInfo(FtHandle handle, uint32_t& type, uint32_t& id,
                                     char (&serial)[kFtStringSize],
                                     char (&description)[kFtStringSize]) {
    std::lock_guard lock(mutex_);
    if (handle != &handleToken_ || !open_) return FT_INVALID_HANDLE;
    if (FtStatus s = Injected("GetDeviceInfo")) return s;
    type = 5;
    id = 0x04036001;
    CopyText(serial, devices_[openIndex_].serial);
    CopyText(description, devices_[openIndex_].description);
    return FT_OK;
}

FtStatus ScriptedPeer::GetStatus(FtHandle handle, uint32_t& rxQueue) {
    std::lock_guard lock(mutex_);
    rxQueue = 0;
    if (handle != &handleToken_ || !open_) return FT_INVALID_HANDLE;
    if (FtStatus s = Injected("GetStatus")) return s;
    rxQueue = static_cast<uint32_t>(AvailableLocked(Clock::now()));
    return FT_OK;
}

FtStatus ScriptedPeer::Read(FtHandle handle, void* buffer, uint32_t wanted, uint32_t& got) {
    std::unique_lock lock(mutex_);
    ++readCalls_;
    got = 0;
    if (handle != &handleToken_ || !open_) return FT_INVALID_HANDLE;
    if (FtStatus s = Injected("Read")) return s;
    const auto deadline = Clock::now() + std::chrono::milliseconds(readTimeoutMs_);
    auto* out = static_cast<char*>(buffer);
    while (got < wanted) {
        auto now = Clock::now();
        while (got < wanted && !chunks_.empty() && chunks_.front().at <= now) {
            Chunk& c = chunks_.front();
            size_t take = std::min<size_t>(wanted - got, c.Left());
            std::memcpy(out + got, c.bytes.data() + c.taken, take);
            got += static_cast<uint32_t>(take);
            c.taken += take;
            if (c.Left() == 0) chunks_.pop_front();
        }
        if (got >= wanted || now >= deadline) break;
        arrived_.wait_until(lock, std::min(deadline, NextArrivalLocked()));
    }
    return FT_OK;
}

FtStatus ScriptedPeer::Write(FtHandle handle, const void* bytes, uint32_t length,
                             uint32_t& written) {
    std::lock_guard lock(mutex_);
    ++writeCalls_;
    written = 0;
    if (handle != &handleToken_ || !open_) return FT_INVALID_HANDLE;
    if (FtStatus s = Injected("Write")) return s;
    written_.append(static_cast<const char*>(bytes), length);
    written = length;
    if (!replies_.empty()) {
        Reply r = replies_.front();
        replies_.pop_front();
        Clock::time_point base = Clock::now();
        if (!chunks_.empty()) base = std::max(base, chunks_.back().at);
        chunks_.push_back({base + Seconds(r.delay), r.bytes});
        arrived_.notify_all();
    }
    return FT_OK;
}

FtStatus ScriptedPeer::Close(FtHandle handle) {
    std::lock_guard lock(mutex_);
    if (handle != &handleToken_ || !open_) return FT_INVALID_HANDLE;
    if (FtStatus s = Injected("Close")) return s;
    open_ = false;
    arrived_.notify_all();
    return FT_OK;
}

void ScriptedPeer::WaitForData(FtHandle handle, double seconds) {
    std::unique_lock lock(mutex_);
    const auto deadline = Clock::now() + Seconds(std::max(0.0, seconds));
    while (handle == &handleToken_ && open_ && AvailableLocked(Clock::now()) == 0) {
        auto until = std::min(deadline, NextArrivalLocked());
        if (Clock::now() >= deadline) break;
        arrived_.wait_until(lock, until);
    }
}

}  // namespace ulvarin::test
