#include "cli/commands.h"

#include <CLI/CLI.hpp>
#include <charconv>
#include <cstdio>
#include <limits>
#include <string>

#include "base/number_text.h"
#include "base/program_version.h"
#include "cli/command_runs.h"
#include "device/device.h"
#include "device/report.h"
#include "session/device_events.h"
#include "session/run_rules.h"
#include "standard_drivers/standard_drivers.h"

namespace ulvarin::cli {
namespace {

constexpr const char* kExitCodes =
    "Exit codes: 0 done, 2 bad arguments, 3 interface not found or not opened,\n"
    "4 acquisition failed, 5 output not written, 130 interrupted (frames so far kept).\n";

// Frame counts, refused with the reason every face gives rather than the parser's "Could
// not convert".
const CLI::Validator kFrameCount(
    [](std::string& text) {
        long long value = 0;
        const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
        if (ec == std::errc() && end == text.data() + text.size()) return FramesRefusal(value);
        return "Frames are a whole number from 1 to " +
               std::to_string(std::numeric_limits<int>::max()) + ", not " + text + ".";
    },
    "1..2147483647");

// Exposures, checked by the rule every face applies (the hour's limit comes later, where
// --long is known).
const CLI::Validator kExposure(
    [](std::string& text) {
        const std::optional<double> value = ParseNumber(text);
        if (!value) return "The exposure is a number of seconds above 0, not " + text + ".";
        return ExposureRefusal(*value, true);
    },
    "SECONDS");

// Scan values and steps: whole numbers that fit, refused with a reason rather than the
// parser's "Could not convert" (or a value that wraps).
CLI::Validator WholeNumber(const std::string& what) {
    return CLI::Validator(
        [what](std::string& text) -> std::string {
            long long value = 0;
            const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
            if (ec == std::errc() && end == text.data() + text.size() &&
                value >= std::numeric_limits<int>::min() &&
                value <= std::numeric_limits<int>::max())
                return {};
            return what + " is a whole number from " +
                   std::to_string(std::numeric_limits<int>::min()) + " to " +
                   std::to_string(std::numeric_limits<int>::max()) + ", not " + text + ".";
        },
        "INTEGER");
}

// The wait for a stream consumer, by the rule every face applies.
const CLI::Validator kStreamWait(
    [](std::string& text) {
        const std::optional<double> value = ParseNumber(text);
        if (!value) return "The stream wait is a number of seconds, not " + text + ".";
        return StreamWaitRefusal(*value);
    },
    "SECONDS");

// A Timepix counting mode's name.
const CLI::Validator kCountMode(
    [](std::string& text) {
        std::string refusal;
        CountModeByName(ChipFamily::Timepix, text, refusal);
        return refusal;
    },
    "MODE");

void AddDevice(CLI::App& command, Options& o) {
    command.add_option("DEVICE", o.device,
                       "Interface: its number in `list`, its description or a unique part of "
                       "it (default: the first listed)");
}

void AddStreamOptions(CLI::App& command, Options& o) {
    command.add_option("--stream", o.stream,
                       "Also send every frame live over ZeroMQ from this endpoint, e.g. "
                       "tcp://*:5555 (consumers connect a SUB socket; see the README)");
    command
        .add_option("--stream-wait", o.streamWait,
                    "Seconds to wait for a stream consumer before the run starts")
        ->check(kStreamWait);
}

void AddRunOptions(CLI::App& command, Options& o) {
    command.add_option("--exposure", o.exposure, "Exposure of each frame in seconds")
        ->required()
        ->check(kExposure);
    command.add_option("--config", o.config, "Configuration file (.ini) to load first")
        ->check(CLI::ExistingFile);
    command.add_option("--mask", o.mask, "Pixel mask file to load first")->check(CLI::ExistingFile);
    command
        .add_option_function<std::string>(
            "--mode",
            [&o](const std::string& name) {
                std::string refusal;
                o.mode = CountModeByName(ChipFamily::Timepix, name, refusal);
                o.modeGiven = true;
            },
            "Timepix pixels count hits (counting, the default unless --config sets it), time "
            "over threshold (tot), one hit (1-hit) or time of arrival (toa)")
        ->check(kCountMode);
    command.add_option("--out", o.out, "Output file: .h5 (HDF5), .tif (TIFF) or .txt")
        ->check(CLI::Validator(OutputNameRefusal, "FILE"));
    command.add_flag("--force", o.force, "Replace output files that exist");
    command.add_flag("--append", o.append,
                     "Add the frames to an existing .h5 run of the same chips");
    command.add_flag("--long", o.longExposure, "Allow exposures longer than an hour");
}

}  // namespace

int RunCommandLine(int argc, char** argv, const StopFlag& stop) {
    RegisterStandardDrivers();
    CLI::App app{"Ulvarin interface tester on the command line"};
    app.footer(kExitCodes);
    app.set_version_flag("--version", std::string("ulvarin-cli ") + ProgramVersion(),
                         "Show the version and exit");
    app.require_subcommand(1);
    Options o;

    CLI::App* list = app.add_subcommand("list", "List the interfaces found, one per line");
    CLI::App* info = app.add_subcommand("info", "Chip count, type, IDs and firmware version");
    AddDevice(*info, o);
    CLI::App* acquire = app.add_subcommand(
        "acquire",
        "Take frames back to back (or one per --period), exposed and sent by the "
        "interface without a pause between them");
    AddDevice(*acquire, o);
    acquire->add_option("--frames", o.frames, "Number of frames")->required()->check(kFrameCount);
    acquire->add_option("--period", o.period,
                        "Seconds from the start of one frame to the next (longer than the "
                        "exposure); without it the next frame starts as the last is read out");
    AddRunOptions(*acquire, o);
    AddStreamOptions(*acquire, o);
    CLI::App* scan = app.add_subcommand(
        "scan", "Step one DAC of every chip through a range, one summed frame per value");
    AddDevice(*scan, o);
    scan->add_option("--dac", o.dac, "DAC name, e.g. Thl or Ikrum (case ignored)")->required();
    scan->add_option("--from", o.from, "First value")
        ->required()
        ->check(WholeNumber("The first value"));
    scan->add_option("--to", o.to, "Last value")->required()->check(WholeNumber("The last value"));
    scan->add_option("--step", o.step, "Step between values (1 or more)")
        ->check(WholeNumber("The step"));
    scan->add_option("--frames", o.frames, "Frames summed per value")->check(kFrameCount);
    AddRunOptions(*scan, o);
    AddStreamOptions(*scan, o);
    CLI::App* equalize = app.add_subcommand(
        "equalize",
        "Equalise the pixels' thresholds: three scans of the threshold DAC (adjustment bits at "
        "their lowest, their highest, and as chosen), results and maps to an .h5 file");
    AddDevice(*equalize, o);
    equalize
        ->add_option("--dac", o.dac,
                     "Threshold DAC to scan: Thl on Medipix2, Thl Fine on MXR and Timepix")
        ->required();
    equalize->add_option("--from", o.from, "First value")
        ->required()
        ->check(WholeNumber("The first value"));
    equalize->add_option("--to", o.to, "Last value")
        ->required()
        ->check(WholeNumber("The last value"));
    equalize->add_option("--step", o.step, "Step between values (1 or more)")
        ->check(WholeNumber("The step"));
    equalize->add_option("--frames", o.frames, "Frames summed per value")->check(kFrameCount);
    equalize->add_option("--mask-out", o.maskOut,
                         "Write the resulting pixel configuration as a mask file (ASCII), which "
                         "--mask and the window's Set Mask load");
    equalize->add_flag("--mask-unequalizable", o.maskUnequalizable,
                       "Mask the pixels that cannot be brought to the target");
    AddRunOptions(*equalize, o);
    for (CLI::App* command : {list, info, acquire, scan, equalize}) command->footer(kExitCodes);

    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        const int code = app.exit(e);
        return code == 0 ? kExitOk : kExitBadArguments;
    }
    if (const std::string warning = EmulatorSetWarning(); !warning.empty())
        std::fprintf(stderr, "ulvarin-cli: %s\n", warning.c_str());
    SetUnclaimedReportCallback(PrintReport);
    if (*list) return List();
    if (*info) return Info(o);
    if (*acquire) return Acquire(o, stop);
    if (*equalize) return Equalize(o, stop);
    return Scan(o, stop);
}

}  // namespace ulvarin::cli
