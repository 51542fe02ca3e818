// How writing or loading a frame file went: the frame files and the count text formatter
// both answer with it.
#pragma once

namespace ulvarin {

// Outcome of writing or loading a frame file; FrameFileMessage gives the text shown.
enum class FrameFileStatus {
    kOk,
    kOutputOpenFailed,    // the file to write could not be created
    kOutputWriteFailed,   // writing or closing it failed (or the values were too few)
    kInputOpenFailed,     // the file to load could not be opened
    kReadFailed,          // empty file, or a value that is not a number
    kWrongItemsPerRow,    // a line's value count is not a multiple of 256 (or does not fit
                          // the image width of an image-order file)
    kVariousItemsPerRow,  // a line holds a different count than the first line
    kWrongRows,           // the line count is not a multiple of 256
    kWrongChips,          // the values make fewer than one or more than four chips
};

}  // namespace ulvarin
