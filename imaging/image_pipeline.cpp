#include "imaging/image_pipeline.h"

#include "imaging/image_render.h"

namespace ulvarin {

RecomputedImage RecomputeImage(FrameStore& store, const ViewSettings& view,
                               DisplayRangeControls& range, std::span<uint32_t> image) {
    RecomputedImage out;
    if (store.layout().chipCount <= 0) return out;
    out.statistics = ComputeResultView(store, view);
    const std::span<const double> values = store.result().first(store.pixelsInUse());
    out.rangeTextsChanged = ComputeDisplayRange(values, range);
    out.histogram = ComputeHistogram(values, range.range);
    out.rendered = RenderImage(values, store.layout(), range.range, image, view.colouring);
    return out;
}

}  // namespace ulvarin
