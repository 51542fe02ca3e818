#include <string_view>
#include <vector>

#include "files/frame_file.h"
#include "fuzz/fuzz_support.h"
#include "fuzz/targets.h"

namespace ulvarin::fuzz {

void FrameFileTarget(const uint8_t* data, size_t size) {
    ByteReader in(data, size);
    const uint8_t choice = in.Byte();
    ChipLayout current;
    current.chipCount = static_cast<int>(choice & 7) % 5;  // 0 to 4
    current.family = (choice & 8) ? ChipFamily::Mxr : ChipFamily::Medipix2;
    const bool deviceOpen = (choice & 0x10) != 0;
    // Room for the chips in use, for four chips (what the window keeps), or a few short.
    size_t room = (choice & 0x20) ? kMaxChips * size_t{kChipPixels} : current.pixelsInUse();
    if ((choice & 0x40) && room > 0) room -= 1 + (choice & 0x80 ? 255 : 0);
    const std::string_view file(reinterpret_cast<const char*>(in.Rest()), in.Left());

    std::vector<int32_t> counts(room, -7);
    const FrameLoadResult r = LoadFrameFile(ScratchFile(file, ".txt"), current, deviceOpen, counts);
    Check(r.valuesRead <= counts.size(), "more values stored than room");
    Check(r.status != FrameFileStatus::kInputOpenFailed, "frame file not opened");
    if (r.ok()) {
        Check(r.fileChips >= 1 && r.fileChips <= kMaxChips, "loaded chip count out of range");
        Check(deviceOpen != r.newChipCount.has_value(), "new chip count vs open device");
    }
}

}  // namespace ulvarin::fuzz
