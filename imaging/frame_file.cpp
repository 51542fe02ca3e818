#include "imaging/frame_file.h"

#include <cstdio>
#include <memory>

namespace ulvarin {
namespace {
constexpr size_t kValuesPerLine = 256;

struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};
}  // namespace

bool WriteCountFrame(const std::string& path, std::span<const int32_t> counts) {
    std::unique_ptr<std::FILE, FileCloser> file(std::fopen(path.c_str(), "w"));
    if (!file) return false;
    std::string line;
    line.reserve(kValuesPerLine * 10 + 1);
    char value[16];
    for (size_t i = 0; i < counts.size(); ++i) {
        const int n = std::snprintf(value, sizeof value, "%8d ", counts[i]);
        line.append(value, static_cast<size_t>(n));
        if ((i + 1) % kValuesPerLine == 0 || i + 1 == counts.size()) {
            line += '\n';
            if (std::fwrite(line.data(), 1, line.size(), file.get()) != line.size()) return false;
            line.clear();
        }
    }
    return std::fclose(file.release()) == 0;
}

}  // namespace ulvarin
