// Filling masked pixels written plainly, the reference the fast form is tested and measured
// against: every pass scans the whole image, a pixel is bad while it holds the marker, and
// each pass reads the array as it was at its start.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <span>
#include <vector>

#include "imaging/corrections.h"

namespace ulvarin {

inline bool PlainInterpolate(FrameStore& store, int r) {
    const uint32_t n = store.pixelsInUse();
    const std::span<double> res = store.result();
    uint32_t bad = 0;
    for (uint32_t p = 0; p < n; ++p) {
        if (IsGoodPixel(store.config()[p], store.layout().family)) continue;
        res[p] = kBadPixelMarker;
        ++bad;
    }
    if (bad == 0) return true;
    const int w = static_cast<int>(store.geometry().width());
    const int h = static_cast<int>(store.geometry().height());
    const auto at = [&](int x, int y) {
        return ImageIndexToPixel(static_cast<uint32_t>(y * w + x), store.layout());
    };
    std::vector<double> work(res.begin(), res.begin() + n);
    for (;;) {
        uint32_t still = 0;
        for (int y = 0; y < h; ++y) {
            for (int x = 0; x < w; ++x) {
                const uint32_t p = at(x, y);
                if (res[p] != kBadPixelMarker) continue;
                int t = 0, g = 0;
                double s = 0, v = 0;
                for (int yy = std::max(0, y - r); yy <= std::min(h - 1, y + r); ++yy) {
                    for (int xx = std::max(0, x - r); xx <= std::min(w - 1, x + r); ++xx) {
                        ++t;
                        const double value = res[at(xx, yy)];
                        if (value == kBadPixelMarker) continue;
                        ++g;
                        const double weight = 1.0 / std::sqrt(static_cast<double>(
                                                        (x - xx) * (x - xx) + (y - yy) * (y - yy)));
                        s += weight;
                        v += weight * value;
                    }
                }
                if (8 * g < 3 * t) {
                    ++still;
                } else {
                    work[p] = v / s;
                }
            }
        }
        if (still >= bad) return false;
        std::copy(work.begin(), work.end(), res.begin());
        bad = still;
        if (bad == 0) return true;
    }
}

}  // namespace ulvarin
