// The fuzz target bodies. Each takes one input, drives one reader or layer with it and
// aborts (through fuzz::Check or a sanitizer) when a promise is broken. The libFuzzer entry
// files call them, and the replay test runs every kept input through them.
#pragma once

#include <cstddef>
#include <cstdint>

namespace ulvarin::fuzz {

// Byte 0: width and word count; the rest is the mask file (ASCII and binary names).
void MaskFileTarget(const uint8_t* data, size_t size);
// Byte 0: the chip count in use, whether a device is open and the room given; the rest is
// the frame file.
void FrameFileTarget(const uint8_t* data, size_t size);
// The whole input is a spectrum file, read into bins and into a pulse store.
void PulseFilesTarget(const uint8_t* data, size_t size);
// Bytes 0-1: the current chip count and the answers to loading's questions; the rest is the
// configuration file.
void ConfigurationTarget(const uint8_t* data, size_t size);
// Byte 0: width, chip count, stream length and room; the rest is repeated to fill the
// stream the decoder reads.
void MatrixStreamTarget(const uint8_t* data, size_t size);
// A soft-opened interface whose every answer comes from the input; the input also picks a
// sequence of device calls. Each call must return within its deadlines plus a margin.
void DeviceAnswersTarget(const uint8_t* data, size_t size);

}  // namespace ulvarin::fuzz
