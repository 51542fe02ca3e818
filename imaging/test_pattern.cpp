#include "imaging/test_pattern.h"

#include <algorithm>

#include "wire/stream_layout.h"

namespace ulvarin {
namespace {

constexpr int kSide = 256;

bool OnPattern(int row, int column) {
    const auto middle = [](int i) { return i == 127 || i == 128; };
    const auto central = [](int i) { return i >= 64 && i <= 191; };
    return middle(row) || middle(column) || row == column || row == kSide - 1 - column ||
           (central(row) && central(column));
}

}  // namespace

void WriteTestPattern(std::span<uint16_t> config, int chipCount, uint16_t value) {
    if (chipCount <= 0 || config.size() < static_cast<size_t>(kChipPixels)) return;
    for (int row = 0; row < kSide; ++row)
        for (int column = 0; column < kSide; ++column)
            config[static_cast<size_t>(row * kSide + column)] = OnPattern(row, column) ? value : 0;
    const size_t chips =
        std::min<size_t>(static_cast<size_t>(chipCount), config.size() / kChipPixels);
    for (size_t chip = 1; chip < chips; ++chip)
        std::copy_n(config.begin(), kChipPixels,
                    config.begin() + static_cast<long>(chip * kChipPixels));
}

}  // namespace ulvarin
