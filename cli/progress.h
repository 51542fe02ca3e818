// Progress of a run on the terminal: a bar with the rate and the time left when the output
// is a terminal, redrawn a few times a second; else a plain line every few seconds (for logs
// and pipes), and always the first and the last.
#pragma once

#include <chrono>
#include <cstdio>
#include <string>

namespace ulvarin::cli {

class Progress {
public:
    // `total` frames are expected; `unit` names them in the lines ("frame", "step").
    Progress(std::FILE* out, bool terminal, int total, std::string unit);

    // `done` frames are written.
    void Update(int done);
    // Ends the bar's line (a terminal only).
    void Finish();

    // The line shown for `done` of `total` after `seconds`, `width` characters of bar
    // (0: the plain line).
    static std::string Line(int done, int total, double seconds, int width,
                            const std::string& unit);

private:
    std::FILE* out_;
    bool terminal_;
    int total_;
    std::string unit_;
    std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
    bool shown_ = false;
    double lastShown_ = 0;  // seconds from the start when the line was last shown
};

}  // namespace ulvarin::cli
