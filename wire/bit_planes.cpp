#include "wire/bit_planes.h"

namespace ulvarin {

void EncodeBitPlanes(const uint16_t* words, int planes, uint8_t* rows) {
    constexpr int kSide = 256;
    constexpr int kPlaneBytes = 32;
    const int rowBytes = planes * kPlaneBytes;
    for (int r = 0; r < kSide; ++r) {
        uint8_t* row = rows + r * rowBytes;
        for (int j = 0; j < kPlaneBytes; ++j) {
            // Byte m of the words takes column 248 - 8j + m; after the transposes byte b
            // holds register bit b of the 8 columns, column 255 - 8j in the MSB.
            const uint16_t* in = words + r * kSide + kSide - 8 - 8 * j;
            uint64_t low = 0;
            uint64_t high = 0;
            for (int m = 0; m < 8; ++m) {
                low |= uint64_t{in[m] & 0xFFu} << (8 * m);
                high |= static_cast<uint64_t>(in[m] >> 8) << (8 * m);
            }
            low = Transpose8x8(low);
            high = Transpose8x8(high);
            for (int b = 0; b < planes; ++b) {
                const uint64_t source = b < 8 ? low >> (8 * b) : high >> (8 * (b - 8));
                row[(planes - 1 - b) * kPlaneBytes + j] = static_cast<uint8_t>(source);
            }
        }
    }
}

}  // namespace ulvarin
