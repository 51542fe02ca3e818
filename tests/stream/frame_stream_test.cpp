// The live stream with several consumers at once: one that keeps up, one that never reads
// until the end and one that leaves during the run.
#include "stream/frame_stream.h"

#include <gtest/gtest.h>

#include <chrono>
#include <nlohmann/json.hpp>
#include <thread>
#include <vector>
#include <zmq.hpp>

namespace ulvarin {
namespace {

using Json = nlohmann::json;

struct Received {
    std::vector<int64_t> frames;  // the frame numbers, in order
    Json end;                     // series_end, when it came
    int64_t consumer = 0;
};

// Takes what `sub` has (waiting up to `waitMs` for each message) into `into`, until
// series_end, frame `until` (when given) or nothing more comes.
void Take(zmq::socket_t& sub, Received& into, int waitMs, int64_t until = 0) {
    sub.set(zmq::sockopt::rcvtimeo, waitMs);
    zmq::message_t part;
    const auto reached = [&] {
        return !into.end.is_null() ||
               (until > 0 && !into.frames.empty() && into.frames.back() >= until);
    };
    while (!reached() && sub.recv(part)) {
        const Json header = Json::parse(part.to_string_view());
        into.consumer = header.at("consumer").get<int64_t>();
        if (header["htype"] == "frame") into.frames.push_back(header["frame"].get<int64_t>());
        if (header["htype"] == "series_end") into.end = header;
        while (part.more() && sub.recv(part)) {
        }
    }
}

// Contiguous numbers from the first to the last.
bool Contiguous(const std::vector<int64_t>& numbers) {
    for (size_t i = 1; i < numbers.size(); ++i)
        if (numbers[i] != numbers[i - 1] + 1) return false;
    return !numbers.empty();
}

TEST(FrameStream, AConsumerThatFallsBehindLosesOnlyItsOwnFramesAndOneThatLeavesIsForgotten) {
    RunDescription run;
    run.layout = {1, ChipFamily::Timepix};
    std::string error;
    std::unique_ptr<FrameStream> stream = FrameStream::Open("tcp://127.0.0.1:*", run, 0, error);
    ASSERT_TRUE(stream) << error;
    zmq::context_t context;
    zmq::socket_t keeps(context, zmq::socket_type::sub), stuck(context, zmq::socket_type::sub),
        leaves(context, zmq::socket_type::sub);
    stuck.set(zmq::sockopt::rcvhwm, 1);
    stuck.set(zmq::sockopt::rcvbuf, 65536);
    for (zmq::socket_t* sub : {&keeps, &stuck, &leaves}) {
        sub->set(zmq::sockopt::subscribe, "");
        sub->connect(stream->endpoint());
    }
    const std::vector<int32_t> counts(run.layout.pixelsInUse(), 5);
    Received kept, late;
    // Subscriptions are heard as frames go out: send until every consumer has joined, or
    // (failing) until the deadline.
    const auto sendUntil = [&](auto done) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (!done() && std::chrono::steady_clock::now() < deadline) {
            ASSERT_TRUE(stream->Append(counts, {}));
            Take(keeps, kept, 0);
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    };
    sendUntil([&] { return stream->consumers() == 3; });
    ASSERT_EQ(stream->consumers(), 3);

    leaves.close();
    // The first consumer takes each frame before the next is sent.
    for (int i = 0; i < 300; ++i) {
        ASSERT_TRUE(stream->Append(counts, {}));
        Take(keeps, kept, 10000, stream->frames());
    }
    sendUntil([&] { return stream->consumers() == 2; });
    EXPECT_EQ(stream->consumers(), 2) << "the consumer that left is still sent to";

    // The stuck consumer reads at last, while series_end waits for room in its queue.
    std::thread reader([&] { Take(stuck, late, 10000); });
    const int64_t published = stream->frames();
    const int64_t dropped = stream->dropped();
    stream->Close();
    reader.join();
    Take(keeps, kept, 10000);

    // Each consumer's series_end counts its own frames from the one it joined at: those it
    // got and those it lost.
    struct Case {
        const char* name;
        const Received& got;
        bool loses;
    };
    for (const Case& c : {Case{"keeps up", kept, false}, Case{"stuck", late, true}}) {
        SCOPED_TRACE(c.name);
        ASSERT_FALSE(c.got.end.is_null()) << "no series_end";
        ASSERT_FALSE(c.got.frames.empty());
        const int64_t sent = c.got.end["frames"].get<int64_t>();
        const int64_t lost = c.got.end["dropped"].get<int64_t>();
        EXPECT_EQ(c.got.end["consumer"], c.got.consumer);
        EXPECT_EQ(sent, static_cast<int64_t>(c.got.frames.size()));
        EXPECT_EQ(sent + lost, published - c.got.frames.front() + 1);
        EXPECT_EQ(lost > 0, c.loses) << lost;
        EXPECT_EQ(Contiguous(c.got.frames) && c.got.frames.back() == published, !c.loses);
    }
    EXPECT_NE(kept.consumer, late.consumer);
    // The run's count is the stuck consumer's: no other consumer lost a frame.
    EXPECT_EQ(dropped, late.end["dropped"].get<int64_t>());
}

}  // namespace
}  // namespace ulvarin
