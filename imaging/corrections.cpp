#include "imaging/corrections.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include "base/number_text.h"
#include "imaging/median.h"

namespace ulvarin {

namespace {

// Image positions and the pixels they show, both ways, without a call per position.
class ImageGrid {
public:
    explicit ImageGrid(const ChipLayout& layout) {
        const ImageGeometry g = GeometryFor(layout.chipCount);
        width_ = static_cast<int>(g.width());
        height_ = static_cast<int>(g.height());
        tilesAcross_ = static_cast<int>(g.tilesAcross);
        // Which chip each tile shows, and whether turned, read back from the layout itself.
        for (int ty = 0; ty < static_cast<int>(g.tilesDown); ++ty) {
            for (int tx = 0; tx < tilesAcross_; ++tx) {
                const PixelRun run = ImageRowRun(static_cast<uint32_t>(ty * kTileSide),
                                                 static_cast<uint32_t>(tx), layout);
                const uint32_t chip = run.first / kChipPixels;
                const int tile = ty * tilesAcross_ + tx;
                tiles_[tile] = {chip * kChipPixels, tx * kTileSide, ty * kTileSide, run.step < 0};
                tileOfChip_[chip] = tile;
            }
        }
    }

    int width() const { return width_; }
    int height() const { return height_; }

    // Requires 0 <= x < width and 0 <= y < height. A turned tile shows chip row 255 at its
    // top and column 255 at its left.
    uint32_t PixelAt(int x, int y) const {
        const Tile& t = tiles_[(y / kTileSide) * tilesAcross_ + x / kTileSide];
        const int row = y % kTileSide;
        const int column = x % kTileSide;
        return t.chipBase + static_cast<uint32_t>(t.turned ? kLast - row : row) * kTileSide +
               static_cast<uint32_t>(t.turned ? kLast - column : column);
    }

    // Image position of pixel p; requires p below the chips of the layout.
    void PositionOf(uint32_t p, int* x, int* y) const {
        const Tile& t = tiles_[tileOfChip_[p / kChipPixels]];
        const int row = static_cast<int>(p % kChipPixels) / kTileSide;
        const int column = static_cast<int>(p % kTileSide);
        *x = t.x + (t.turned ? kLast - column : column);
        *y = t.y + (t.turned ? kLast - row : row);
    }

private:
    static constexpr int kLast = kTileSide - 1;

    struct Tile {
        uint32_t chipBase = 0;
        int x = 0;
        int y = 0;
        bool turned = false;
    };

