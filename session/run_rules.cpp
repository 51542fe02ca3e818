#include "session/run_rules.h"

#include <strings.h>
#include <unistd.h>

#include <cctype>
#include <cmath>
#include <filesystem>
#include <limits>

#include "base/number_text.h"
#include "device/dac_tables.h"
#include "files/frame_writer.h"
#include "files/frame_writer_factory.h"
#include "files/text_frame_writer.h"

namespace ulvarin {
namespace {

std::string Seconds(double value) {
    return FormatDouble("%.6g", value) + " s";
}

bool Exists(const std::string& path) {
    return access(path.c_str(), F_OK) == 0;
}

}  // namespace

std::string ExposureRefusal(double seconds, bool allowLong) {
    if (!(seconds > 0) || !std::isfinite(seconds))
        return "The exposure is a number of seconds above 0, not " + FormatNumber(seconds) + ".";
    if (seconds > kMaxExposure && !allowLong)
        return "The exposure is at most " + Seconds(kMaxExposure) +
               " unless a longer one is "
               "allowed, not " +
               Seconds(seconds) + ".";
    return {};
}

std::string FramesRefusal(int64_t frames) {
    if (frames >= 1 && frames <= std::numeric_limits<int>::max()) return {};
    return "Frames are 1 to " + std::to_string(std::numeric_limits<int>::max()) + ", not " +
           std::to_string(frames) + ".";
}

std::string PeriodRefusal(double period, double exposure) {
    if (period == 0) return {};
    if (!(period > 0) || !std::isfinite(period))
        return "The period is 0 (back to back) or a number of seconds, not " +
               FormatNumber(period) + ".";
    if (period <= exposure)
        return "The period (" + Seconds(period) + ") must be longer than the exposure (" +
               Seconds(exposure) + ").";
    return {};
}

std::string StreamWaitRefusal(double seconds) {
    if (seconds >= 0 && seconds <= kMaxStreamWait) return {};
    return "The stream wait is 0 to " + Seconds(kMaxStreamWait) + ", not " + FormatNumber(seconds) +
           ".";
}

std::string StreamEndpointRefusal(const std::string& endpoint) {
    if (endpoint.rfind("tcp://", 0) == 0 || endpoint.rfind("ipc://", 0) == 0) return {};
    return "The stream endpoint is tcp://HOST:PORT or ipc://PATH, not \"" + endpoint + "\".";
}

std::string BiasRefusal(double volts) {
    constexpr double kLowest = 23.0, kHighest = 104.5;
    if (volts == 0 || (volts >= kLowest && volts <= kHighest)) return {};
    return "The bias is 0 (off) or 23 to 104.5 V, not " + FormatNumber(volts) + ".";
}

ScanPlan PlanScan(int64_t from, int64_t to, int64_t step) {
    ScanPlan plan;
    if (step < 1) {
        plan.refusal = "The scan's step is 1 or more, not " + std::to_string(step) + ".";
        return plan;
    }
    if (to == from) to = from + 1;
    if (to < from) std::swap(from, to);
    // Counted before listing: a range across the whole of int must be refused, not allocated.
    const int64_t count = (to - from) / step + 1;
    if (count > kMaxScanValues) {
        plan.refusal = "A scan visits at most " + std::to_string(kMaxScanValues) +
                       " values; from " + std::to_string(from) + " to " + std::to_string(to) +
                       " in steps of " + std::to_string(step) + " gives " + std::to_string(count) +
                       ".";
        return plan;
    }
    for (int64_t v = from; v <= to; v += step) plan.values.push_back(static_cast<int>(v));
    return plan;
}

int CountModeByName(ChipFamily family, const std::string& name, std::string& refusal) {
    if (family != ChipFamily::Timepix) {
        refusal = "Count modes are Timepix chips' only.";
        return -1;
    }
    std::string lower = name;
    for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    const auto found = TimepixModesByName().find(lower);
    if (found != TimepixModesByName().end()) return found->second;
    refusal = "The count mode is counting, tot, 1-hit or toa, not \"" + name + "\".";
    return -1;
}

std::string EqualizeValuesRefusal(size_t values) {
    if (values >= 3) return {};
    return "An equalisation scans at least three values, not " + std::to_string(values) + ".";
}

int DacByName(ChipFamily family, const std::string& name, std::string& refusal) {
    std::string names;
    for (int i = 0; i < DacCountOf(family); ++i) {
        const char* dac = DacNameOf(family, i);
        if (dac == nullptr) continue;
        if (strcasecmp(dac, name.c_str()) == 0) return i;
        names += std::string(names.empty() ? "" : ", ") + dac;
    }
    refusal =
        "No DAC \"" + name + "\" on " + ChipFamilyName(family) + " chips; they have " + names + ".";
    return -1;
}

std::string DacValuesRefusal(ChipFamily family, int index, std::span<const int> values) {
    const int highest = DacMaxValueOf(family, index);
    for (int v : values)
        if (v < 0 || v > highest)
            return std::string(DacNameOf(family, index)) + " takes values 0 to " +
                   std::to_string(highest) + ", not " + std::to_string(v) + ".";
    return {};
}

std::string OutputNameRefusal(const std::string& path) {
    if (!FrameFormatFor(path)) return "The output file ends in .h5, .tif or .txt: " + path;
    const size_t slash = path.rfind('/');
    const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    if (name.rfind('.') == 0) return "The output file needs a name before its extension: " + path;
    return {};
}

std::string OutputRefusal(const std::string& path, int64_t frames, ExistingOutput rule,
                          std::string* existing) {
    if (std::string refusal = OutputNameRefusal(path); !refusal.empty()) return refusal;
    const FrameFormat format = *FrameFormatFor(path);
    if (rule == ExistingOutput::kAppend) {
        if (format != FrameFormat::kHdf5) return "Frames are added to .h5 runs only: " + path;
        if (!Exists(path)) return path + " does not exist: there is no run to add to.";
    }
    // A file another run is writing is neither replaced nor added to.
    if (rule != ExistingOutput::kRefuse && IsBeingWritten(path))
        return path + " is being written by another run.";
    if (rule != ExistingOutput::kRefuse) return {};
    const std::optional<std::string> found =
        format == FrameFormat::kText ? ExistingTextRunFile(path, frames)
                                     : (Exists(path) ? std::optional(path) : std::nullopt);
    if (!found) return {};
    if (existing != nullptr) *existing = *found;
    return *found + " exists.";
}

std::string EqualizeOutputRefusal(const std::string& path, ExistingOutput rule) {
    if (FrameFormatFor(path) != FrameFormat::kHdf5)
        return "An equalisation writes its results to an .h5 file, not " + path;
    if (rule == ExistingOutput::kAppend) return "An equalisation does not add to a run file.";
    return OutputRefusal(path, 1, rule);
}

std::string SameOutputRefusal(const std::string& a, const std::string& b) {
    if (a.empty() || b.empty()) return {};
    std::error_code ignored;
    const std::filesystem::path first = std::filesystem::weakly_canonical(a, ignored);
    const std::filesystem::path second = std::filesystem::weakly_canonical(b, ignored);
    if (first != second) return {};
    return "Two outputs of one run name the same file, " + b + ": give each its own.";
}

std::string FreeSpaceRefusal(const std::string& path, uint64_t bytes) {
    std::filesystem::path folder = std::filesystem::path(path).parent_path();
    if (folder.empty()) folder = ".";
    std::error_code error;
    const std::filesystem::space_info space = std::filesystem::space(folder, error);
    if (error || space.available >= bytes) return {};
    return "The disk holding " + path + " has " + std::to_string(space.available / 1024) +
           " KiB free, less than the " + std::to_string((bytes + 1023) / 1024) +
           " KiB the run's first frames need.";
}

}  // namespace ulvarin
