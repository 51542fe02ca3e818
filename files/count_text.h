// Count frames as text, the layout of chip-order frame files: every value as printf's "%8d "
// forms it (right-aligned in eight characters, wider values whole, then one blank), a line
// feed after every 256 values and after the last. The text is formatted in blocks of whole
// lines, each into a buffer of its own, and with more than one thread the blocks after the
// first are formatted on threads started for the frame: the bytes are the same for any
// number of threads, and they are written in order.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "files/frame_file_status.h"

namespace ulvarin {

class CountTextFormatter {
public:
    // `threads` formats a frame on that many threads (the calling one included); held to
    // 1..kMaxThreads.
    static constexpr int kMaxThreads = 8;
    explicit CountTextFormatter(int threads = 1);

    int threads() const { return threads_; }

    // The text of `counts` as blocks in file order; valid until the next call. The buffers
    // are kept, so formatting frames of one size allocates only once.
    std::span<const std::span<const char>> Format(std::span<const int32_t> counts);

    // Formats `counts` and writes the text to `path` (created or truncated).
    FrameFileStatus WriteFile(const std::string& path, std::span<const int32_t> counts);

private:
    int threads_;
    std::vector<std::vector<char>> buffers_;  // one per block
    std::vector<std::span<const char>> blocks_;
};

}  // namespace ulvarin
