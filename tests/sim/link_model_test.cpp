// The link between an emulated interface and the host: faults armed by tests spoil exactly
// the next message, and stalls and slow links delay delivery. How the host copes is tested
// with the device layer.
#include <gtest/gtest.h>

#include "emulator_link.h"
#include "wire/stream_layout.h"

namespace ulvarin::sim::test {
namespace {

using namespace std::chrono_literals;

void Arm(EmulatorLink& link, const std::function<void(LinkModel&)>& fault) {
    link.driver.WithLink(link.interface, fault);
}

TEST(LinkFaults, EachFaultSpoilsOnlyTheNextMessage) {
    EmulatorLink link({MakeInterfaceConfig(ChipFamily::kMxr, 1)});
    link.Open();
    const std::string answer = "#\x01OK\r";
    const struct {
        const char* name;
        std::function<void(LinkModel&)> arm;
        std::string expected;
    } cases[] = {
        {"drop", [](LinkModel& l) { l.DropNext(2); }, "OK\r"},
        {"corrupt", [](LinkModel& l) { l.CorruptNext(2, 0x20); }, "#\x01oK\r"},
        {"insert", [](LinkModel& l) { l.InsertNext(1, {'x', 'y'}); }, "#xy\x01OK\r"},
        {"cut", [](LinkModel& l) { l.CutNext(3); }, "#\x01O"},
        {"cut and corrupt", [](LinkModel& l) { l.CorruptNext(0, 0x01); l.CutNext(1); }, "\""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Arm(link, c.arm);
        link.Send("##");
        EXPECT_EQ(link.Receive(c.expected.size() + answer.size(), 300), c.expected + answer);
        EXPECT_EQ(link.Waiting(), 0u);
    }
}

TEST(LinkFaults, StallAndSlowLinkDelayButDeliverEverything) {
    EmulatorLink link({MakeInterfaceConfig(ChipFamily::kTimepix, 1)});
    link.Open();
    Arm(link, [](LinkModel& l) { l.StallUntil(Clock::now() + 200ms); });
    link.Send("#");
    EXPECT_EQ(link.Waiting(), 0u) << "held on the link";
    EXPECT_EQ(link.Receive(5), "#\x01OK\r");

    // 115 kB at 1 MB/s after 0.3 s (long enough that a slowed build still sees nothing at
    // once): not there at once, complete well within the deadline.
    Arm(link, [](LinkModel& l) { l.SetTiming({1e6, 0.3}); });
    link.Send("m");
    EXPECT_EQ(link.Waiting(), 0u);
    const size_t frame = 1 + 6 + FrameStreamBytes(1, true) + 3;
    const std::string answer = link.Receive(frame, 5000);
    ASSERT_EQ(answer.size(), frame);
    EXPECT_EQ(answer.substr(frame - 3), "OK\r");
}

}  // namespace
}  // namespace ulvarin::sim::test