    int width_ = 0;
    int height_ = 0;
    int tilesAcross_ = 1;
    Tile tiles_[kMaxChips];
    int tileOfChip_[kMaxChips] = {};
};

struct BadPixel {
    int x;
    int y;
    uint32_t pixel;
};

// State of a pixel in Scratch::state.
constexpr uint8_t kGood = 0;
constexpr uint8_t kBad = 1;
constexpr uint8_t kQueued = 2;  // bad, already listed for the next pass

// Kept per thread between calls, so a view allocates nothing once warmed up. `state` is
// indexed by pixel and is all kGood between calls.
struct Scratch {
    std::vector<BadPixel> masked;  // every masked pixel of the call
    std::vector<BadPixel> pass;    // the bad pixels whose window changed: the only ones a pass
                                   // can fill
    std::vector<BadPixel> next;
    std::vector<double> newValue;  // per entry of `pass`, valid where `filled` is set
    std::vector<uint8_t> filled;
    std::vector<uint8_t> state = std::vector<uint8_t>(kMaxPixels, kGood);
};

// The mask bits are read four words at a time: the pixels in use are whole chips, so a
// multiple of four, and almost every group of four is all good.
constexpr uint32_t kGroup = 4;

uint64_t GroupOf(const uint16_t* words) {
    uint64_t group;
    std::memcpy(&group, words, sizeof group);
    return group;
}

uint64_t GroupMask(uint16_t maskBit) {
    return maskBit * uint64_t{0x0001000100010001};
}

// Sets every masked pixel in use to the marker and lists it with its image position.
void CollectMaskedPixels(FrameStore& store, const ImageGrid& grid, Scratch& s) {
    const uint16_t maskBit = MaskBit(store.layout().family);
    const uint64_t groupMask = GroupMask(maskBit);
    const uint32_t n = store.pixelsInUse();
    const uint16_t* config = store.config().data();
    double* result = store.result().data();
    s.masked.clear();
    for (uint32_t first = 0; first < n; first += kGroup) {
        if ((GroupOf(config + first) & groupMask) == groupMask) continue;
        for (uint32_t p = first; p < first + kGroup; ++p) {
            if (config[p] & maskBit) continue;
            result[p] = kBadPixelMarker;
            s.state[p] = kBad;
            BadPixel b{0, 0, p};
            grid.PositionOf(p, &b.x, &b.y);
            s.masked.push_back(b);
        }
    }
}

// Whether any pixel in use is masked, without a branch per group.
bool AnyMasked(const FrameStore& store) {
    const uint64_t groupMask = GroupMask(MaskBit(store.layout().family));
    const uint32_t n = store.pixelsInUse();
    const uint16_t* config = store.config().data();
    uint64_t common = groupMask;
    for (uint32_t first = 0; first < n; first += kGroup) common &= GroupOf(config + first);
    return common != groupMask;
}

// Calls visit(u, v, pixel) for every image position of the window of radius r around b,
// rows outer and columns inner.
template <typename Visit>
void ForWindow(const BadPixel& b, int r, const ImageGrid& grid, Visit visit) {
    const int x0 = std::max(0, b.x - r);
    const int x1 = std::min(grid.width() - 1, b.x + r);
    const int y0 = std::max(0, b.y - r);
    const int y1 = std::min(grid.height() - 1, b.y + r);
    for (int v = y0; v <= y1; ++v) {
        for (int u = x0; u <= x1; ++u) visit(u, v, grid.PixelAt(u, v));
    }
}

// The 1/distance-weighted average of the good pixels in the window of `b`, in *value, when
// at least 3/8 of the window is good. The order of the sums is part of the result.
bool WindowAverage(const BadPixel& b, int r, const ImageGrid& grid, const double* result,
                   const uint8_t* state, double* value) {
    int64_t total = 0;
    int64_t good = 0;
    double weights = 0.0;
    double sum = 0.0;
    ForWindow(b, r, grid, [&](int u, int v, uint32_t p) {
        ++total;
        if (state[p] != kGood) return;
        ++good;
        const int dx = b.x - u;
        const int dy = b.y - v;
        const double w = 1.0 / std::sqrt(static_cast<double>(dx * dx + dy * dy));
        weights += w;
        sum += w * result[p];
    });
    if (8 * good < 3 * total) return false;
    *value = sum / weights;  // good >= 1 here, as the window holds at least the pixel
    return true;
}

// One pass over s.pass, reading the state at its start; then the filled pixels are written
// and the bad pixels in their windows become the next pass. A bad pixel whose window did not
// change cannot be filled next time either, so the cost follows the pixels filled, not the
// passes. Returns how many were filled.
size_t RunPass(FrameStore& store, const ImageGrid& grid, int radius, Scratch& s) {
    double* result = store.result().data();
    const size_t n = s.pass.size();
    s.newValue.resize(n);
    s.filled.assign(n, 0);
    for (size_t i = 0; i < n; ++i) {
        s.filled[i] =
            WindowAverage(s.pass[i], radius, grid, result, s.state.data(), &s.newValue[i]);
    }
    size_t count = 0;
    for (size_t i = 0; i < n; ++i) {
        if (!s.filled[i]) continue;
        result[s.pass[i].pixel] = s.newValue[i];
        s.state[s.pass[i].pixel] = kGood;
        ++count;
    }
    s.next.clear();
    for (size_t i = 0; i < n; ++i) {
        if (!s.filled[i]) continue;
        ForWindow(s.pass[i], radius, grid, [&s](int u, int v, uint32_t p) {
            if (s.state[p] != kBad) return;
            s.state[p] = kQueued;
            s.next.push_back({u, v, p});
        });
    }
    for (const BadPixel& b : s.next) s.state[b.pixel] = kBad;
    std::swap(s.pass, s.next);
    return count;
}

}  // namespace

void CaptureFlatField(FrameStore& store) {
    const uint32_t n = store.pixelsInUse();
    const std::span<const double> shown = store.result().first(n);
    const std::span<double> factors = store.flatField().first(n);
    std::transform(shown.begin(), shown.end(), factors.begin(),
                   [](double v) { return v == kBadPixelMarker ? 0.0 : v; });
    const double m = MedianOf(factors);
    for (double& f : factors) f = f != 0 ? m / f : 0.0;
}

uint32_t MaskPixels(FrameStore& store, MaskRule rule, double min, double max) {
    const uint16_t clearing = MaskClearingWord(store.layout().family);
    const uint32_t n = store.pixelsInUse();
    const double* values = store.result().data();
    uint16_t* config = store.config().data();
    uint32_t matched = 0;
    for (uint32_t p = 0; p < n; ++p) {
        const double v = values[p];
        const bool take = rule == MaskRule::Nonzero ? v != 0 : v > max || !(v >= min);
        if (!take) continue;
        config[p] &= clearing;
        ++matched;
    }
    return matched;
}

uint32_t MaskedPixelCount(const FrameStore& store) {
    const ChipFamily family = store.layout().family;
    const auto config = store.config().first(store.pixelsInUse());
    return static_cast<uint32_t>(std::count_if(
        config.begin(), config.end(), [family](uint16_t w) { return !IsGoodPixel(w, family); }));
}

std::string MaskedPixelsLine(const std::string& action, uint32_t masked, uint32_t maskedInAll,
                             uint32_t inUse) {
    const auto share = [inUse](uint32_t pixels) {
        return FormatDouble("%.3g %%", inUse == 0 ? 0.0 : 100.0 * pixels / inUse);
    };
    return action + ": " + std::to_string(masked) + " pixel(s) masked (" + share(masked) + "), " +
           std::to_string(maskedInAll) + " (" + share(maskedInAll) + ") masked in all";
}

bool InterpolateBadPixels(FrameStore& store, int radius) {
    // The usual case, no masked pixel (or no chip in use), costs one look at the mask bits.
    if (!AnyMasked(store)) return true;

    thread_local Scratch scratch;
    const ImageGrid grid(store.layout());
    CollectMaskedPixels(store, grid, scratch);
    size_t left = scratch.masked.size();
    // A window wider than the image reads no more pixels; the clamp keeps the sums in range.
    const int r = std::min(radius, std::max(grid.width(), grid.height()));
    if (r >= 1) {
        scratch.pass = scratch.masked;
        while (left > 0 && !scratch.pass.empty()) {
            const size_t filled = RunPass(store, grid, r, scratch);
            if (filled == 0) break;
            left -= filled;
        }
    }
    for (const BadPixel& b : scratch.masked) scratch.state[b.pixel] = kGood;
    return left == 0;
}

}  // namespace ulvarin
