// Test helper: one EmulatorDriver and a handle on one of its interfaces, with exact-byte
// send and receive.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "standard_drivers/emulator_driver.h"

namespace ulvarin::sim::test {

inline std::string Bytes(const std::vector<uint8_t>& bytes) {
    return std::string(bytes.begin(), bytes.end());
}

class EmulatorLink {
public:
    explicit EmulatorLink(std::vector<InterfaceConfig> configs) : driver(std::move(configs)) {}

    // Opens interface `index` (once per link).
    void Open(size_t index = 0) {
        const std::string description = driver.Description(index);
        ASSERT_EQ(driver.OpenEx(description.c_str(), handle), FT_OK);
        interface = index;
    }

    void Send(std::string_view bytes) {
        uint32_t written = 0;
        ASSERT_EQ(driver.Write(handle, bytes.data(), static_cast<uint32_t>(bytes.size()), written),
                  FT_OK);
        ASSERT_EQ(written, bytes.size());
    }

    // Reads until `count` bytes came or `timeoutMs` passed; returns what came.
    std::string Receive(size_t count, uint32_t timeoutMs = 3000) {
        std::string bytes(count, '\0');
        uint32_t got = 0;
        EXPECT_EQ(driver.SetTimeouts(handle, timeoutMs, 1000), FT_OK);
        EXPECT_EQ(driver.Read(handle, bytes.data(), static_cast<uint32_t>(count), got), FT_OK);
        bytes.resize(got);
        return bytes;
    }

    uint32_t Waiting() {
        uint32_t count = 0;
        EXPECT_EQ(driver.GetStatus(handle, count), FT_OK);
        return count;
    }

    EmulatedInterface& Emulated() {
        EmulatedInterface* found = nullptr;
        driver.WithInterface(interface, [&](EmulatedInterface& e) { found = &e; });
        return *found;  // tests run single-threaded while they touch it
    }

    EmulatorDriver driver;
    FtHandle handle = nullptr;
    size_t interface = 0;
};

// The sync command's whole answer.
inline const std::string kSyncAnswer = " 1234567890qwertyuiopasdfghjklzxcvbnmOK\r";

}  // namespace ulvarin::sim::test
