// The interface's command set: one descriptor per command letter.
#pragma once

#include <cstdint>
#include <iterator>

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
// Header-only so the emulator can share it without linking the device layer.
inline constexpr CommandDescr kCommandTable[] = {
    {'_', "Global reset", 0, 0},
    {'i', "Version info", kRespText, 0},
    {'?', "Command list", kRespText, 0},
    {'|', "Chipboard ID", kRespChipIds, 0},
    {' ', "Synchronisation packet", 36, 0},
    {'+', "Set trigger-out", 0, 0},
    {'-', "Reset trigger-out", 0, 0},
    {'*', "Invert trigger-out", 0, 0},
    {'r', "Reset Medipix", 0, 0},
    {'R', "Reset Medipix, Set default CMOS", 0, 0},
    {'S', "Set matrix", 0, kParamFrameStream},
    {'E', "Set default matrix (0xffff)", 0, 0},
    {'e', "Erase matrix", 0, 0},
    {'m', "Read matrix", kRespTimedFrame, 0},
    {'f', "FSR test", kRespText, 0},
    {'d', "Set Medipix DACs", 2, 33},
    {'o', "Open shutter, interval measure init", 0, 0},
    {'c', "Close shutter, interval measure stop", 0, 0},
    {'C', "Close shutter, interval measure stop, read matrix", kRespTimedFrame, 0},
    {'%', "Interval measure", 6, 0},
    {'0', "Select FSR0", 0, 0},
    {'1', "Select FSR1", 0, 0},
    {'p', "Negative polarity", 0, 0},
    {'P', "Positive polarity", 0, 0},
    {'n', "CMOS settings", 1, 0},
    {'O', "Generate test pulses, read matrix", kRespTimedFrame, 3},
    {'#', "Get mumber of medipix chips", 1, 0},
    {'3', "Set Timepix clock", 0, 1},
    {'x', "Medipix power ON", 0, 0},
    {'X', "Medipix power OFF", 0, 0},
    {'b', "Set bias voltage", 0, 1},
    {'B', "Reset bias voltage", 0, 0},
    {'M', "ADC monitor", 26, 0},
    {'a', "Single shot scope", 0, 0},
    {'A', "Scope configure", 0, 4},
    {'$', "Scope data", kRespScope, 0},
    {'>', "Set interface DAC", 0, 3},
    {'y', "Reset and start interval timer", 0, 0},
    {'H', "Reload and start interval timer", 0, 0},
    {'Y', "Stop interval timer", 0, 0},
    {'Z', "Setup interval timer", 0, 7},
    {'z', "State of interval timer", 14, 0},
    {'g', "Run single interval exposition", 0, 0},
    {'h', "Run multiple interval exposition", 0, 0},
    {'G', "Abort exposition", 0, 0},
    {'u', "Reload and start period timer", 0, 0},
    {'U', "Stop period timer", 0, 0},
    {'V', "Setup period timer", 0, 7},
    {'v', "State of period timer", 14, 0},
    {'&', "Run periodical interval exposition", 0, 0},
    {'j', "Reload and start counter", 0, 0},
    {'J', "Stop counter", 0, 0},
    {'K', "Setup counter", 0, 7},
    {'k', "State of counter", 14, 0},
    {'l', "Start waiting for trigger", 0, 0},
    {'L', "Stop waiting for trigger", 0, 0},
    {'Q', "Setup trigger", 0, 1},
    {'q', "State of trigger", 7, 0},
    {'<', "Coincidence mode setup", 0, 2},
    {'/', "Pre-action delay", 0, 3},
    {'@', "Reload frame counter", 0, 0},
    {'(', "Setup frame counter", 0, 5},
    {')', "State of frame counter", 9, 0},
    {'W', "Set TODO commands", 0, 2},
    {'w', "Get TODO commands", 2, 0},
    {'~', "Make ToDo mask", 0, 1},
    {',', "Watchdog test", kRespText, 0},
    {' ', "Synchronisation", kRespText, 0},
    {'.', "Oscilating shutter", 0, 0},
    {'=', "Periodic erase, waiting for trigger", 0, 0},
    {'F', "Flash", 0, 4},
    {'I', "CMOS test", 0, 1},
    {':', "LVDS test", 2, 3},
    {'\'', "I2C test", 1, 1},
    {0, nullptr, 0, 0},
};

inline constexpr int kCommandTableRows = static_cast<int>(std::size(kCommandTable)) - 1;
static_assert(kCommandTableRows == 74, "the command table has 74 rows");

// The first row with `letter`, or nullptr.
constexpr const CommandDescr* FindCommand(uint8_t letter) {
    for (const CommandDescr* d = kCommandTable; d->letter != 0; ++d)
        if (d->letter == letter) return d;
    return nullptr;
}

}  // namespace ulvarin
