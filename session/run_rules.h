// The rules a request must meet before anything is sent to the interface, in one place for
// every face (command line, Python, Tango, the window): the limits of a run's numbers, the
// values a scan visits, DAC names, and when an output may be written. Each check returns ""
// when the request passes, else the reason as one sentence that the face shows as it
// stands, adding at most how its own options change the outcome.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "imaging/chip_layout.h"

namespace ulvarin {

// Longest exposure taken unless a face's explicit "long" choice allows more: a typo (100000
// for 1.0) must not hold the interface for a day.
inline constexpr double kMaxExposure = 3600;
// Most values one scan visits: more than any DAC has (14 bits), few enough that a list of
// them never strains memory.
inline constexpr int kMaxScanValues = 1 << 16;
// Longest wait for a stream consumer before a run starts.
inline constexpr double kMaxStreamWait = 600;

// One run per interface: a second request, or a setting changed during a run, is refused
// with this reason.
inline constexpr const char* kRunUnderWay = "A run is under way: stop it first.";

std::string ExposureRefusal(double seconds, bool allowLong = false);
std::string FramesRefusal(int64_t frames);
// A period of 0 takes frames back to back; any other is longer than the exposure.
std::string PeriodRefusal(double period, double exposure);
std::string StreamWaitRefusal(double seconds);
std::string StreamEndpointRefusal(const std::string& endpoint);
// The sensor bias: 0 (off) or the supply's range.
std::string BiasRefusal(double volts);

// The values a scan from `from` to `to` in steps of `step` visits: a reversed range is
// swapped, a range of one value is widened to two (from and from + 1), and the values go
// upwards from the lower end while they stay within the upper one. `refusal` is set (and
// the list empty) for a step below 1 or a range of more than kMaxScanValues values; the
// count is checked before any value is listed.
struct ScanPlan {
    std::vector<int> values;
    std::string refusal;
};
ScanPlan PlanScan(int64_t from, int64_t to, int64_t step);
// The Timepix counting mode called `name` (counting, tot, 1-hit, toa; case ignored): 0 to 3; -1
// with `refusal` set for another name or chips of another family.
int CountModeByName(ChipFamily family, const std::string& name, std::string& refusal);
// An equalisation needs an edge to find in each pixel: three values at least.
std::string EqualizeValuesRefusal(size_t values);

// Index of the DAC called `name` (case ignored) for `family`; -1 with `refusal` naming the
// DACs the chips have.
int DacByName(ChipFamily family, const std::string& name, std::string& refusal);
// "" when DAC `index` of `family` takes every one of `values`.
std::string DacValuesRefusal(ChipFamily family, int index, std::span<const int> values);

// An output file's name: an extension of a known format (.h5, .tif, .txt) after a name.
std::string OutputNameRefusal(const std::string& path);
// How an output that exists is treated: kRefuse (the default) keeps it and refuses the run.
enum class ExistingOutput { kRefuse, kReplace, kAppend };
// Whether a run of `frames` frames may write `path` (a text run writes one numbered file a
// frame; any of them existing counts): the name, then what exists, then whether an append
// has an .h5 run to add to, then whether another run is writing the file (replacing or
// adding to it is refused while it is). Whether an .h5 run takes the frames added to it
// is checked when it is reopened (ReopenHdf5RunFile). `existing` is set to the file found, so a face can say how its
// own options would replace it.
std::string OutputRefusal(const std::string& path, int64_t frames, ExistingOutput rule,
                          std::string* existing = nullptr);
// Equalisation results go to one .h5 file.
std::string EqualizeOutputRefusal(const std::string& path, ExistingOutput rule);
// Two outputs of one run never share a file: "" when `a` and `b` (either may be empty:
// not asked for) name different files, whatever the spelling of their paths.
std::string SameOutputRefusal(const std::string& a, const std::string& b);
// Room for the start of a run: "" when the folder that will hold `path` has at least
// `bytes` free (or its free space cannot be told), so a disk already full is found before
// an empty output is left behind.
std::string FreeSpaceRefusal(const std::string& path, uint64_t bytes);

}  // namespace ulvarin
