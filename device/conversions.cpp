#include "device/conversions.h"

#include <cmath>
#include <cstdio>

namespace ulvarin {
namespace {
constexpr double kBiasLow = 23.0;
constexpr double kBiasHigh = 104.5;
constexpr double kBiasSpan = 81.5;
constexpr double kOffsetSeconds = 0.0000053;  // the interface's own start-up delay

// Splits floor(n) into six bytes by repeated floor division, as the interface expects.
// A number that is not finite gives six zero bytes rather than an undefined conversion.
void SplitSix(double n, uint8_t* out) {
    n = std::isfinite(n) ? std::floor(n) : 0.0;
    for (int i = 0; i < 6; ++i) {
        double high = std::floor(n / 256.0);
        out[i] = static_cast<uint8_t>(static_cast<int>(n - 256.0 * high));
        n = high;
    }
}
}  // namespace

uint8_t BiasToCode(double volts) {
    if (!(volts >= kBiasLow)) return 0;  // not a number switches the bias off
    if (volts >= kBiasHigh) return 1;
    int steps = static_cast<int>(std::trunc((volts - kBiasLow) / kBiasSpan * 254.0));
    return static_cast<uint8_t>((255 - steps) & 0xFF);
}

double CodeToBias(uint8_t code) {
    if (code == 0) return 4.5;
    return kBiasLow + (256.0 - code) / 255.0 * kBiasSpan;
}

uint16_t DacVoltsToCode(double volts) {
    // Reduced modulo 2^16 in double: no voltage, however large, negative or not a number,
    // reaches an integer conversion that cannot hold it.
    const double code = std::trunc(volts * 1638.6);
    if (!std::isfinite(code)) return 0;
    const double low = std::fmod(code, 65536.0);
    return static_cast<uint16_t>(low < 0 ? low + 65536.0 : low);
}

uint16_t ConfiguredDacCode(double volts) {
    constexpr uint16_t kMaxCode = 4095;
    const double scaled = std::trunc(volts * 1638.6);
    return scaled >= kMaxCode ? kMaxCode : scaled > 0 ? static_cast<uint16_t>(scaled) : 0;
}

double DacCodeToVolts(uint32_t code) {
    return code * 2.5 / 4096.0;
}

double AdcToVolts(uint32_t value) {
    return value * 2.5 / 4096.0;
}

std::string FormatAdcVolts(double volts) {
    double whole = std::floor(volts);
    char text[48];
    std::snprintf(text, sizeof text, "%d.%04d V", static_cast<int>(whole),
                  static_cast<int>(std::trunc((volts - whole) * 10000.0)));
    return text;
}

double TimerClock(uint8_t clockCode) {
    return clockCode == 2 ? 8000000.0 : 20000000.0;
}

void SecondsToBytes(double seconds, uint8_t clockCode, uint8_t* out6) {
    if (seconds < 0) seconds = 1.0;
    double ticks = TimerClock(clockCode) * (seconds - kOffsetSeconds);
    if (!(ticks >= 1.0)) ticks = 1.0;  // also for a time that is not a number
    SplitSix(ticks, out6);
}

void CountToBytes(double count, uint8_t* out6) {
    SplitSix(count, out6);
}

uint64_t BytesToNumber48(const uint8_t* bytes6) {
    uint64_t n = 0;
    for (int i = 5; i >= 0; --i) n = (n << 8) | bytes6[i];
    return n;
}

double BytesToSeconds(const uint8_t* bytes6, uint8_t clockCode) {
    return static_cast<double>(BytesToNumber48(bytes6)) / TimerClock(clockCode);
}

}  // namespace ulvarin
