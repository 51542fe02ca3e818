#include "stream/frame_stream.h"

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>
#include <zmq.hpp>

namespace ulvarin {
namespace {

using Json = nlohmann::json;

// Messages a consumer's queue holds before frames are dropped for it: a few seconds of
// four-chip frames at the link's rate, beyond what the system's socket buffers hold.
constexpr int kQueuedMessages = 64;
constexpr int kLingerMilliseconds = 1000;
// How long series_end waits for room in the queue of a consumer that is behind.
constexpr auto kEndWait = std::chrono::milliseconds(1000);

int64_t MicrosecondsNow() {
    using namespace std::chrono;
    return duration_cast<microseconds>(system_clock::now().time_since_epoch()).count();
}

// Headers freed on this thread. A header that went into a consumer's queue is freed by
// ZeroMQ's own thread once sent; one freed on the sending thread while being sent matched
// no queue: its consumer has gone.
thread_local int64_t headersFreedHere = 0;

void FreeHeader(void* /*data*/, void* text) {
    delete static_cast<std::string*>(text);
    ++headersFreedHere;
}

}  // namespace

struct FrameStream::Socket {
    // One connected SUB socket that subscribed to everything. The socket hears the
    // consumer's subscription and subscribes its queue alone to `topic`, the opening of every
    // header sent to it, so that each message goes to one consumer and a full queue refuses
    // only that consumer's copy.
    struct Consumer {
        std::string topic;  // {"consumer":N,
        int64_t sent = 0, dropped = 0;
    };
    enum class Sent { kQueued, kFull, kGone };

    zmq::context_t context{1};
    zmq::socket_t socket{context, zmq::socket_type::xpub};
    std::vector<Consumer> consumers;
    int64_t numbered = 0;

    // Takes the subscriptions that have come in; true when a consumer joined.
    bool TakeSubscriptions() {
        bool joined = false;
        zmq::message_t message;
        while (socket.recv(message, zmq::recv_flags::dontwait)) {
            // A subscription to everything ("\x01" alone); other topics never matched a
            // message and, taken as consumers, would receive each message twice.
            if (message.size() != 1 || message.data<uint8_t>()[0] != 1) continue;
            Consumer consumer;
            consumer.topic = "{\"consumer\":" + std::to_string(++numbered) + ",";
            // Applies to the queue the subscription just received came from.
            socket.set(zmq::sockopt::subscribe, consumer.topic);
            consumers.push_back(std::move(consumer));
            joined = true;
        }
        return joined;
    }

    // Sends `consumer` its header: `body`, a JSON object, with the consumer's number first.
    Sent SendHeader(const Consumer& consumer, const std::string& body, zmq::send_flags flags) {
        auto text = std::make_unique<std::string>(consumer.topic);
        text->append(body, 1);
        zmq::message_t header(text->data(), text->size(), FreeHeader, text.get());
        text.release();  // the message frees it
        const int64_t freedBefore = headersFreedHere;
        if (!socket.send(header, flags)) return Sent::kFull;
        return headersFreedHere == freedBefore ? Sent::kQueued : Sent::kGone;
    }

    // Sends every consumer `body` and, when given, `frame` (shared, not copied); counts the
    // frames each took or lost and forgets consumers that have gone. True when a consumer's
    // queue was full.
    bool Publish(const std::string& body, zmq::message_t* frame) {
        bool full = false;
        const zmq::send_flags flags = frame ? zmq::send_flags::dontwait | zmq::send_flags::sndmore
                                            : zmq::send_flags::dontwait;
        for (size_t i = 0; i < consumers.size();) {
            Consumer& consumer = consumers[i];
            const Sent sent = SendHeader(consumer, body, flags);
            if (sent == Sent::kFull) {
                if (frame) ++consumer.dropped;
                full = true;
                ++i;
                continue;
            }
            if (frame) {
                // With the header taken the frame always is, and must be even when the header
                // went nowhere: the socket holds the message open until its last part.
                zmq::message_t copy;
                if (sent == Sent::kQueued) copy.copy(*frame);
                socket.send(copy, zmq::send_flags::none);
            }
            if (sent == Sent::kGone) {
                consumers.erase(consumers.begin() + static_cast<std::ptrdiff_t>(i));
                continue;
            }
            if (frame) ++consumer.sent;
            ++i;
        }
        return full;
    }

