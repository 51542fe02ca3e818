#include <algorithm>
#include <cstring>
#include <vector>

#include "device/counter_codes.h"
#include "device/matrix_stream.h"
#include "fuzz/fuzz_support.h"
#include "fuzz/targets.h"
#include "wire/stream_layout.h"

namespace ulvarin::fuzz {

namespace {
constexpr uint16_t kUntouched = 0xA5A5;

// The stream length: as sent for the chips, a little off it, or a short one.
uint32_t StreamLength(ByteReader& in, int chips, bool wide) {
    const uint32_t exact = FrameStreamBytes(chips, wide);
    switch (in.Below(4)) {
        case 0:
        case 1:
            return exact;
        case 2:
            return exact - 1 - in.Below(64);
        default:
            return exact + in.Below(64);
    }
}

// The decoded values as counts and back to register states give the same states for every
// state in the counter's cycle.
void CheckCounterCodes(const std::vector<uint16_t>& states, bool wide) {
    std::vector<uint16_t> counts(states);
    ConvertCounterCodes(counts.data(), static_cast<uint32_t>(counts.size()), wide, true);
    std::vector<uint16_t> back(counts);
    ConvertCounterCodes(back.data(), static_cast<uint32_t>(back.size()), wide, false);
    const uint16_t top = wide ? kMaxCount14 : kMaxCount13;
    bool inRange = true, mapsBack = true;
    for (size_t i = 0; i < counts.size(); ++i) {
        if (counts[i] == kBadValue) continue;
        inRange &= counts[i] <= top;
        mapsBack &= counts[i] == 0 || back[i] == states[i];
    }
    Check(inRange, "count above the counter's last");
    Check(mapsBack, "count does not map back to its state");
}
}  // namespace

void MatrixStreamTarget(const uint8_t* data, size_t size) {
    ByteReader in(data, size);
    const uint8_t choice = in.Byte();
    const bool wide = (choice & 1) != 0;
    // Mostly one chip: every chip of a stream is decoded alike, and each costs a millisecond.
    const int chips = (choice & 0x06) == 0x06 ? 1 + (choice >> 5) % 4 : 1;
    uint32_t capacity = static_cast<uint32_t>(chips) * kChipPixels;
    if (choice & 0x08) capacity -= 1 + in.Below(256);
    if (choice & 0x10) capacity = static_cast<uint32_t>(kMaxPixels);
    const uint32_t length = StreamLength(in, chips, wide);

    // The rest of the input, repeated, fills a stream buffer of exactly `length` bytes.
    std::vector<uint8_t> stream(length);
    const uint8_t* pattern = in.Rest();
    const size_t patternSize = in.Left();
    for (size_t at = 0; patternSize > 0 && at < length; at += patternSize)
        std::memcpy(stream.data() + at, pattern, std::min<size_t>(patternSize, length - at));
    const std::vector<uint8_t> sent(stream);

    std::vector<uint16_t> pixels(capacity, kUntouched);
    const bool ok = StreamToMatrix(wide, stream.data(), length, pixels.data(), capacity);
    Check(stream == sent, "the decoder changed the stream");
    const uint32_t limit = wide ? 1u << 14 : 1u << 13;
    const auto firstUntouched = std::find(pixels.begin(), pixels.end(), kUntouched);
    const auto decoded = static_cast<uint32_t>(firstUntouched - pixels.begin());
    Check(decoded % kChipPixels == 0 || !ok, "a chip decoded in part");
    Check(std::all_of(pixels.begin(), firstUntouched, [limit](uint16_t v) { return v < limit; }),
          "value above the register");
    if (ok) Check(decoded == StreamChipCount(wide, length) * kChipPixels, "chips decoded");

    if (!ok || decoded != static_cast<uint32_t>(kChipPixels)) return;
    // One chip: encoding what was decoded gives a stream that decodes to the same values.
    std::vector<uint16_t> chip(pixels.begin(), pixels.begin() + kChipPixels);
    std::vector<uint8_t> encoded(FrameStreamBytes(1, wide));
    Check(MatrixToStream(wide, chip.data(), kChipPixels, encoded.data(),
                         static_cast<uint32_t>(encoded.size())),
          "one chip does not encode");
    std::vector<uint16_t> again(kChipPixels, kUntouched);
    Check(StreamToMatrix(wide, encoded.data(), static_cast<uint32_t>(encoded.size()), again.data(),
                         kChipPixels),
          "the encoded chip does not decode");
    Check(again == chip, "a chip changed through encoding and decoding");
    CheckCounterCodes(chip, wide);
}

}  // namespace ulvarin::fuzz
