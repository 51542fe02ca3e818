// The numbered file names of autosaved frames: prefix, zero-padded number, suffix
// ("data_" 4 7 ".txt" forms "data_0007.txt"), chosen from one example name.
#pragma once

#include <span>
#include <string>

#include "files/frame_file.h"

namespace ulvarin {

// Widest number field: nine digits always fit an int32 and leave room to count on.
constexpr int kMaxAutosaveDigits = 9;

struct AutosaveTemplate {
    std::string prefix = "data_";  // everything before the number, folders included
    int digits = 4;                // zero-padded width of the number
    int number = 0;                // number of the next autosaved file
    std::string suffix = ".txt";   // everything after the number
    int lastFileNumber = 0;        // last file autosaved or loaded by stepping
};

// prefix + number zero-padded to `digits` (held to 0..kMaxAutosaveDigits) + suffix, as
// "%s%0*d%s" forms it; a negative number keeps its minus sign within the width.
std::string AutosaveFileName(const AutosaveTemplate& name, int number);

// The part of a path after its last '/' (the whole path when there is none): what the
// file name field shows.
std::string ShownFileName(const std::string& path);

// The template from a chosen name. A name without extension gets ".txt". The number is the
// last run of digits in the file name before its extension (folders are never searched):
// "run/data_0120.txt" gives "run/data_", 4 digits, number 120, ".txt", and lastFileNumber
// 120; "run/scan.txt" gives "run/scan", 4 digits, number 0, ".txt". A run longer than
// kMaxAutosaveDigits keeps its leading digits in the prefix, so the formed names still
// match the chosen one.
AutosaveTemplate AutosaveTemplateFromName(const std::string& chosen);

// number + delta held within the int range (no overflow at either end).
int SteppedNumber(int number, int delta);

// The file "<<" (delta -1) or ">>" (+1) loads: the number beside lastFileNumber and its
// name. The window sets lastFileNumber to `number` only when the load succeeds.
struct SteppedFile {
    int number = 0;
    std::string name;
};
SteppedFile StepAutosave(const AutosaveTemplate& name, int delta);

// Writes counts in chip order under the name for name.number (returned in `path`). On
// success lastFileNumber becomes that number and number advances by one; on a failure the
// template is unchanged, so the next frame tries the same name again.
FrameFileStatus AutosaveFrame(AutosaveTemplate& name, std::span<const int32_t> counts,
                              std::string& path);

}  // namespace ulvarin
