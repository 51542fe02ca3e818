// Test helper: one EmulatedInterface driven directly on a clock the test moves by hand,
// so exposures and timers last exactly what the test says, however slow the machine.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "device/counter_codes.h"
#include "device/dac_tables.h"
#include "device/matrix_stream.h"
#include "sim/emulated_interface.h"
#include "wire/stream_layout.h"

namespace ulvarin::sim::test {

class TimedInterface {
public:
    explicit TimedInterface(ChipFamily family, int chips = 1)
        : e(MakeInterfaceConfig(family, chips), now) {}

    void Send(std::string_view bytes) {
        e.Receive(std::span(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()), now);
    }
    void Send(const std::vector<uint8_t>& bytes) { e.Receive(bytes, now); }
    // Moves the clock on and fires what came due.
    void Wait(double seconds) {
        now += std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
        e.Advance(now);
    }
    // Everything the interface has sent by now.
    std::string Output() {
        e.Advance(now);
        std::string bytes(e.Output().Available(now), '\0');
        e.Output().Take(reinterpret_cast<uint8_t*>(bytes.data()), bytes.size(), now);
        return bytes;
    }
    // Everything the interface has sent by now except background blocks, which are
    // appended to `background`.
    std::string Answers() {
        const std::string all = Output();
        std::string answers;
        for (size_t at = 0; at < all.size();) {
            const size_t n = std::min(MessageLength(all, at), all.size() - at);
            (all[at] == '[' ? background : answers) += all.substr(at, n);
            at += n;
        }
        return answers;
    }
    // Sends `command` and returns the interface's answers (background blocks set aside).
    std::string Ask(std::string_view command) {
        Send(command);
        return Answers();
    }

    // Length of the message that starts at `at`: an error, a background block of one item,
    // or a command answer framed by its response kind.
    size_t MessageLength(const std::string& bytes, size_t at) const {
        if (bytes[at] == '!') return bytes.find('\r', at) + 1 - at;
        if (bytes[at] == '[') return bytes[at + 1] == ']' ? 2 : 2 + MessageLength(bytes, at + 1);
        const CommandDescr* d = FindCommand(static_cast<uint8_t>(bytes[at]));
        if (d == nullptr) return 1;
        const auto number = [&](size_t i) {
            return static_cast<size_t>(static_cast<uint8_t>(bytes[i]) |
                                       static_cast<uint8_t>(bytes[i + 1]) << 8);
        };
        switch (d->responseKind) {
            case kRespText: return bytes.find('\r', at) + 1 - at + 3;
            case kRespTimedFrame: return 1 + 6 + FrameStreamBytes(e.ChipCount(), e.Wide()) + 3;
            case kRespScope: return 1 + 2 + 2 * (number(at + 1) + 1) + 3;
            case kRespChipIds: return 1 + 4 * static_cast<size_t>(e.ChipCount()) + 3;
            default: return 1 + static_cast<size_t>(std::max(d->responseKind, 0)) + 3;
        }
    }

    // "Set Medipix DACs" with these records, one per chip, as the host encodes them.
    std::vector<uint8_t> DacCommand(const std::vector<ChipDacRecord>& records) const {
        const ChipType type = TypeOf(e.Family());
        std::vector<uint8_t> command(1 + DacStreamBytes(type, e.ChipCount()), 0);
        command[0] = 'd';
        command[1] = 0xFF;
        for (size_t i = 0; i < records.size(); ++i)
            EncodeDacBlock(type, records[i], static_cast<int>(i), command.data() + 2 + 32 * i);
        return command;
    }
    void SetDacs(const std::vector<ChipDacRecord>& records) {
        Send(DacCommand(records));
        ASSERT_EQ(Output(), std::string("d\0\0OK\r", 6));
    }
    // Every chip gets the family's default DACs with `change` applied.
    template <typename Change>
    void SetAllDacs(Change change) {
        std::vector<ChipDacRecord> records(static_cast<size_t>(e.ChipCount()),
                                           DefaultDacRecord(TypeOf(e.Family())));
        for (auto& record : records) change(record);
        SetDacs(records);
    }

    // "Set matrix" with these pixel words (one chip after another), as the host sends it.
    void SetMatrix(const std::vector<uint16_t>& words) {
        const bool wide = e.Wide();
        std::vector<uint8_t> command(1 + FrameStreamBytes(e.ChipCount(), wide), 0);
        command[0] = 'S';
        ASSERT_TRUE(MatrixToStream(wide, words.data(), static_cast<uint32_t>(words.size()),
                                   command.data() + 1, static_cast<uint32_t>(command.size() - 1)));
        Send(command);
        ASSERT_EQ(Output(), "SOK\r");
    }

    // Counts of every pixel of a frame answer (letter, six time bytes, stream, "OK\r"),
    // decoded as the host does.
    std::vector<uint16_t> DecodeFrame(const std::string& answer) const {
        const bool wide = e.Wide();
        const uint32_t length = FrameStreamBytes(e.ChipCount(), wide);
        EXPECT_EQ(answer.size(), 1 + 6 + length + 3);
        std::vector<uint8_t> stream(answer.begin() + 7, answer.begin() + 7 + length);
        std::vector<uint16_t> pixels(static_cast<size_t>(e.ChipCount()) * kChipPixels);
        EXPECT_TRUE(StreamToMatrix(wide, stream.data(), length, pixels.data(),
                                   static_cast<uint32_t>(pixels.size())));
        EXPECT_TRUE(ConvertCounterCodes(pixels.data(), static_cast<uint32_t>(pixels.size()),
                                        wide, true));
        return pixels;
    }

    // Mean count of chip `chip`'s pixels.
    double MeanCount(int chip = 0) const {
        double sum = 0;
        for (uint16_t v : e.Chip(chip).counts) sum += v;
        return sum / kChipPixels;
    }

    static ChipType TypeOf(ChipFamily family) {
        return family == ChipFamily::kMedipix2 ? ChipType::Medipix2
               : family == ChipFamily::kMxr    ? ChipType::Mxr
                                               : ChipType::Timepix;
    }

    Clock::time_point now = Clock::time_point{} + std::chrono::hours(1);  // before `e`
    EmulatedInterface e;
    std::string background;
};

}  // namespace ulvarin::sim::test
