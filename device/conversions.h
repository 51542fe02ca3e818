// Conversions between physical values (volts, seconds, counts) and the numbers the
// interface takes and sends.
#pragma once

#include <cstdint>
#include <string>

namespace ulvarin {

// Bias supply: below 23 V off (0); 104.5 V and more: code 1 (highest); otherwise
// 255 - trunc((v - 23) / 81.5 * 254).
uint8_t BiasToCode(double volts);
// Code 0: 4.5 V; otherwise 23 + (256 - code) / 255 * 81.5 V.
double CodeToBias(uint8_t code);

// Interface DAC0/DAC1 (12 bits, 2.5 V full scale): trunc(volts * 1638.6) as the 16 bits
// sent, that is its low 16 bits (a negative code in two's complement); 0 for a voltage that
// is not finite. Codes above 4095 are not the DAC's; callers decide whether to send them.
uint16_t DacVoltsToCode(double volts);
// The code a configured DAC0/DAC1 voltage is loaded as: trunc(volts * 1638.6), and for a
// value that is not a number, negative or beyond 12 bits the nearest code the DAC has.
uint16_t ConfiguredDacCode(double volts);
double DacCodeToVolts(uint32_t code);
// ADC monitor reading (12 bits, 2.5 V full scale).
double AdcToVolts(uint32_t value);
// "%d.%04d V" with the whole volts and the truncated ten-thousandths.
std::string FormatAdcVolts(double volts);

// Timer ticks per second for the interface's clock code (2: 8 MHz, else 20 MHz).
double TimerClock(uint8_t clockCode);
// Six little-endian bytes of floor(max(1, f * (s - 5.3 us))); a negative time counts as 1 s,
// one that is not a number as 1 tick.
void SecondsToBytes(double seconds, uint8_t clockCode, uint8_t* out6);
// Six little-endian bytes of floor(count); zeros for a count that is not finite.
void CountToBytes(double count, uint8_t* out6);
// The 48-bit number in six little-endian bytes.
uint64_t BytesToNumber48(const uint8_t* bytes6);
double BytesToSeconds(const uint8_t* bytes6, uint8_t clockCode);

}  // namespace ulvarin
