#include "cli/command_runs.h"

#include <unistd.h>

#include <cstdio>
#include <memory>

#include "cli/exit_codes.h"
#include "cli/progress.h"
#include "device/report.h"
#include "files/frame_writer.h"
#include "files/frame_writer_factory.h"
#include "files/hdf5_frame_writer.h"
#include "files/mask_file.h"
#include "files/text_frame_writer.h"
#include "session/run_rules.h"
#include "stream/frame_stream.h"

namespace ulvarin::cli {
namespace {

int Fail(int code, const std::string& text) {
    std::fprintf(stderr, "ulvarin-cli: %s\n", text.c_str());
    return code;
}

bool Exists(const std::string& path) {
    return access(path.c_str(), F_OK) == 0;
}

// How --force and --append treat an output that exists.
ExistingOutput OutputRule(const Options& o) {
    return o.append  ? ExistingOutput::kAppend
           : o.force ? ExistingOutput::kReplace
                     : ExistingOutput::kRefuse;
}

// The exit code after saying why an output that exists is refused, with the options that
// would take it.
int FailExisting(const std::string& existing, bool hdf5) {
    return Fail(kExitBadArguments, existing + " exists: --force replaces it" +
                                       (hdf5 ? ", --append adds the frames to it" : ""));
}

// 0, or the exit code after saying why the output may not be written: files a run would
// replace (a text run of `frames` frames writes one numbered file each) unless --force,
// or an --append that has nothing of its kind to add to.
int CheckOutput(const Options& o, int64_t frames) {
    if (o.append && o.force)
        return Fail(kExitBadArguments, "--append and --force exclude each other");
    std::string existing;
    const std::string refusal = OutputRefusal(o.out, frames, OutputRule(o), &existing);
    if (refusal.empty()) return 0;
    if (!existing.empty())
        return FailExisting(existing, FrameFormatFor(o.out) == FrameFormat::kHdf5);
    return Fail(kExitBadArguments, refusal);
}

// What the run's files are called, for the closing line: a numbered text run names its
// first and last file.
std::string WrittenFiles(const std::string& out, int expected, int64_t frames) {
    const bool numbered = FrameFormatFor(out) == FrameFormat::kText && expected != 1;
    if (!numbered || frames == 0) return out;
    const std::string first = TextRunFileName(out, expected, 0);
    return frames == 1 ? first : first + " ... " + TextRunFileName(out, expected, frames - 1);
}

// Opens the interface the options name; 0 or the exit code of the failure.
int OpenSession(InterfaceSession& session, const Options& o) {
    session.OnReport(PrintReport);
    std::string error;
    const std::string description = ChooseInterface(o.device, error);
    if (description.empty() || !session.Open(description, error)) return Fail(kExitNoDevice, error);
    return 0;
}

// The exit code of a settings file that did not load; 0 when it did.
int LoadFailure(InterfaceSession::Load result, const std::string& what, const std::string& error) {
    switch (result) {
        case InterfaceSession::Load::kUnreadable:
            return Fail(kExitBadArguments, what + ": " + error);
        case InterfaceSession::Load::kRefused:
            return Fail(kExitAcquisition, what + ": " + error);
        default:
            return 0;
    }
}

// Applies --config and --mask; 0 or the exit code of the failure.
int Prepare(InterfaceSession& session, const Options& o) {
    std::string error;
    if (!o.config.empty()) {
        if (const int failed =
                LoadFailure(session.LoadConfiguration(o.config, error), "configuration", error))
            return failed;
    }
    if (!o.mask.empty()) {
        if (const int failed = LoadFailure(session.LoadMask(o.mask, error), "mask", error))
            return failed;
    }
    if (session.layout().family != ChipFamily::Timepix) {
        if (o.modeGiven) return Fail(kExitBadArguments, "--mode applies to Timepix chips only");
        return 0;
    }
    // Counting unless asked otherwise or a configuration file chose the mode: Timepix chips
    // may come up timing arrivals, which fills every exposed pixel to the top.
    if (!o.modeGiven && !o.config.empty()) return 0;
    return LoadFailure(session.SetTimepixMode(o.mode, error), "mode", error);
}

// Writes a run through `run` with progress shown; the exit code of how it ended.
template <typename Run>
int WriteRun(const Options& o, const RunDescription& description, int total, const char* unit,
             Run run) {
    std::string error;
    // The stream first: an endpoint in use is refused before an output file is made.
    std::unique_ptr<FrameStream> stream;
    if (!o.stream.empty()) {
        stream = FrameStream::Open(o.stream, description, o.streamWait, error);
        if (!stream) return Fail(kExitBadArguments, error);
    }
    std::unique_ptr<FrameWriter> file;
    if (!o.out.empty()) {
        file = o.append ? ReopenHdf5RunFile(o.out, description, error)
                        : OpenFrameWriter(o.out, description, error);
        if (!file) return Fail(kExitWrite, error);
    }
    // The stream first: consumers see each frame before the disk has it.
    TeeWriter both({stream.get(), file.get()});
    FrameWriter& writer = stream && file ? both
                          : stream       ? static_cast<FrameWriter&>(*stream)
                                         : *file;
    Progress progress(stderr, isatty(fileno(stderr)) != 0, total, unit);
    const RunOutcome outcome = run(writer, [&](int done) { progress.Update(done); });
    progress.Finish();
    const bool recorded =
        outcome.end == RunEnd::kWriteFailed || writer.RecordDroppedFrames(outcome.dropped);
    if (file && outcome.end == RunEnd::kStopped) file->SetEndReason("stopped");
    if (file && outcome.end == RunEnd::kAcquisitionFailed)
        file->SetEndReason("failed: " + outcome.error);
    const bool closed = writer.Close() && recorded;
    const std::string where = file ? o.out : o.stream;
    if (outcome.dropped > 0)
        std::fprintf(stderr,
                     "ulvarin-cli: %lld of %lld frames taken could not be written in time and "
                     "are missing from %s\n",
                     static_cast<long long>(outcome.dropped),
                     static_cast<long long>(outcome.dropped + outcome.frames), where.c_str());
    if (stream)
        std::fprintf(stderr, "ulvarin-cli: %d frames streamed to %s, %lld dropped%s\n",
                     stream->frames(), stream->endpoint().c_str(),
                     static_cast<long long>(stream->dropped()),
                     stream->dropped() > 0 ? " (a consumer did not keep up)" : "");
    switch (outcome.end) {
        case RunEnd::kWriteFailed:
            return Fail(kExitWrite, outcome.error);
        case RunEnd::kAcquisitionFailed:
            return Fail(kExitAcquisition, outcome.error + " " + std::to_string(outcome.frames) +
                                              " frames kept in " + where);
        default:
            break;
    }
    if (!closed) return Fail(kExitWrite, writer.error());
    const std::string files =
        file ? WrittenFiles(o.out, total, outcome.frames + outcome.dropped) : o.stream;
    const char* verb = file ? "written to" : "streamed to";
    if (outcome.end == RunEnd::kStopped)
        return Fail(kExitInterrupted, "interrupted: " + std::to_string(outcome.frames) +
                                          " frames " + verb + " " + files);
    std::printf("%d frames %s %s\n", outcome.frames, verb, files.c_str());
    // Frames a consumer of the stream lost are lost frames too, like those missing from a file.
    const bool streamLost = stream && stream->dropped() > 0;
    return outcome.dropped > 0 || streamLost ? kExitWrite : kExitOk;
}

// The bytes a run's first frames take on disk: a few frames of the largest layout, so a
// disk that cannot take even those is found before the output is made.
constexpr uint64_t kStartBytes = uint64_t{4} * 4 * 65536 * sizeof(int32_t);

// 0, or the exit code when the run has nowhere to go, or a stream or a disk that cannot take
// it: checked before the interface is opened and anything is created.
int CheckDestination(const Options& o) {
    if (o.out.empty() && o.stream.empty())
        return Fail(kExitBadArguments, "--out is required (or --stream)");
    if (!o.stream.empty()) {
        if (const std::string r = StreamEndpointRefusal(o.stream); !r.empty())
            return Fail(kExitBadArguments, r);
        if (const std::string r = StreamWaitRefusal(o.streamWait); !r.empty())
            return Fail(kExitBadArguments, r);
    }
    if (!o.out.empty() && !o.append) {
        if (const std::string r = FreeSpaceRefusal(o.out, kStartBytes); !r.empty())
            return Fail(kExitWrite, r);
    }
    return 0;
}

// 0, or the exit code after saying why the exposure is refused.
int CheckExposure(const Options& o) {
    const std::string refusal = ExposureRefusal(o.exposure, o.longExposure);
    if (refusal.empty()) return 0;
    return Fail(kExitBadArguments,
                refusal + (o.exposure > kMaxExposure ? " --long allows it." : ""));
}

// 0, or the exit code after saying why `refusal` (when not empty) refused the request.
int Refuse(const std::string& refusal) {
    return refusal.empty() ? 0 : Fail(kExitBadArguments, refusal);
}

// The scanned DAC's index, after checking its name and that it takes `values`; -1 after
// saying why not.
int ScannedDac(const InterfaceSession& session, const Options& o, const std::vector<int>& values) {
    const ChipFamily family = session.layout().family;
    std::string refusal;
    const int dac = DacByName(family, o.dac, refusal);
    if (dac >= 0) refusal = DacValuesRefusal(family, dac, values);
    if (refusal.empty()) return dac;
    Fail(kExitBadArguments, refusal);
    return -1;
}

// What the run file of a scan of `dac` over `values` records.
RunDescription ScanDescription(InterfaceSession& session, int dac, const std::vector<int>& values) {
    RunDescription description = session.Describe();
    description.scanDac = DacNameOf(session.layout().family, dac);
    description.scanValues.assign(values.begin(), values.end());
    description.expectedFrames = static_cast<int>(values.size());
    return description;
}

// 0, or the exit code after saying why equalize's outputs are refused.
int CheckEqualizeOutputs(const Options& o) {
    if (o.out.empty()) return Fail(kExitBadArguments, "--out is required");
    if (o.append) return Fail(kExitBadArguments, "--append does not apply to equalize");
    const std::string refusal = EqualizeOutputRefusal(o.out, OutputRule(o));
    if (!refusal.empty() && FrameFormatFor(o.out) == FrameFormat::kHdf5 && Exists(o.out))
        return FailExisting(o.out, false);
    if (const int failed = Refuse(refusal)) return failed;
    if (const int failed = Refuse(SameOutputRefusal(o.out, o.maskOut))) return failed;
    if (!o.maskOut.empty() && !o.force && Exists(o.maskOut)) return FailExisting(o.maskOut, false);
    if (const std::string r = FreeSpaceRefusal(o.out, kStartBytes); !r.empty())
        return Fail(kExitWrite, r);
    return 0;
}

}  // namespace

void PrintReport(MpxDevice& handle) {
    if (handle.reportKind > kMessage)
        std::fprintf(stderr, "ulvarin-cli: device: %s\n", handle.reportText);
    handle.Clear();
}

int List() {
    const std::vector<std::string> names = ListInterfaces();
    if (names.empty()) return Fail(kExitNoDevice, "No interface found.");
    for (size_t i = 0; i < names.size(); ++i) std::printf("%zu: %s\n", i, names[i].c_str());
    return kExitOk;
}

int Info(const Options& o) {
    InterfaceSession session;
    if (const int failed = OpenSession(session, o)) return failed;
    const ChipLayout& layout = session.layout();
    std::printf("Device:    %s\n", session.description().c_str());
    std::printf("Chips:     %d\n", layout.chipCount);
    std::printf("Chip type: %s\n", ChipFamilyName(layout.family));
    std::printf("Chip IDs:  %s\n", session.ReadChipIdText().c_str());
    std::printf("Firmware:  %s\n", session.ReadFirmware().c_str());
    return kExitOk;
}

int Acquire(const Options& o, const StopFlag& stop) {
    if (const int failed = CheckDestination(o)) return failed;
    if (const int failed = CheckExposure(o)) return failed;
    if (const int failed = Refuse(PeriodRefusal(o.period, o.exposure))) return failed;
    if (!o.out.empty())
        if (const int failed = CheckOutput(o, o.frames)) return failed;
    InterfaceSession session;
    if (const int failed = OpenSession(session, o)) return failed;
    if (const int failed = Prepare(session, o)) return failed;
    RunDescription description = session.Describe();
    description.expectedFrames = o.frames;
    const AcquireRequest request{o.frames, o.exposure, o.period};
    return WriteRun(o, description, o.frames, "frame",
                    [&](FrameWriter& writer, const ProgressFunction& progress) {
                        return RunAcquire(session, writer, request, progress, stop);
                    });
}

int Scan(const Options& o, const StopFlag& stop) {
    if (const int failed = CheckDestination(o)) return failed;
    if (const int failed = CheckExposure(o)) return failed;
    const ScanPlan plan = PlanScan(o.from, o.to, o.step);
    if (const int failed = Refuse(plan.refusal)) return failed;
    const int steps = static_cast<int>(plan.values.size());
    if (!o.out.empty())
        if (const int failed = CheckOutput(o, steps)) return failed;
    InterfaceSession session;
    if (const int failed = OpenSession(session, o)) return failed;
    const int dac = ScannedDac(session, o, plan.values);
    if (dac < 0) return kExitBadArguments;
    if (const int failed = Prepare(session, o)) return failed;
    const RunDescription description = ScanDescription(session, dac, plan.values);
    const ScanRequest request{dac, plan.values, o.exposure, o.frames};
    return WriteRun(o, description, steps, "step",
                    [&](FrameWriter& writer, const ProgressFunction& progress) {
                        return RunScan(session, writer, request, progress, stop);
                    });
}

int Equalize(const Options& o, const StopFlag& stop) {
    if (const int failed = CheckExposure(o)) return failed;
    if (const int failed = CheckEqualizeOutputs(o)) return failed;
    const ScanPlan plan = PlanScan(o.from, o.to, o.step);
    if (const int failed = Refuse(plan.refusal)) return failed;
    const std::vector<int>& values = plan.values;
    if (const int failed = Refuse(EqualizeValuesRefusal(values.size()))) return failed;
    InterfaceSession session;
    if (const int failed = OpenSession(session, o)) return failed;
    const int dac = ScannedDac(session, o, values);
    if (dac < 0) return kExitBadArguments;
    if (const int failed = Prepare(session, o)) return failed;
    RunDescription description = ScanDescription(session, dac, values);
    description.pixelConfig = session.pixelConfig();
    std::string error;
    std::unique_ptr<EqualizationFile> file = EqualizationFile::Create(o.out, description, error);
    if (!file) return Fail(kExitWrite, error);
    EqualizeRun request;
    request.request = {dac, values, o.maskUnequalizable};
    request.exposure = o.exposure;
    request.framesPerStep = o.frames;
    Progress progress(stderr, isatty(fileno(stderr)) != 0, 3 * static_cast<int>(values.size()),
                      "step");
    const EqualizeOutcome outcome = RunEqualize(
        session, *file, request, [&](int done) { progress.Update(done); }, stop);
    progress.Finish();
    switch (outcome.run.end) {
        case RunEnd::kStopped:
            return Fail(kExitInterrupted,
                        "interrupted: the chips keep their pixel configuration from before; the "
                        "scans taken so far are in " +
                            o.out);
        case RunEnd::kAcquisitionFailed:
            return Fail(
                kExitAcquisition,
                outcome.run.error + " The chips keep their pixel configuration from before.");
        case RunEnd::kWriteFailed:
            return Fail(kExitWrite, outcome.run.error);
        default:
            break;
    }
    if (!outcome.notKept.empty())
        return Fail(kExitAcquisition, DescribeEqualization(outcome.result) + "\n" +
                                          outcome.notKept + " The run is in " + o.out +
                                          (o.maskOut.empty() ? "" : "; no mask was written") + ".");
    if (!o.maskOut.empty() && !WriteMaskFile(o.maskOut, outcome.result.words, error))
        return Fail(kExitWrite, error);
    std::printf("%s\nResults written to %s%s\n", DescribeEqualization(outcome.result).c_str(),
                o.out.c_str(), o.maskOut.empty() ? "" : (", the mask to " + o.maskOut).c_str());
    return kExitOk;
}

}  // namespace ulvarin::cli
