#include "imaging/recompute_thread.h"

#include <algorithm>
#include <utility>

namespace ulvarin {
namespace {

template <typename T>
void CopyInUse(std::span<const T> from, std::span<T> to, uint32_t pixels) {
    std::copy_n(from.begin(), pixels, to.begin());
}

}  // namespace

ImageRenderer::ImageRenderer(std::function<void(const RenderedImage&)> done)
    : done_(std::move(done)), thread_([this] { Run(); }) {}

ImageRenderer::~ImageRenderer() {
    {
        std::lock_guard lock(mutex_);
        stop_ = true;
    }
    wake_.notify_all();
    thread_.join();
}

void ImageRenderer::Render(const FrameStore& store, const ViewSettings& view,
                           const DisplayRangeControls& range, uint64_t version) {
    {
        std::lock_guard lock(mutex_);
        work_.SetLayout(store.layout());
        const uint32_t pixels = store.pixelsInUse();
        CopyInUse(store.raw(), work_.raw(), pixels);
        CopyInUse(store.counts(), work_.counts(), pixels);
        CopyInUse(store.flatField(), work_.flatField(), pixels);
        CopyInUse(store.config(), work_.config(), pixels);
        view_ = view;
        rendered_.version = version;
        rendered_.range = range;
        rendered_.time = store.integratedTime;
        due_ = true;
    }
    wake_.notify_all();
}

void ImageRenderer::TakeArrays(FrameStore& store, std::vector<uint32_t>& image) {
    std::lock_guard lock(mutex_);
    store.SwapResult(work_);
    image.swap(image_);
}

void ImageRenderer::Run() {
    std::unique_lock lock(mutex_);
    for (;;) {
        wake_.wait(lock, [this] { return due_ || stop_; });
        if (stop_) return;
        due_ = false;
        image_.resize(work_.geometry().pixels());
        rendered_.image = RecomputeImage(work_, view_, rendered_.range, image_);
        const RenderedImage result = rendered_;
        lock.unlock();
        done_(result);
        lock.lock();
    }
}

}  // namespace ulvarin
