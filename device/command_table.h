// The interface's command set: one descriptor per command letter.
#pragma once

#include <cstdint>

namespace ulvarin {

// Response kinds other than a plain parameter byte count.
enum ResponseKind : int {
    kRespText = -1,        // text ended by CR
    kRespFrame = -2,       // one matrix stream
    kRespTimedFrame = -3,  // six-byte time counter, then one matrix stream
    kRespScope = -4,       // two-byte K, then 2 * (K + 1) sample bytes
    kRespChipIds = -5,     // four bytes per chip
    kRespUnknown = -1000,  // letter without descriptor
};

// Command parameter byte count meaning "one matrix stream".
constexpr int kParamFrameStream = -2;

struct CommandDescr {
    uint8_t letter;     // 0 ends the table
    const char* name;
    int responseKind;   // >= 0: parameter bytes; < 0: see ResponseKind
    int commandBytes;   // parameter bytes after the letter ("d": per chip; -2: matrix stream)
};

// The table, ended by a row with letter 0. Searched from the top; the first match wins.
const CommandDescr* CommandTable();
// Number of rows before the end row.
int CommandTableSize();
// The first row with `letter`, or nullptr.
const CommandDescr* FindCommand(uint8_t letter);

}  // namespace ulvarin
