// A plain grey picture of a frame, from its smallest to its largest count, laid out as the
// chips lie in the image. It stands in until the image rendering with display range,
// colours and statistics takes over.
#pragma once

#include <QImage>
#include <cstdint>

namespace ulvarin {

// The pixel index shown at image position (x, y) for `chipCount` chips: one chip fills the
// image; with more, the upper chips sit side by side (chip 0 right for Medipix2, left for
// MXR and Timepix) and the lower two are turned by 180 degrees.
int PreviewPixelIndex(int x, int y, int chipCount, bool isMxr);

// The frame as an 8-bit grey image of the chips' layout (256 x 256 for one chip, 512 wide
// for more); a null image without chips.
QImage GreyPreview(const uint16_t* pixels, int chipCount, bool isMxr);

}  // namespace ulvarin
