#include "device/dac_tables.h"

#include <cstring>

#include "device/link.h"
#include "device/lock.h"
#include "wire/stream_layout.h"

namespace ulvarin {
namespace {

struct DacInfo {
    const char* name;
    uint16_t max;
    uint16_t def;
};

constexpr DacInfo kMedipix2[kDacSlots] = {
    {"DelayN", 255, 0},    {"Disc", 255, 0},    {"Preamp", 255, 128},  {"SetDisc", 255, 240},
    {"Ths", 255, 128},     {"Ikrum", 255, 210}, {"Abuffer", 255, 255}, {"Thh", 255, 0},
    {"Thl", 255, 200},     {"Fbk", 255, 250},   {"Gnd", 255, 128},     {"BiasLVDS", 255, 128},
    {"RefLVDS", 255, 128}, {"NotUsed", 255, 0}, {"NotUsed", 255, 0},
};
constexpr DacInfo kMxr[kDacSlots] = {
    {"Ikrum", 255, 20},    {"Disc", 255, 128},     {"Preamp", 255, 128},    {"BuffA", 255, 128},
    {"BuffB", 255, 128},   {"DelayN", 255, 128},   {"Thl Fine", 1023, 400}, {"Thl Coarse", 15, 7},
    {"Thh Fine", 1023, 0}, {"Thh Coarse", 15, 0},  {"Fbk", 255, 128},       {"Gnd", 255, 128},
    {"Ths", 255, 128},     {"BiasLVDS", 255, 128}, {"RefLVDS", 255, 128},
};
constexpr DacInfo kTimepix[kDacSlots] = {
    {"Ikrum", 255, 5},      {"Disc", 255, 127},    {"Preamp", 255, 255},    {"BuffA", 255, 127},
    {"BuffB", 255, 127},    {"Hist", 255, 0},      {"Thl Fine", 1023, 450}, {"Thl Coarse", 15, 7},
    {"Vcas", 255, 130},     {"Fbk", 255, 128},     {"Gnd", 255, 80},        {"Ths", 255, 85},
    {"BiasLVDS", 255, 128}, {"RefLVDS", 255, 128}, {"NotUsed", 255, 0},
};

constexpr const char* kSenseMedipix2[16] = {
    "Not used",  "DelayN",  "Disc", "Preamp", "SetDisc", "Ths", "BiasLVDS", "Ikrum",
    "IkrumHalf", "RefLVDS", "Fbk",  "Thl",    "Thh",     "Gnd", "Abuffer",  "Not used"};
constexpr const char* kSenseMxr[16] = {
    "BiasDAC",   "Ths",    "BiasLVDS", "BuffA", "BuffAnalogB", "BiasOutStage", "Thl",     "Preamp",
    "VbgOnChip", "DelayN", "Fbk",      "Disc",  "Thh",         "Gnd",          "RefLVDS", "Ikrum"};
constexpr const char* kSenseTimepix[16] = {
    "BiasDAC",   "Ths",  "BiasLVDS", "BuffA", "BuffAnalogB", "BiasOutStage", "Thl",     "Preamp",
    "VbgOnChip", "Hist", "Fbk",      "Disc",  "Vcas",        "Gnd",          "RefLVDS", "Ikrum"};

// A field of the DAC word: `width` bits from position `start`, most significant bit first.
struct Span {
    int16_t start;
    int8_t width;  // 0: the field is not sent
};

struct DacLayout {
    Span dac[kDacSlots];  // dac 3 holds its low nibble here ...
    Span dac3High;        // ... and its high nibble here
    Span testPulse;
    Span senseHigh;  // senseCode bits 3-2
    Span senseLow;   // senseCode bits 1-0
    Span senseEnabled;
    Span bypassEnabled;
};

constexpr DacLayout kLayoutMedipix2 = {{{245, 8},
                                        {237, 8},
                                        {229, 8},
                                        {207, 4},
                                        {189, 8},
                                        {149, 8},
                                        {141, 8},
                                        {133, 8},
                                        {125, 8},
                                        {117, 8},
                                        {68, 8},
                                        {22, 8},
                                        {14, 8},
                                        {0, 0},
                                        {0, 0}},
                                       {197, 4},
                                       {0, 0},
                                       {214, 2},
                                       {217, 2},
                                       {213, 1},
                                       {212, 1}};
constexpr DacLayout kLayoutMxr = {{{245, 8},
                                   {237, 8},
                                   {229, 8},
                                   {207, 4},
                                   {189, 8},
                                   {163, 8},
                                   {147, 10},
                                   {143, 4},
                                   {133, 10},
                                   {129, 4},
                                   {121, 8},
                                   {113, 8},
                                   {68, 8},
                                   {22, 8},
                                   {14, 8}},
                                  {197, 4},
                                  {81, 32},
                                  {214, 2},
                                  {217, 2},
                                  {213, 1},
                                  {212, 1}};
constexpr DacLayout kLayoutTimepix = {{{244, 8},
                                       {236, 8},
                                       {228, 8},
                                       {206, 4},
                                       {188, 8},
                                       {162, 8},
                                       {146, 10},
                                       {142, 4},
                                       {128, 8},
                                       {120, 8},
                                       {112, 8},
                                       {67, 8},
                                       {21, 8},
                                       {13, 8},
                                       {0, 0}},
                                      {196, 4},
                                      {80, 32},
                                      {213, 2},
                                      {216, 2},
                                      {212, 1},
                                      {211, 1}};

const DacInfo* Table(ChipType type) {
    switch (type) {
        case ChipType::Medipix2:
            return kMedipix2;
        case ChipType::Mxr:
            return kMxr;
        default:
            return kTimepix;
    }
}

const DacLayout& Layout(ChipType type) {
    switch (type) {
        case ChipType::Medipix2:
            return kLayoutMedipix2;
        case ChipType::Mxr:
            return kLayoutMxr;
        default:
            return kLayoutTimepix;
    }
}

// Bits beyond the block belong to the next chip's word and are never written.
void SetBit(uint8_t* block, int position) {
    if (position < 0 || position >= kDacBlockBytes * 8) return;
    block[position / 8] |= static_cast<uint8_t>(0x80 >> (position % 8));
}

// Writes the low `width` bits of `value`, bit k at position start + width - 1 - k.
void PutField(uint8_t* block, Span span, uint32_t value, int shift) {
    for (int k = 0; k < span.width; ++k)
        if (value >> k & 1) SetBit(block, span.start + shift + span.width - 1 - k);
}

// Type of the handle's interface; false without one (FindDevice has reported). Read under
// the device lock, so no other thread closes the interface between the look-up and the read.
bool TypeOf(MpxDevice& handle, ChipType& type) {
    MpxCriticalSection lock;
    DeviceDescr* d = FindDevice(handle);
    if (d == nullptr) return false;
    type = ChipTypeOf(d->isMxr, d->isTimepix);
    return true;
}

}  // namespace

int DacCountOf(ChipType type) {
    return type == ChipType::Medipix2 ? 13 : 15;
}

const char* DacNameOf(ChipType type, int index) {
    return index >= 0 && index < kDacSlots ? Table(type)[index].name : nullptr;
}

uint16_t DacMaxValueOf(ChipType type, int index) {
    return index >= 0 && index < kDacSlots ? Table(type)[index].max : 0;
}

uint16_t DacDefaultOf(ChipType type, int index) {
    return index >= 0 && index < kDacSlots ? Table(type)[index].def : 0;
}

const char* SenseDacNameOf(ChipType type, int code) {
    if (code < 0 || code > 15) return nullptr;
    switch (type) {
        case ChipType::Medipix2:
            return kSenseMedipix2[code];
        case ChipType::Mxr:
            return kSenseMxr[code];
        default:
            return kSenseTimepix[code];
    }
}

uint8_t DefaultSenseCode(ChipType type) {
    return type == ChipType::Medipix2 ? 11 : 6;
}

ChipDacRecord DefaultDacRecord(ChipType type) {
    ChipDacRecord r;
    for (int i = 0; i < kDacSlots; ++i) r.dac[i] = DacDefaultOf(type, i);
    r.senseCode = DefaultSenseCode(type);
    r.senseEnabled = 1;
    return r;
}

int DacCount(MpxDevice& handle) {
    ChipType type;
    return TypeOf(handle, type) ? DacCountOf(type) : 0;
}

const char* DacName(MpxDevice& handle, int index) {
    ChipType type;
    return TypeOf(handle, type) ? DacNameOf(type, index) : nullptr;
}

uint16_t DacMaxValue(MpxDevice& handle, int index) {
    ChipType type;
    return TypeOf(handle, type) ? DacMaxValueOf(type, index) : 0;
}

const char* SenseDacName(MpxDevice& handle, int code) {
    ChipType type;
    return TypeOf(handle, type) ? SenseDacNameOf(type, code) : nullptr;
}

void EncodeDacBlock(ChipType type, const ChipDacRecord& record, int position, uint8_t* block) {
    std::memset(block, 0, kDacBlockBytes);
    const DacLayout& layout = Layout(type);
    // Medipix2 chips expect their whole word moved by their position on the board; a board
    // has positions 0 to 3 only.
    if (position < 0 || position >= kMaxChips) return;
    const int shift = type == ChipType::Medipix2 ? position : 0;
    for (int i = 0; i < kDacSlots; ++i) PutField(block, layout.dac[i], record.dac[i], shift);
    PutField(block, layout.dac3High, record.dac[3] >> 4, shift);
    PutField(block, layout.testPulse, record.testPulseWord, shift);
    PutField(block, layout.senseHigh, record.senseCode >> 2, shift);
    PutField(block, layout.senseLow, record.senseCode, shift);
    PutField(block, layout.senseEnabled, record.senseEnabled, shift);
    PutField(block, layout.bypassEnabled, record.bypassEnabled, shift);
    if (type == ChipType::Medipix2) {
        if (position == 1 || position == 2) SetBit(block, 211 + position);
        if (position == 1)
            for (int p = 220; p <= 223; ++p) SetBit(block, p);
    }
}

uint32_t DacStreamBytes(ChipType type, int chips) {
    uint32_t n = 33u * static_cast<uint32_t>(chips);
    if (type == ChipType::Medipix2 && chips > 1) ++n;
    return n;
}

}  // namespace ulvarin
