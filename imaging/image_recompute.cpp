#include "imaging/image_recompute.h"

#include "imaging/image_colouring.h"

namespace ulvarin {

RecomputedImage RecomputeImage(FrameStore& store, const ViewSettings& view,
                               DisplayRangeControls& range, std::span<uint32_t> image) {
    RecomputedImage out;
    if (store.layout().chipCount <= 0) return out;
    out.statistics = ComputeResultView(store, view);
    const uint32_t inUse = store.pixelsInUse();
    const std::span<const double> values = store.result().first(inUse);
    out.rangeTextsChanged =
        ComputeDisplayRange(values, range, {store.config().first(inUse), store.layout().family});
    out.histogram = ComputeHistogram(values, range.range);
    out.rendered = RenderImage(values, store.layout(), range.range, image, view.colouring);
    return out;
}

}  // namespace ulvarin
