// Frame text files: one image row per line, values separated by blanks, every value
// followed by one blank. Two layouts exist and a reader tells them apart by the values per
// line: chip order (256 per line, pixel index order, chipCount * 256 lines) and image order
// (one image row per line through ImageIndexToPixel, 512 or, for three chips, 768 per
// line). Values are written independent of the locale, so a file written under a decimal
// comma locale still reads back.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include "files/frame_file_status.h"
#include "imaging/chip_layout.h"

namespace ulvarin {

// The exact message of a failure ("" for kOk); the window shows it in an error box.
const char* FrameFileMessage(FrameFileStatus status);

// The message-list lines after a successful save or load.
std::string ImageWrittenLine(const std::string& path);  // "Image written to: <path>"
std::string ImageLoadedLine(const std::string& path);   // "Image Loaded from: <path>"

// Writes counts in chip order (pixel index order, 256 values per line, each "%8d " and a
// line feed after every 256). False when the file cannot be written in full.
bool WriteCountFrame(const std::string& path, std::span<const int32_t> counts);

// WriteCountFrame telling a failed creation from a failed write.
FrameFileStatus WriteCountFrameFile(const std::string& path, std::span<const int32_t> counts);

// Writes the result view as shown: each value "%.9g " (C locale). One chip (or none) in
// chip order, 256 per line; more chips in image order, tilesDown * 256 lines of
// tilesAcross * 256 values, so three chips give 256 lines of 768. `result` is indexed by
// pixel index and must hold layout.pixelsInUse() values, else kOutputWriteFailed and no
// file is created.
FrameFileStatus WriteResultImage(const std::string& path, std::span<const double> result,
                                 const ChipLayout& layout);

// What LoadFrameFile found and did.
struct FrameLoadResult {
    FrameFileStatus status = FrameFileStatus::kOk;
    size_t valuesPerLine = 0;  // of the first line, once the file could be opened
    int fileChips = 0;         // chips the file holds, once its shape passed every check
    // Set when no device is open and the file's shape passed: the window takes this chip
    // count (geometry, chip-count label, image bitmap rebuilt), also when reading the
    // values fails afterwards. Unset when a device's chip count governs.
    std::optional<int> newChipCount;
    uint32_t valuesRead = 0;  // values stored into counts (they stay there on a failure)

    bool ok() const { return status == FrameFileStatus::kOk; }
};

// Reads a frame file into `counts` (the count frame, indexed by pixel index). Lines may end
// in CR LF; lines of any length are counted whole. The shape is checked first (values per
// line, rows, chips); then chipCount * 65536 values are read, chipCount being the file's
// chips when no device is open, else current.chipCount. Each value is truncated toward
// zero and held within the int32 range. Chip-order files fill counts in order;
// image-order files go through the layout of the chip count they were written for (the
// file's own chips), keeping the pixels of the chips in use, so a four-chip image read
// into a two-chip device gives its upper two chips. Never writes beyond counts.size().
FrameLoadResult LoadFrameFile(const std::string& path, const ChipLayout& current, bool deviceOpen,
                              std::span<int32_t> counts);

}  // namespace ulvarin