    // Sends each consumer its series_end, waiting up to kEndWait for room in each full queue.
    void End(const Json& end) {
        const auto body = [&](const Consumer& c) {
            Json own = end;
            own["frames"] = c.sent;
            own["dropped"] = c.dropped;
            return own.dump();
        };
        std::vector<const Consumer*> behind;
        for (const Consumer& c : consumers)
            if (SendHeader(c, body(c), zmq::send_flags::dontwait) == Sent::kFull)
                behind.push_back(&c);
        if (behind.empty()) return;
        socket.set(zmq::sockopt::sndtimeo, static_cast<int>(kEndWait.count()));
        for (const Consumer* c : behind) SendHeader(*c, body(*c), zmq::send_flags::none);
    }
};

FrameStream::FrameStream(std::unique_ptr<Socket> socket, const RunDescription& run)
    : socket_(std::move(socket)),
      layout_(run.layout),
      countModes_(run.countModes),
      scanDac_(run.scanDac),
      series_(MicrosecondsNow()) {}

FrameStream::~FrameStream() {
    Close();
}

std::unique_ptr<FrameStream> FrameStream::Open(const std::string& endpoint,
                                               const RunDescription& run, double waitSeconds,
                                               std::string& error,
                                               const std::function<bool()>& stopped) {
    auto socket = std::make_unique<Socket>();
    try {
        socket->socket.set(zmq::sockopt::sndhwm, kQueuedMessages);
        socket->socket.set(zmq::sockopt::linger, kLingerMilliseconds);
        // Subscriptions are the program's to apply: each consumer's queue to its own topic.
        socket->socket.set(zmq::sockopt::xpub_manual, 1);
        // A full queue refuses the send (counted as that consumer's drop) rather than
        // losing it unseen.
        socket->socket.set(zmq::sockopt::xpub_nodrop, 1);
        socket->socket.bind(endpoint);
    } catch (const zmq::error_t& e) {
        error = "Cannot open the stream at " + endpoint + ": " + e.what();
        return nullptr;
    }
    if (waitSeconds > 0) {
        zmq::pollitem_t item{socket->socket.handle(), 0, ZMQ_POLLIN, 0};
        const auto deadline =
            std::chrono::steady_clock::now() + std::chrono::duration<double>(waitSeconds);
        // In slices when a stop request may end the wait.
        constexpr auto kStopSlice = std::chrono::milliseconds(50);
        while (!socket->TakeSubscriptions()) {
            if (stopped && stopped()) break;
            auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            if (left.count() <= 0) break;
            if (stopped) left = std::min(left, kStopSlice);
            zmq::poll(&item, 1, left);
        }
    }
    std::unique_ptr<FrameStream> stream(new FrameStream(std::move(socket), run));
    stream->endpoint_ = stream->socket_->socket.get(zmq::sockopt::last_endpoint);
    const ImageGeometry g = GeometryFor(run.layout.chipCount);
    Json start = {{"htype", "series_start"},
                  {"series", stream->series_},
                  {"chip_type", ChipFamilyName(run.layout.family)},
                  {"chip_count", run.layout.chipCount},
                  {"shape", {g.height(), g.width()}},
                  {"dtype", "uint32"},
                  {"count_mode", run.countModes},
                  {"frames_expected", run.expectedFrames}};
    if (!run.scanDac.empty()) start["dac"] = run.scanDac;
    stream->socket_->Publish(start.dump(), nullptr);
    return stream;
}

int FrameStream::consumers() const {
    return socket_ ? static_cast<int>(socket_->consumers.size()) : 0;
}

bool FrameStream::Append(std::span<const int32_t> counts, const FrameInfo& info) {
    if (!socket_) return Fail("The stream is closed.");
    if (counts.size() < layout_.pixelsInUse()) return Fail("Too few values for a frame.");
    const int64_t number = info.number > 0 ? info.number : frames_ + 1;
    try {
        socket_->TakeSubscriptions();
        if (socket_->consumers.empty()) {
            ++frames_;  // published to nobody: no need to lay the frame out
            return true;
        }
        const ImageGeometry g = GeometryFor(layout_.chipCount);
        zmq::message_t frame(g.pixels() * sizeof(uint32_t));
        ImageOrderCounts(counts, layout_, std::span(frame.data<uint32_t>(), g.pixels()));
        Json header = {{"htype", "frame"},
                       {"series", series_},
                       {"frame", number},
                       {"shape", {g.height(), g.width()}},
                       {"dtype", "uint32"},
                       {"exposure", info.exposure},
                       {"timestamp", info.timestamp},
                       {"chip_type", ChipFamilyName(layout_.family)},
                       {"chip_count", layout_.chipCount},
                       {"count_mode", countModes_}};
        if (!scanDac_.empty()) {
            header["dac"] = scanDac_;
            header["value"] = info.dacValue;
        }
        if (socket_->Publish(header.dump(), &frame)) ++dropped_;
        ++frames_;
    } catch (const zmq::error_t& e) {
        return Fail(std::string("Streaming a frame failed: ") + e.what());
    }
    return true;
}

bool FrameStream::Close() {
    if (!socket_) return error_.empty();
    try {
        // A consumer that joins at the very end still learns the series is over.
        socket_->TakeSubscriptions();
        socket_->End({{"htype", "series_end"}, {"series", series_}});
    } catch (const zmq::error_t&) {
    }
    socket_.reset();
    return error_.empty();
}

bool TeeWriter::Each(const std::function<bool(FrameWriter&)>& call) {
    bool ok = true;
    for (FrameWriter* writer : writers_) {
        if (call(*writer)) continue;
        if (ok) error_ = writer->error();
        ok = false;
    }
    return ok;
}

bool TeeWriter::Append(std::span<const int32_t> counts, const FrameInfo& info) {
    const bool ok = Each([&](FrameWriter& w) { return w.Append(counts, info); });
    if (ok) ++frames_;
    return ok;
}

bool TeeWriter::Close() {
    return Each([](FrameWriter& w) { return w.Close(); });
}

bool TeeWriter::RecordDroppedFrames(int64_t count) {
    return Each([&](FrameWriter& w) { return w.RecordDroppedFrames(count); });
}

}  // namespace ulvarin
