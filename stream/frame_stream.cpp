#include "stream/frame_stream.h"

#include <chrono>
#include <functional>
#include <nlohmann/json.hpp>
#include <zmq.hpp>

namespace ulvarin {
namespace {

using Json = nlohmann::json;

// Messages a consumer's queue holds before frames are dropped for it: a few seconds of
// four-chip frames at the link's rate, beyond what the system's socket buffers hold.
constexpr int kQueuedMessages = 64;
constexpr int kLingerMilliseconds = 1000;

int64_t MicrosecondsNow() {
    using namespace std::chrono;
    return duration_cast<microseconds>(system_clock::now().time_since_epoch()).count();
}

}  // namespace

struct FrameStream::Socket {
    zmq::context_t context{1};
    zmq::socket_t socket{context, zmq::socket_type::xpub};

    // Takes the subscription messages that have come in; true when one subscribed.
    bool TakeSubscriptions() {
        bool subscribed = false;
        zmq::message_t message;
        while (socket.recv(message, zmq::recv_flags::dontwait))
            if (message.size() > 0 && message.data<uint8_t>()[0] == 1) subscribed = true;
        return subscribed;
    }
    // Sends a header and, when given, the frame; false when a consumer's queue is full.
    bool Send(const Json& header, std::span<const uint32_t> frame = {}) {
        const std::string text = header.dump();
        const auto more = frame.empty() ? zmq::send_flags::dontwait
                                        : zmq::send_flags::dontwait | zmq::send_flags::sndmore;
        if (!socket.send(zmq::buffer(text), more)) return false;
        if (frame.empty()) return true;
        // With the first part taken, the second always is: the message goes whole or not at all.
        return socket.send(zmq::buffer(frame.data(), frame.size_bytes()), zmq::send_flags::none)
            .has_value();
    }
};

FrameStream::FrameStream(std::unique_ptr<Socket> socket, const RunDescription& run)
    : socket_(std::move(socket)),
      layout_(run.layout),
      countModes_(run.countModes),
      scanDac_(run.scanDac),
      series_(MicrosecondsNow()),
      image_(GeometryFor(run.layout.chipCount).pixels()) {}

FrameStream::~FrameStream() {
    Close();
}

std::unique_ptr<FrameStream> FrameStream::Open(const std::string& endpoint, const RunDescription& run,
                                               double waitSeconds, std::string& error) {
    auto socket = std::make_unique<Socket>();
    try {
        socket->socket.set(zmq::sockopt::sndhwm, kQueuedMessages);
        socket->socket.set(zmq::sockopt::linger, kLingerMilliseconds);
        // A full queue refuses the send (counted as a drop) rather than losing it unseen.
        socket->socket.set(zmq::sockopt::xpub_nodrop, 1);
        socket->socket.bind(endpoint);
    } catch (const zmq::error_t& e) {
        error = "Cannot open the stream at " + endpoint + ": " + e.what();
        return nullptr;
    }
    if (waitSeconds > 0) {
        zmq::pollitem_t item{socket->socket.handle(), 0, ZMQ_POLLIN, 0};
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(waitSeconds);
        while (!socket->TakeSubscriptions()) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            if (left.count() <= 0) break;
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
    stream->socket_->Send(start);
    return stream;
}

bool FrameStream::Append(std::span<const int32_t> counts, const FrameInfo& info) {
    if (!socket_) return Fail("The stream is closed.");
    if (counts.size() < layout_.pixelsInUse()) return Fail("Too few values for a frame.");
    socket_->TakeSubscriptions();
    ImageOrderCounts(counts, layout_, image_);
    const ImageGeometry g = GeometryFor(layout_.chipCount);
    Json header = {{"htype", "frame"},
                   {"series", series_},
                   {"frame", info.number > 0 ? info.number : frames_ + dropped_ + 1},
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
    try {
        if (socket_->Send(header, image_))
            ++frames_;
        else
            ++dropped_;
    } catch (const zmq::error_t& e) {
        return Fail(std::string("Streaming a frame failed: ") + e.what());
    }
    return true;
}

bool FrameStream::Close() {
    if (!socket_) return error_.empty();
    const Json end = {{"htype", "series_end"}, {"series", series_}, {"frames", frames_},
                      {"dropped", dropped_}};
    try {
        // The end may wait a moment for room: a consumer should learn the series is over.
        socket_->socket.set(zmq::sockopt::sndtimeo, kLingerMilliseconds);
        socket_->socket.send(zmq::buffer(end.dump()), zmq::send_flags::none);
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
