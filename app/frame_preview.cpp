#include "app/frame_preview.h"

#include <algorithm>

#include "device/stream_layout.h"

namespace ulvarin {

int PreviewPixelIndex(int x, int y, int chipCount, bool isMxr) {
    if (chipCount <= 1) return y * 256 + x;
    const bool right = x >= 256;
    if (y < 256) {
        const int chip = right != isMxr ? 0 : 1;
        return chip * kChipPixels + y * 256 + (x & 255);
    }
    const int chip = right != isMxr ? 3 : 2;
    return chip * kChipPixels + (511 - y) * 256 + (right ? 511 - x : 255 - x);
}

QImage GreyPreview(const uint16_t* pixels, int chipCount, bool isMxr) {
    if (chipCount <= 0 || chipCount > kMaxChips) return {};
    const int width = chipCount >= 2 ? 512 : 256;
    const int height = chipCount >= 2 ? (chipCount / 2) * 256 : 256;
    const auto [low, high] = std::minmax_element(pixels, pixels + chipCount * kChipPixels);
    const double span = std::max(1, *high - *low);
    QImage image(width, height, QImage::Format_Grayscale8);
    for (int y = 0; y < height; ++y) {
        uchar* line = image.scanLine(y);
        for (int x = 0; x < width; ++x) {
            const uint16_t v = pixels[PreviewPixelIndex(x, y, chipCount, isMxr)];
            line[x] = static_cast<uchar>((v - *low) * 255.0 / span);
        }
    }
    return image;
}

}  // namespace ulvarin
