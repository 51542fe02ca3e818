// The recomputation behind a repaint of the image: view and statistics, display range,
// histogram and colouring, in that order.
#pragma once

#include <cstdint>
#include <span>

#include "imaging/display_range.h"
#include "imaging/frame_store.h"
#include "imaging/histogram.h"
#include "imaging/image_statistics.h"
#include "imaging/result_view.h"

namespace ulvarin {

struct RecomputedImage {
    ImageStatistics statistics;
    Histogram histogram;
    bool rangeTextsChanged = false;  // the window copies range.minText/maxText to its boxes
    bool rendered = false;           // false: no chip, or `image` too small (left untouched)
};

// Runs ComputeResultView, ComputeDisplayRange (its good pixels by the store's pixel
// configuration), ComputeHistogram and RenderImage (with the view's colouring) for the
// store's pixels in use. `image` needs store.geometry().pixels()
// entries. With no chip nothing is computed.
RecomputedImage RecomputeImage(FrameStore& store, const ViewSettings& view,
                               DisplayRangeControls& range, std::span<uint32_t> image);

}  // namespace ulvarin
