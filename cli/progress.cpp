#include "cli/progress.h"

#include <algorithm>
#include <cmath>

namespace ulvarin::cli {
namespace {

constexpr int kBarWidth = 30;
// How often the line is shown at most: the bar is redrawn in place a few times a second; a
// log or a pipe gets a line every few seconds, so a run of thousands of frames does not
// write thousands of lines. The first and the last state are always shown.
constexpr double kTerminalInterval = 0.1;
constexpr double kPlainInterval = 5.0;

std::string Clock(double seconds) {
    const long s = std::lround(std::max(0.0, seconds));
    char text[32];
    std::snprintf(text, sizeof text, "%ld:%02ld", s / 60, s % 60);
    return text;
}

}  // namespace

Progress::Progress(std::FILE* out, bool terminal, int total, std::string unit)
    : out_(out), terminal_(terminal), total_(total), unit_(std::move(unit)) {}

std::string Progress::Line(int done, int total, double seconds, int width,
                           const std::string& unit) {
    const double rate = seconds > 0 ? done / seconds : 0.0;
    const std::string left = rate > 0 ? Clock((total - done) / rate) : "?";
    char numbers[128];
    std::snprintf(numbers, sizeof numbers, "%d/%d %ss  %.2f %ss/s  %s left", done, total,
                  unit.c_str(), rate, unit.c_str(), left.c_str());
    if (width <= 0) return numbers;
    const int filled = total > 0 ? std::clamp(done * width / total, 0, width) : 0;
    return "[" + std::string(static_cast<size_t>(filled), '#') +
           std::string(static_cast<size_t>(width - filled), '.') + "] " + numbers;
}

void Progress::Update(int done) {
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
    const double interval = terminal_ ? kTerminalInterval : kPlainInterval;
    if (shown_ && done < total_ && seconds - lastShown_ < interval) return;
    lastShown_ = seconds;
    const std::string line = Line(done, total_, seconds, terminal_ ? kBarWidth : 0, unit_);
    // On a terminal the bar is redrawn in place; "\033[K" clears what a longer line left.
    std::fprintf(out_, terminal_ ? "\r%s\033[K" : "%s\n", line.c_str());
    std::fflush(out_);
    shown_ = true;
}

void Progress::Finish() {
    if (terminal_ && shown_) std::fputc('\n', out_);
    std::fflush(out_);
    shown_ = false;
}

}  // namespace ulvarin::cli
