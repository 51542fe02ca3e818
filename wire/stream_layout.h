// Sizes of the chips' matrix streams, shared by the codecs, the protocol and the emulator.
#pragma once

#include <cstdint>

namespace ulvarin {

constexpr int kChipPixels = 65536;       // 256 x 256
constexpr int kMaxChips = 4;
constexpr int kMaxPixels = kMaxChips * kChipPixels;
constexpr int kPlaneBytes = 32;          // one bit of 256 pixels

// 13-bit counters (Medipix2) and 14-bit counters (MXR, Timepix).
constexpr int kPlanes13 = 13;
constexpr int kPlanes14 = 14;
constexpr int kRowBytes13 = kPlanes13 * kPlaneBytes;  // 416
constexpr int kRowBytes14 = kPlanes14 * kPlaneBytes;  // 448
constexpr int kChipData13 = 256 * kRowBytes13;        // 106,496
constexpr int kChipData14 = 256 * kRowBytes14;        // 114,688
constexpr int kChipBlock13 = 114688;                  // data plus 8,192 bytes of padding
constexpr int kChipBlock14 = 114720;                  // data plus 32 unused bytes

// Bytes of one matrix stream for `chipCount` chips as the interface sends it.
constexpr uint32_t FrameStreamBytes(int chipCount, bool wide) {
    if (chipCount <= 0) return 0;
    if (wide) return 114721u * static_cast<uint32_t>(chipCount);
    return 114689u * static_cast<uint32_t>(chipCount) + static_cast<uint32_t>((chipCount - 1 + 7) / 8);
}

// Largest response that fits the device's receive buffer: four MXR chips plus time bytes.
constexpr uint32_t kReceiveBufferSize = 458985;

}  // namespace ulvarin
