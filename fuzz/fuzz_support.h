// Helpers shared by the fuzz target bodies: reading choices off the front of an input, a
// per-process scratch file that holds the input for readers that take a path, and a check
// that aborts so the fuzzer (or the replay test) reports a broken promise.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace ulvarin::fuzz {

// Takes bytes off the front of an input; past the end every read gives 0.
class ByteReader {
public:
    ByteReader(const uint8_t* data, size_t size) : data_(data), size_(size) {}

    uint8_t Byte();
    bool Bit() { return (Byte() & 1) != 0; }
    // A value from 0 to `count` - 1 (0 when count is 0).
    uint32_t Below(uint32_t count) { return count == 0 ? 0 : Byte() % count; }
    // Everything not yet taken.
    const uint8_t* Rest() const { return data_ + used_; }
    size_t Left() const { return size_ - used_; }

private:
    const uint8_t* data_;
    size_t size_;
    size_t used_ = 0;
};

// Writes `bytes` to this process's scratch file ending in `extension` (e.g. ".txt") and
// returns its path. The file lives in /dev/shm when it can (else the temporary folder), is
// rewritten on every call and removed when the process exits.
const std::string& ScratchFile(std::string_view bytes, const std::string& extension);

// Prints `what` and aborts when `ok` is false.
void Check(bool ok, const char* what);

}  // namespace ulvarin::fuzz
