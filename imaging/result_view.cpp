#include "imaging/result_view.h"

#include <algorithm>

#include "imaging/corrections.h"

namespace ulvarin {

namespace {

void FillResult(FrameStore& store, bool flatField) {
    const uint16_t maskBit = MaskBit(store.layout().family);
    const uint32_t n = store.pixelsInUse();
    const int32_t* counts = store.counts().data();
    const double* factors = store.flatField().data();
    const uint16_t* config = store.config().data();
    double* out = store.result().data();
    // A select rather than a multiply by the bit: a masked pixel is +0 even where the
    // count is negative or the factor is not finite.
    if (flatField) {
        for (uint32_t p = 0; p < n; ++p) {
            out[p] = (config[p] & maskBit) ? counts[p] * factors[p] : 0.0;
        }
    } else {
        for (uint32_t p = 0; p < n; ++p) out[p] = (config[p] & maskBit) ? counts[p] : 0.0;
    }
}

// A view computed from the configuration word alone.
template <typename Field>
void FillFromConfig(FrameStore& store, Field field) {
    const std::span<const uint16_t> config = store.config().first(store.pixelsInUse());
    std::transform(config.begin(), config.end(), store.result().begin(),
                   [field](uint16_t w) { return static_cast<double>(field(w)); });
}

}  // namespace

std::string_view ResultViewName(ResultView view) {
    static constexpr std::string_view kNames[kResultViewCount] = {
        "Result", "Raw Image", "FF mask", "Mask", "Mask bit", "Test bit", "Vthl Mask", "Vthh Mask"};
    const int i = static_cast<int>(view);
    return i >= 0 && i < kResultViewCount ? kNames[i] : std::string_view{};
}

ImageStatistics ComputeResultView(FrameStore& store, const ViewSettings& settings) {
    const uint32_t n = store.pixelsInUse();
    const ChipFamily family = store.layout().family;
    switch (settings.view) {
        case ResultView::RawImage:
            std::copy_n(store.raw().begin(), n, store.result().begin());
            break;
        case ResultView::FlatField:
            std::copy_n(store.flatField().begin(), n, store.result().begin());
            break;
        case ResultView::ConfigWord:
            FillFromConfig(store, [](uint16_t w) { return w; });
            break;
        case ResultView::MaskBit:
            FillFromConfig(store, [family](uint16_t w) { return IsGoodPixel(w, family) ? 1 : 0; });
            break;
        case ResultView::TestBit:
            FillFromConfig(store, [](uint16_t w) { return (w >> 9) & 1; });
            break;
        case ResultView::VthlMask:
            FillFromConfig(store, [](uint16_t w) { return (w >> 6) & 7; });
            break;
        case ResultView::VthhMask:
            FillFromConfig(store, [](uint16_t w) { return (w >> 10) & 7; });
            break;
        case ResultView::Result:
        default:
            FillResult(store, settings.flatField);
            if (settings.interpolate) InterpolateBadPixels(store, 1);
            break;
    }
    return ComputeImageStatistics(store.result().first(n), store.config().first(n), family);
}

void NewFrame(FrameStore& store, ViewSettings& settings) {
    settings.view = ResultView::Result;
    store.TakeRawFrame();
}

}  // namespace ulvarin
