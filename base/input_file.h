// Opening a file that the user names as input. Only regular files are read: a device, a
// pipe or a folder named by mistake would block a reader or feed it without end. A size
// limit (the format's largest valid file) keeps a huge or sparse file from being read
// into memory before it is refused.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

namespace ulvarin {

struct InputFileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};
using InputFilePtr = std::unique_ptr<std::FILE, InputFileCloser>;

enum class InputCheck { kOk, kCannotOpen, kNotRegular, kTooLarge };

// Opens `path` for binary reading when it is a regular file of at most `maxBytes`; the open
// never waits (a pipe without writer is refused, not waited for). nullptr with `check`
// saying why; `size` gets the file's size when known.
InputFilePtr OpenInputFile(const std::string& path, uint64_t maxBytes, InputCheck& check,
                           uint64_t* size = nullptr);

// Reads the whole of an input file opened by OpenInputFile, at most `maxBytes`: false when
// it could not be read or has grown beyond the limit.
bool ReadInputFile(std::FILE* file, uint64_t maxBytes, std::string& content);

// One sentence for a refused input: "<path> is not a regular file (a folder, device or pipe).",
// "<path> is larger than any valid file of its kind (N bytes at most)." ...
std::string InputCheckReason(InputCheck check, const std::string& path, uint64_t maxBytes);

}  // namespace ulvarin
