// Recomputes the image of a stream of frames on a thread of its own: view, statistics,
// display range, histogram and colours, as RecomputeImage does, while the thread that
// shows them goes on. One recomputation runs at a time; the poster sends the next frame
// when the last result came back, so the screen always gets the newest frame it can.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include "imaging/display_range.h"
#include "imaging/frame_store.h"
#include "imaging/image_recompute.h"
#include "imaging/result_view.h"

namespace ulvarin {

// What a recomputation gives back besides its arrays.
struct RenderedImage {
    uint64_t version = 0;        // as posted
    RecomputedImage image;
    DisplayRangeControls range;  // after the recomputation (Auto rewrites the texts)
    double time = 0;             // the frame's (or the sum's) seconds
};

class ImageRenderer {
public:
    // `done` is called on the renderer's thread after each recomputation; the result's
    // arrays wait in the renderer until TakeArrays.
    explicit ImageRenderer(std::function<void(const RenderedImage&)> done);
    // Waits for a recomputation under way, then ends the thread.
    ~ImageRenderer();
    ImageRenderer(const ImageRenderer&) = delete;
    ImageRenderer& operator=(const ImageRenderer&) = delete;

    // Copies what the view is made of out of `store` (layout, raw frame, counts, flat
    // field, pixel configuration, time) and starts recomputing it. Only while no
    // recomputation is under way: after construction, or once `done` has been called.
    void Render(const FrameStore& store, const ViewSettings& view,
                const DisplayRangeControls& range, uint64_t version);
    // Swaps the last result's view values into `store`'s result array and its colours into
    // `image` (resized to the geometry). Only between `done` and the next Render.
    void TakeArrays(FrameStore& store, std::vector<uint32_t>& image);

private:
    void Run();

    std::function<void(const RenderedImage&)> done_;
    FrameStore work_;
    std::vector<uint32_t> image_;
    ViewSettings view_;
    RenderedImage rendered_;
    std::mutex mutex_;
    std::condition_variable wake_;
    bool due_ = false;
    bool stop_ = false;
    std::thread thread_;
};

}  // namespace ulvarin
