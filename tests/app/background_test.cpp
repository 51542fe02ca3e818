// Messages the interface sends on its own, as the window takes them: frames, text, scope
// shots, ignored and unknown letters, from the GUI thread and from another thread.
#include <QListWidget>
#include <thread>
#include <vector>

#include "device/protocol.h"
#include "tests/app/window_fixture.h"

namespace ulvarin::test {
namespace {

class BackgroundTest : public WindowTest {
protected:
    void SetUp() override {
        Start("medipix2:1");
        ASSERT_EQ(form->shared.chipCount, 1u);
        form->messages->BttnClearMsgListClick();
    }

    // A frame record as the protocol hands it over; `pixels` empty means no destination.
    void SendFrame(int32_t number, double time, std::vector<uint16_t>& pixels) {
        MpxCommandResponse record(false, pixels.empty() ? nullptr : pixels.data(),
                                  static_cast<uint32_t>(pixels.size()));
        record.letter = 'm';
        record.frameNumber = number;
        record.time = time;
        form->HandleBackgroundMessage(form->shared.device, record);
    }
    void SendText(const char* text) {
        MpxCommandResponse record(false);
        record.messageText = text;
        form->HandleBackgroundMessage(form->shared.device, record);
    }
    void SendLetter(uint8_t letter) {
        MpxCommandResponse record(false);
        record.letter = letter;
        form->HandleBackgroundMessage(form->shared.device, record);
    }
};

std::vector<uint16_t> Pattern(uint16_t seed) {
    std::vector<uint16_t> pixels(kChipPixels);
    for (size_t i = 0; i < pixels.size(); ++i) pixels[i] = static_cast<uint16_t>(seed + i % 977);
    return pixels;
}

TEST_F(BackgroundTest, FrameIsReportedAndTakenIntoTheRawFrame) {
    std::vector<uint16_t> pixels = Pattern(5);
    SendFrame(7, 1.5, pixels);
    EXPECT_EQ(LastLine(), "Message: Frame received: ID=0x0007, t=001.5 sec");
    EXPECT_TRUE(std::equal(pixels.begin(), pixels.end(), form->shared.frames.raw().begin()));
    EXPECT_EQ(form->shared.frames.frameTime, 1.5);
    EXPECT_EQ(form->shared.frames.counts()[100], pixels[100]);
}

TEST_F(BackgroundTest, FrameWithoutPixelsKeepsTheRawFrameButTakesItsTime) {
    form->shared.frames.raw()[3] = 42;
    std::vector<uint16_t> none;
    SendFrame(0x1234, 2.25, none);
    EXPECT_EQ(LastLine(), "Message: Frame received: ID=0x1234, t=02.25 sec");
    EXPECT_EQ(form->shared.frames.raw()[3], 42);
    EXPECT_EQ(form->shared.frames.frameTime, 2.25);
}

TEST_F(BackgroundTest, TextIsShownAsItCameEvenWithPercentSigns) {
    SendText("\"50% done %s %n");
    EXPECT_EQ(LastLine(), "Message: \"50% done %s %n");
}

TEST_F(BackgroundTest, ScopeShotsReachThePulseViewAndErasesAreIgnored) {
    SendLetter('$');
    SendLetter('=');
    EXPECT_EQ(form->pulses->pulses().PulseCount(), 1);
    EXPECT_EQ(Control<QListWidget>("ListMsg")->count(), 0);
}

TEST_F(BackgroundTest, OtherLettersAreReportedAsUnhandled) {
    SendLetter('v');
    EXPECT_EQ(LastLine().toStdString(),
              std::string("General error: Unhandled background message: [v = 0x76 .. \"") +
                  CommandName('v') + "\"]");
    // An error message (letter 0) ends the text at the letter.
    form->shared.device.Clear();
    SendLetter(0);
    EXPECT_EQ(LastLine(), "General error: Unhandled background message: [");
}

TEST_F(BackgroundTest, FramesFromAnotherThreadArriveInOrder) {
    std::vector<std::vector<uint16_t>> sent;
    for (uint16_t f = 1; f <= 5; ++f) sent.push_back(Pattern(f * 1000));
    std::thread([&] {
        MpxDevice handle(form->shared.device.device);
        for (int f = 0; f < 5; ++f) {
            MpxCommandResponse record(false, sent[f].data(), kChipPixels);
            record.letter = 'C';
            record.frameNumber = f + 1;
            record.time = f;
            form->HandleBackgroundMessage(handle, record);
            sent[f].assign(kChipPixels, 0);  // the record's buffer is reused at once
        }
    }).join();
    ASSERT_TRUE(WaitFor([&] { return form->shared.frames.frameTime == 4.0; }));
    const std::vector<uint16_t> last = Pattern(5000);
    EXPECT_TRUE(std::equal(last.begin(), last.end(), form->shared.frames.raw().begin()));
    const QStringList lines = Lines();
    ASSERT_EQ(lines.size(), 5);
    for (int f = 0; f < 5; ++f)
        EXPECT_TRUE(lines[f].startsWith(QString("Message: Frame received: ID=0x000%1").arg(f + 1)));
}

}  // namespace
}  // namespace ulvarin::test
