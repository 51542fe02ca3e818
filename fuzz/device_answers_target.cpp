#include <algorithm>
#include <chrono>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "device/chip_commands.h"
#include "device/clock.h"
#include "device/drivers/driver_registry.h"
#include "device/identify.h"
#include "device/interface_commands.h"
#include "device/link.h"
#include "device/protocol.h"
#include "device/report.h"
#include "fuzz/fuzz_support.h"
#include "fuzz/targets.h"

namespace ulvarin::fuzz {

namespace {

constexpr char kDescription[] = "Medipix2 ver 3.0 : Fuzz";
constexpr double kCommandTimeout = 0.005;  // the handle's default, kept short
constexpr double kSyncWait = 1.5;          // how long a resynchronisation searches at most
constexpr double kResetLineWait = 10.0;    // how long a reset waits for the restart line
constexpr double kMargin = 0.5;            // the clock's ticks and rounding
constexpr double kRealLimit = 5.0;         // real seconds a call may spin at most
constexpr double kTick = 1e-8;             // each reading moves the clock on this far
constexpr size_t kMaxAnswerBytes = 1u << 20;  // room for two four-chip frames

// Time as the device layer sees it: each reading moves it on 10 ns, and waits move
// it on by what they wait, so deadlines of seconds pass in no time at all.
class FuzzClock : public ClockSource {
public:
    double Now() override { return now_ += kTick; }
    void Sleep(double seconds) override {
        if (seconds > 0) now_ += seconds;
    }

private:
    double now_ = 1.0e9;
};

// Installs the fuzz clock for one input's run.
class ClockInstallation {
public:
    explicit ClockInstallation(ClockSource& clock) { MpxClock::Install(&clock); }
    ~ClockInstallation() { MpxClock::Install(nullptr); }
    ClockInstallation(const ClockInstallation&) = delete;
    ClockInstallation& operator=(const ClockInstallation&) = delete;
};

// The interface's side: every byte the host reads comes from the input, as fast as it is
// asked for. Once the input is used up the link is either dead (every call but Close fails),
// as after a pulled cable, or silent: nothing more arrives and writes fail, so waits run to
// their deadlines while a resynchronisation cannot start one of its own.
class AnswerDriver : public FtDriver {
public:
    // `answers` in the input's encoding: 0xFE n v stands for (n + 1) * 1024 bytes v, 0xFD x
    // for the byte x; any other byte stands for itself. Write number `failingWrite` (1 is
    // the first; 0 none) fails, and with `partial` it writes all but its last byte.
    void Load(const uint8_t* answers, size_t size, uint32_t failingWrite, bool partial,
              bool silentEnd) {
        answers_.clear();
        silentEnd_ = silentEnd;
        taken_ = 0;
        writes_ = 0;
        failingWrite_ = failingWrite;
        partial_ = partial;
        for (size_t i = 0; i < size && answers_.size() < kMaxAnswerBytes; ++i) {
            if (answers[i] == 0xFE && i + 2 < size) {
                answers_.append(size_t{answers[i + 1] + 1u} * 1024,
                                static_cast<char>(answers[i + 2]));
                i += 2;
            } else if (answers[i] == 0xFD && i + 1 < size) {
                answers_ += static_cast<char>(answers[++i]);
            } else {
                answers_ += static_cast<char>(answers[i]);
            }
        }
    }

