#include "imaging/image_colouring.h"

namespace ulvarin {

bool RenderImage(std::span<const double> result, const ChipLayout& layout, DisplayRange range,
                 std::span<uint32_t> image, const Colouring& colouring) {
    if (layout.chipCount <= 0) return true;
    const ImageGeometry geometry = GeometryFor(layout.chipCount);
    if (image.size() < geometry.pixels() || result.size() < layout.pixelsInUse()) return false;

    const Colourer colour(range, colouring);
    uint32_t* out = image.data();
    for (uint32_t y = 0; y < geometry.height(); ++y) {
        for (uint32_t tileX = 0; tileX < geometry.tilesAcross; ++tileX) {
            const PixelRun run = ImageRowRun(y, tileX, layout);
            const double* in = result.data() + run.first;
            for (int x = 0; x < kTileSide; ++x) *out++ = colour(in[x * run.step]);
        }
    }
    return true;
}

}  // namespace ulvarin
