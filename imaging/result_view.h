// The views of a frame that the window can show, computed into the result array, and the
// entry of a new frame.
#pragma once

#include <string_view>

#include "imaging/colour_map.h"
#include "imaging/frame_store.h"
#include "imaging/image_statistics.h"

namespace ulvarin {

// In the order of the window's view selector; the item index is the enumerator's value.
enum class ResultView : int {
    Result = 0,      // counts x mask bit, times the flat field when switched on
    RawImage = 1,    // raw counts of the last frame
    FlatField = 2,   // flat-field factors
    ConfigWord = 3,  // pixel configuration word as a number
    MaskBit = 4,     // 1 good, 0 masked
    TestBit = 5,     // bit 9 of the word
    VthlMask = 6,    // bits 6 to 8 of the word
    VthhMask = 7,    // bits 10 to 12 of the word
};
constexpr int kResultViewCount = 8;

// The selector's item texts: "Result", "Raw Image", "FF mask", "Mask", "Mask bit",
// "Test bit", "Vthl Mask", "Vthh Mask". Unknown views read "".
std::string_view ResultViewName(ResultView view);

// What the window's view controls hold.
struct ViewSettings {
    ResultView view = ResultView::Result;
    bool flatField = false;   // "Result" multiplies by the flat-field factors
    bool interpolate = true;  // "Result" fills masked pixels from good neighbours
    Colouring colouring;      // how the view is coloured; the values do not depend on it
};

// Fills store.result() for every pixel in use with the selected view and returns the
// statistics of its good pixels. The bit views read the same bits for every chip family;
// only the mask bit follows the family. A masked pixel is exactly 0 in "Result", or with
// interpolation on its filled value (InterpolateBadPixels with radius 1), kBadPixelMarker
// where it cannot be filled. An unknown view is computed as "Result".
ImageStatistics ComputeResultView(FrameStore& store, const ViewSettings& settings);

// A frame has arrived in store.raw() (and store.frameTime): switches the view back to
// "Result" and takes the frame in (copied, or added while integrating). The caller then
// recomputes the image.
void NewFrame(FrameStore& store, ViewSettings& settings);

}  // namespace ulvarin