    FtStatus CreateDeviceInfoList(uint32_t& count) override {
        count = 1;
        return FT_OK;
    }
    FtStatus GetDeviceInfoDetail(uint32_t index, char (&description)[kFtStringSize]) override {
        if (index != 0) return FT_DEVICE_NOT_FOUND;
        std::snprintf(description, kFtStringSize, "%s", kDescription);
        return FT_OK;
    }
    FtStatus OpenEx(const char* description, FtHandle& handle) override {
        if (std::strcmp(description, kDescription) != 0) return FT_DEVICE_NOT_FOUND;
        handle = &token_;
        return FT_OK;
    }
    FtStatus Purge(FtHandle, uint32_t) override { return Answering(); }
    FtStatus SetTimeouts(FtHandle, uint32_t, uint32_t) override { return Answering(); }
    FtStatus GetDeviceInfo(FtHandle, uint32_t& type, uint32_t& id, char (&serial)[kFtStringSize],
                           char (&description)[kFtStringSize]) override {
        type = 5;
        id = 0x04036001;
        std::snprintf(serial, kFtStringSize, "FUZZ01");
        std::snprintf(description, kFtStringSize, "%s", kDescription);
        return Answering();
    }
    FtStatus GetStatus(FtHandle, uint32_t& rxQueue) override {
        rxQueue = static_cast<uint32_t>(Waiting());
        return Answering();
    }
    FtStatus Read(FtHandle, void* buffer, uint32_t wanted, uint32_t& got) override {
        got = 0;
        if (Answering() != FT_OK) return FT_IO_ERROR;
        got = static_cast<uint32_t>(std::min<size_t>(wanted, Waiting()));
        std::memcpy(buffer, answers_.data() + taken_, got);
        taken_ += got;
        return FT_OK;
    }
    FtStatus Write(FtHandle, const void*, uint32_t length, uint32_t& written) override {
        written = 0;
        if (Live() != FT_OK) return FT_IO_ERROR;
        if (++writes_ != failingWrite_) {
            written = length;
            return FT_OK;
        }
        if (!partial_) return FT_IO_ERROR;
        written = length > 0 ? length - 1 : 0;
        return FT_OK;
    }
    FtStatus Close(FtHandle) override { return FT_OK; }
    // Nothing arrives while waiting: a silent link sleeps out the time asked for.
    void WaitForData(FtHandle, double seconds) override {
        if (Waiting() == 0 && silentEnd_ && seconds > 0) MpxClock::Sleep(std::min(seconds, 60.0));
    }

private:
    size_t Waiting() const { return answers_.size() - taken_; }
    // FT_OK while answers are left, and on a silent link (which reads nothing).
    FtStatus Answering() const { return Waiting() > 0 || silentEnd_ ? FT_OK : FT_IO_ERROR; }
    FtStatus Live() const { return Waiting() > 0 ? FT_OK : FT_IO_ERROR; }

