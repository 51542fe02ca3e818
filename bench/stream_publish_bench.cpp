// Publishing four-chip frames on the live stream to 1 and 4 local consumers over TCP: the
// stream as built (each consumer gets its own header and shares the frame's bytes, so a
// consumer that falls behind loses only its own frames) against one send shared by every
// consumer, the way the stream published before (a full queue then cost every consumer the
// frame). Each reports frames/s published, the share of the frames the consumers received
// and the frames received per second by all of them; the ratio of frames/s, per-consumer
// sends over the single send, is the cost of the copies.
#include <benchmark/benchmark.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <limits>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>
#include <thread>
#include <vector>
#include <zmq.hpp>

#include "stream/frame_stream.h"

namespace ulvarin {
namespace {

constexpr int kChips = 4;
constexpr int kQueuedMessages = 64;  // the stream's own queue per consumer

const ChipLayout& Quad() {
    static const ChipLayout layout{kChips, ChipFamily::Timepix};
    return layout;
}

const std::vector<int32_t>& Counts() {
    static const std::vector<int32_t> counts = [] {
        std::vector<int32_t> c(Quad().pixelsInUse());
        for (size_t i = 0; i < c.size(); ++i) c[i] = static_cast<int32_t>((i * 2654435761u) >> 20);
        return c;
    }();
    return counts;
}

// SUB sockets on threads of their own, each reading every message until a series_end (or
// two quiet seconds) and counting the frames it received.
class Consumers {
public:
    Consumers(const std::string& endpoint, int count) {
        for (int i = 0; i < count; ++i) {
            auto sub = std::make_unique<zmq::socket_t>(context_, zmq::socket_type::sub);
            sub->set(zmq::sockopt::subscribe, "");
            sub->set(zmq::sockopt::rcvtimeo, 2000);
            sub->connect(endpoint);
            threads_.emplace_back([this, s = std::move(sub)] { Read(*s); });
        }
    }
    ~Consumers() { Join(); }
    void Join() {
        for (std::thread& t : threads_)
            if (t.joinable()) t.join();
    }
    // Frames numbered below `first` are not counted; until this is called, none is.
    void CountFrom(int64_t first) { first_.store(first); }
    int64_t received() const { return received_.load(); }

private:
    void Read(zmq::socket_t& sub) {
        zmq::message_t part;
        while (sub.recv(part)) {
            const std::string_view header = part.to_string_view();
            if (!part.more() && header.find("series_end") != std::string_view::npos) break;
            const size_t at = header.find("\"frame\":");
            const int64_t number =
                at == std::string_view::npos ? 0 : std::atoll(header.data() + at + 8);
            const bool frame = part.more();
            while (part.more() && sub.recv(part)) {
            }
            if (frame && number >= first_.load()) ++received_;
        }
        sub.close();
    }

    zmq::context_t context_{1};
    std::vector<std::thread> threads_;
    std::atomic<int64_t> received_{0}, first_{std::numeric_limits<int64_t>::max()};
};

// The stream before: one XPUB send that every subscribed consumer shares, refused whole
// when any consumer's queue is full.
class SingleSendPublisher {
public:
    SingleSendPublisher() {
        socket_.set(zmq::sockopt::sndhwm, kQueuedMessages);
        socket_.set(zmq::sockopt::linger, 1000);
        socket_.set(zmq::sockopt::xpub_nodrop, 1);
        socket_.set(zmq::sockopt::xpub_verbose, 1);  // every consumer's subscription is heard
        socket_.set(zmq::sockopt::rcvtimeo, 5000);
        socket_.bind("tcp://127.0.0.1:*");
    }
    std::string endpoint() const { return socket_.get(zmq::sockopt::last_endpoint); }
    bool WaitForConsumers(int count) {
        zmq::message_t subscription;
        for (int heard = 0; heard < count;)
            if (!socket_.recv(subscription))
                return false;
            else if (subscription.size() == 1 && subscription.data<uint8_t>()[0] == 1)
                ++heard;
        return true;
    }
    void Publish(int64_t number) {
        ImageOrderCounts(Counts(), Quad(), image_);
        const std::string header =
            nlohmann::json{{"htype", "frame"},  {"frame", number},        {"shape", {512, 512}},
                           {"dtype", "uint32"}, {"chip_type", "Timepix"}, {"chip_count", kChips}}
                .dump();
        if (socket_.send(zmq::buffer(header), zmq::send_flags::dontwait | zmq::send_flags::sndmore))
            socket_.send(zmq::buffer(image_), zmq::send_flags::none);
    }
    void End() {
        socket_.set(zmq::sockopt::sndtimeo, 1000);
        socket_.send(zmq::str_buffer("{\"htype\":\"series_end\"}"), zmq::send_flags::none);
    }

private:
    zmq::context_t context_{1};
    zmq::socket_t socket_{context_, zmq::socket_type::xpub};
    std::vector<uint32_t> image_ = std::vector<uint32_t>(GeometryFor(kChips).pixels());
};

void Report(benchmark::State& state, int64_t published, int64_t received) {
    state.counters["frames/s"] =
        benchmark::Counter(static_cast<double>(published), benchmark::Counter::kIsRate);
    const double copies = static_cast<double>(published) * static_cast<double>(state.range(0));
    state.counters["received"] = copies > 0 ? static_cast<double>(received) / copies : 0;
    state.counters["delivered/s"] =
        benchmark::Counter(static_cast<double>(received), benchmark::Counter::kIsRate);
}

void BM_StreamPerConsumer(benchmark::State& state) {
    const int count = static_cast<int>(state.range(0));
    RunDescription run;
    run.layout = Quad();
    std::string error;
    std::unique_ptr<FrameStream> stream = FrameStream::Open("tcp://127.0.0.1:*", run, 0, error);
    if (!stream) {
        state.SkipWithError(error.c_str());
        return;
    }
    Consumers consumers(stream->endpoint(), count);
    // The stream hears subscriptions as it sends: frames until every consumer has joined,
    // not counted.
    FrameInfo info;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (stream->consumers() < count && std::chrono::steady_clock::now() < deadline) {
        stream->Append(Counts(), info);
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    const int64_t warmUp = stream->frames();
    consumers.CountFrom(warmUp + 1);
    for (auto _ : state) stream->Append(Counts(), info);
    const int64_t published = stream->frames() - warmUp;
    stream->Close();
    consumers.Join();
    Report(state, published, consumers.received());
}
BENCHMARK(BM_StreamPerConsumer)->Arg(1)->Arg(4)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_StreamSingleSendReference(benchmark::State& state) {
    const int count = static_cast<int>(state.range(0));
    SingleSendPublisher publisher;
    Consumers consumers(publisher.endpoint(), count);
    if (!publisher.WaitForConsumers(count)) {
        state.SkipWithError("the consumers did not subscribe");
        return;
    }
    consumers.CountFrom(1);
    int64_t published = 0;
    for (auto _ : state) publisher.Publish(++published);
    publisher.End();
    consumers.Join();
    Report(state, published, consumers.received());
}
BENCHMARK(BM_StreamSingleSendReference)
    ->Arg(1)
    ->Arg(4)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

}  // namespace
}  // namespace ulvarin
