// Frame text files: one image row per line, values separated by blanks.
#pragma once

#include <cstdint>
#include <span>
#include <string>

namespace ulvarin {

// Writes counts in chip order (pixel index order, 256 values per line, each "%8d " and a
// line feed after every 256). False when the file cannot be written in full.
bool WriteCountFrame(const std::string& path, std::span<const int32_t> counts);

}  // namespace ulvarin