    std::string answers_;
    size_t taken_ = 0;
    uint32_t writes_ = 0;
    uint32_t failingWrite_ = 0;
    bool partial_ = false;
    bool silentEnd_ = false;
    char token_ = 0;
};

// Forgets each report once made, as a message list does, but keeps the nesting level.
void ClearReport(MpxDevice& handle, void*) {
    handle.reportKind = 0;
    handle.reportText[0] = 0;
}

// Seconds a command exchange may take: each attempt waits for its answer and may then
// resynchronise.
double CommandBudget(uint32_t attempts = 1) {
    return attempts * (kCommandTimeout + kSyncWait);
}

// Runs the call that `op` picks and returns the seconds it may take at most.
double RunCall(uint8_t op, ByteReader& in, MpxDevice& handle) {
    MpxCommandResponse record;
    const uint32_t chips = std::clamp<uint32_t>(ChipCount(handle), 1, kMaxChips);
    const uint32_t frameValues = (in.Bit() ? kMaxChips : chips) * kChipPixels - in.Below(3);
    switch (op % 16) {
        case 0: {  // any letter with a few parameter bytes
            uint8_t command[9];
            const uint32_t length = 1 + in.Below(9);
            for (uint32_t i = 0; i < length; ++i) command[i] = in.Byte();
            ExecuteCommand(handle, record, command, length);
            return CommandBudget();
        }
        case 1: {
            std::vector<uint16_t> pixels(frameValues);
            double time = 0;
            ReadMatrix(handle, pixels.data(), frameValues, &time);
            return CommandBudget();
        }
        case 2: {
            std::vector<uint8_t> bytes(1 + in.Byte() * 2048u);
            ReadMatrixRaw(handle, bytes.data(), static_cast<uint32_t>(bytes.size()));
            return CommandBudget();
        }
        case 3: {
            char text[80];
            ReadChipIds(handle, text, static_cast<int>(in.Below(82)) - 1);
            return CommandBudget();
        }
        case 4:
            ResetInterface(handle);
            return CommandBudget(3) + kResetLineWait;
        case 5: {
            const double budget = in.Below(4) * 0.01;
            DrainBackground(handle, record, budget);
            return budget + CommandBudget();
        }
        case 6: {
            char text[64];
            ReadVersionInfo(handle, text, static_cast<int>(in.Below(65)));
            return CommandBudget();
        }
        case 7: {
            std::vector<uint16_t> pixels(frameValues, static_cast<uint16_t>(in.Byte() * 0x101));
            SetMatrix(handle, pixels.data(), frameValues);
            return CommandBudget();
        }
        case 8: {
            ChipDacRecord records[kMaxChips];
            for (auto& r : records) r.dac[in.Below(15)] = static_cast<uint16_t>(in.Byte() << 2);
            SetChipDacs(handle, records, static_cast<int>(in.Below(kMaxChips + 1)));
            return 2 * CommandBudget();  // Timepix interfaces get a block first
        }
        case 9: {
            std::vector<uint16_t> pixels(frameValues);
            if (in.Bit())
                CloseShutterRead(handle, pixels.data(), frameValues);
            else
                GenerateTestPulses(handle, in.Byte(), in.Byte(), pixels.data(), frameValues);
            return CommandBudget();
        }
        case 10: {
            uint16_t values[kAdcChannels];
            ReadAdcs(handle, values);
            return CommandBudget();
        }
        case 11: {
            bool running = false;
            uint8_t actions = 0, b1 = 0, b2 = 0;
            double value = 0, remaining = 0;
            uint32_t count = 0, loaded = 0;
            switch (in.Below(5)) {
                case 0:
                    IntervalTimerState(handle, &running, &actions, &value, &remaining);
                    break;
                case 1:
                    PeriodTimerState(handle, &running, &actions, &value, &remaining);
                    break;
                case 2:
                    CounterState(handle, &running, &actions, &value, &remaining);
                    break;
                case 3:
                    TriggerState(handle, &running, &b1, &b2, &count);
                    break;
                default:
                    FrameCounterState(handle, &actions, &loaded, &count);
                    break;
            }
            return CommandBudget();
        }
        case 12:
            FsrTest(handle);
            return CommandBudget();
        case 13:
            Synchronize(handle);
            return kSyncWait;
        case 14:
            if (in.Bit())
                ConfigureScope(handle, in.Byte(), static_cast<uint16_t>(in.Byte() << 4), in.Byte());
            else
                ScopeSingleShot(handle);
            return CommandBudget();
        default: {
            uint8_t received = 0;
            bool enableOut = false;
            LvdsTest(handle, in.Bit(), in.Bit(), in.Bit(), in.Byte(), &received, &enableOut);
            return CommandBudget();
        }
    }
}

}  // namespace

void DeviceAnswersTarget(const uint8_t* data, size_t size) {
    static const auto driver = [] {
        auto d = std::make_shared<AnswerDriver>();
        InstallDriver(d);
        SetReportHook(ClearReport, nullptr);
        SetBoxFunction([](const BoxRequest&) {});
        return d;
    }();

    FuzzClock clock;
    const ClockInstallation installed(clock);
    ByteReader in(data, size);
    const uint8_t setup = in.Byte();
    const uint8_t chips = static_cast<uint8_t>(1 + (setup & 3));
    const uint32_t family = (setup >> 2) % 3;  // Medipix2, MXR, Timepix
    const uint32_t failingWrite = (setup >> 4) & 7;
    const bool partial = (setup & 0x80) != 0;
    const uint8_t plan = in.Byte();
    const uint32_t calls = 1 + (plan & 7);
    const bool silentEnd = (plan & 8) != 0;
    std::vector<uint8_t> ops;
    for (uint32_t i = 0; i < calls; ++i) ops.push_back(in.Byte());
    // The call parameters come after the ops; the answers are the input's second half.
    const size_t paramBytes = std::min<size_t>(in.Left(), 4 * calls);
    ByteReader params(in.Rest(), paramBytes);
    driver->Load(in.Rest() + paramBytes, in.Left() - paramBytes, failingWrite, partial, silentEnd);

    MpxDevice handle(OpenDevice(kDescription, false, family != 0, chips, family == 2));
    Check(handle.device != nullptr, "soft open of the fuzz interface failed");
    handle.device->defaultTimeout = kCommandTimeout;

    using RealClock = std::chrono::steady_clock;
    for (uint8_t op : ops) {
        const double start = Now();
        const auto realStart = RealClock::now();
        const double budget = RunCall(op, params, handle);
        const double took = Now() - start;
        const std::chrono::duration<double> realTook = RealClock::now() - realStart;
        if (took > budget + kMargin || realTook.count() > kRealLimit) {
            std::fprintf(stderr, "call %u took %.3f s (%.3f s real), more than %.3f s\n",
                         op % 16u, took, realTook.count(), budget + kMargin);
            Check(false, "a device call ran past its deadline");
        }
        Check(handle.level == 0, "a device call left the handle's nesting level raised");
        Check(ChipCount(handle) <= kMaxChips, "more chips than an interface carries");
    }
    Check(CloseDevice(handle, true), "the fuzz interface did not close");
}

}  // namespace ulvarin::fuzz
