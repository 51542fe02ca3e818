// A soak of the device layer: thousands of mixed commands over emulated interfaces of every
// family, one and four chips, with link faults injected at random (fixed seed). No call may
// run past its deadline, no frame reported good may hold other counts than the emulator
// sent, every failure must be reported, and the next command after a fault must succeed.
//
// ULVARIN_SOAK_COMMANDS sets the number of commands (a long run: 100000), ULVARIN_SOAK_SEED
// the seed.
#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <random>
#include <string>
#include <type_traits>
#include <vector>

#include "standard_drivers/emulator_driver.h"
#include "device/chip_commands.h"
#include "device/clock.h"
#include "device/drivers/driver_registry.h"
#include "device/identify.h"
#include "device/interface_commands.h"
#include "device/link.h"
#include "device/protocol.h"
#include "device/report.h"
#include "wire/command_table.h"
#include "wire/stream_layout.h"

namespace ulvarin {
namespace {

constexpr const char* kInterfaces = "medipix2:1,medipix2:4,mxr:1,mxr:4,timepix:1,timepix:4";
constexpr uint64_t kDefaultCommands = 1200;
constexpr uint64_t kDefaultSeed = 20261207;
constexpr double kFaultRate = 0.15;
// Driver read timeout for the soak: a cut answer costs one read timeout, so a short one lets
// the bounded run meet many faults.
constexpr uint32_t kReadTimeoutMs = 100;
// The emulated interfaces answer at once; a shorter command timeout than the usual 0.5 s
// still leaves stalls that outlast it.
constexpr double kCommandTimeout = 0.2;
// The deadline of one exchange beyond the command timeout: two reads that time out and two
// synchronisations that give up (the link layer's default wait), plus a margin for a loaded
// machine. A call past it counts as a hang.
constexpr double kSyncWait = 1.5;
constexpr double kMargin = 1.0;

enum class Fault { kNone, kCut, kCorrupt, kLost, kStall, kGarbage, kPartialWrite };
constexpr std::array<const char*, 7> kFaultNames = {"none",    "cut",     "corrupted",    "lost",
                                                    "stalled", "garbage", "partial write"};

struct Figures {
    uint64_t commands = 0;
    uint64_t faults = 0;
    std::array<uint64_t, kFaultNames.size()> byFault{};
    uint64_t failures = 0;     // calls that returned false
    uint64_t unreported = 0;   // ... without any error report
    uint64_t hangs = 0;        // calls past their deadline
    uint64_t silent = 0;       // a good result that differs from what the emulator holds
    uint64_t recoveries = 0;   // fault-free calls right after a faulted one that succeeded
    uint64_t unrecovered = 0;  // ... that failed
    uint64_t framesChecked = 0;
    uint64_t firstBitMismatches = 0;  // see CompareFrame
    uint64_t background = 0;          // background items received
};

uint64_t EnvNumber(const char* name, uint64_t otherwise) {
    const char* text = std::getenv(name);
    if (text == nullptr || *text == 0) return otherwise;
    return std::strtoull(text, nullptr, 10);
}

// What one step of the soak sends: the calls it makes, and its first command's letter and
// byte count (which faults are aimed at).
struct Step {
    uint8_t letter;
    uint32_t length;
    uint32_t exchanges;
    std::function<bool()> run;
    std::function<void()> check;  // after success: compares with the emulator
};

class InterfaceSoak {
public:
    InterfaceSoak(EmulatorDriver& driver, size_t index, std::mt19937_64& random, Figures& figures)
        : driver_(driver), index_(index), random_(random), figures_(figures) {}

    bool Open() {
        handle_.device = OpenDevice(driver_.Description(index_).c_str(), true, false, 0);
        if (handle_.device == nullptr || ChipCount(handle_) == 0) return false;
        chips_ = ChipCount(handle_);
        mxr_ = IsMxr(handle_);
        type_ = ChipTypeOf(mxr_, IsTimepix(handle_));
        Driver().SetTimeouts(handle_.device->handle, kReadTimeoutMs, kReadTimeoutMs);
        handle_.device->defaultTimeout = kCommandTimeout;
        pixels_.assign(static_cast<size_t>(chips_) * kChipPixels, 0);
        return true;
    }
    void Close() { CloseDevice(handle_, true); }

    // Runs `commands` steps, a fault before each with the soak's rate except right after a
    // faulted step: that one runs clean and must succeed.
    void Run(uint64_t commands) {
        std::bernoulli_distribution faulty(kFaultRate);
        bool lastFaulted = false;
        for (uint64_t i = 0; i < commands; ++i) {
            const bool fault = !lastFaulted && faulty(random_);
            const bool ok = RunStep(NextStep(), fault);
            if (lastFaulted) ++(ok ? figures_.recoveries : figures_.unrecovered);
            lastFaulted = fault;
        }
    }

    int reportedErrors = 0;

private:
    template <typename T>
    T Uniform(T low, T high) {
        if constexpr (std::is_floating_point_v<T>)
            return std::uniform_real_distribution<T>(low, high)(random_);
        else
            return std::uniform_int_distribution<T>(low, high)(random_);
    }

    sim::EmulatedInterface& Emulated() {
        sim::EmulatedInterface* found = nullptr;
        driver_.WithInterface(index_, [&](sim::EmulatedInterface& e) { found = &e; });
        return *found;  // the soak's thread is the only one talking to it
    }

    Step NextStep() {
        const int pick = Uniform(0, 99);
        if (pick < 25) return SmallCommand();
        if (pick < 35) return DacSetting();
        if (pick < 43) return MatrixSet();
        if (pick < 63) return MatrixRead();
        if (pick < 72) return {'M', 1, 1, [this] { return ReadAdcs(handle_, adcs_.data()); }, {}};
        if (pick < 76) return ProcessStart();
        if (pick < 88) return ProcessPoll();
        if (pick < 92) return {'G', 1, 1, [this] { return AbortExposition(handle_); }, {}};
        return ScopeShot();
    }

    Step SmallCommand() {
        switch (Uniform(0, 5)) {
            case 0:
                return {'x', 1, 1, [this] { return PowerOn(handle_); }, {}};
            case 1: {
                const bool positive = Uniform(0, 1) == 1;
                return {static_cast<uint8_t>(positive ? 'P' : 'p'),
                        1,
                        1,
                        [this, positive] { return SetPolarity(handle_, positive); },
                        {}};
            }
            case 2: {
                const int fsr = Uniform(0, 1);
                return {static_cast<uint8_t>('0' + fsr),
                        1,
                        1,
                        [this, fsr] { return SelectFsr(handle_, fsr); },
                        {}};
            }
            case 3:
                return {'i',
                        1,
                        1,
                        [this] {
                            char text[256];
                            return ReadVersionInfo(handle_, text, sizeof text);
                        },
                        {}};
            case 4: {
                const auto code = static_cast<uint8_t>(Uniform(0, 255));
                return {'b', 2, 1, [this, code] { return SetBias(handle_, code); }, {}};
            }
            default: {
                const auto channel = static_cast<uint8_t>(Uniform(0, 1));
                const auto code = static_cast<uint16_t>(Uniform(0, 4095));
                return {'>',
                        4,
                        1,
                        [this, channel, code] { return SetInterfaceDac(handle_, channel, code); },
                        {}};
            }
        }
    }

    Step DacSetting() {
        auto records =
            std::make_shared<std::vector<ChipDacRecord>>(chips_, DefaultDacRecord(type_));
        for (auto& r : *records) r.dac[1] = static_cast<uint16_t>(Uniform(0, 255));
        const bool timepix = type_ == ChipType::Timepix;
        return {
            'd', 1 + DacStreamBytes(type_, chips_), timepix ? 2u : 1u,
            [this, records] { return SetChipDacs(handle_, records->data()); },
            [this, records] {
                for (int c = 0; c < chips_; ++c) {
                    uint8_t block[kDacBlockBytes];
                    EncodeDacBlock(type_, (*records)[c], c, block);
                    if (std::memcmp(Emulated().Chip(c).dacBlock.data(), block, kDacBlockBytes) != 0)
                        ++figures_.silent;
                }
            }};
    }

    Step MatrixSet() {
        auto words = std::make_shared<std::vector<uint16_t>>(pixels_.size());
        const uint32_t salt = static_cast<uint32_t>(random_());
        for (size_t i = 0; i < words->size(); ++i)
            (*words)[i] = static_cast<uint16_t>((i + salt) * 2654435761u >> 7);
        return {'S', FrameStreamLength(handle_) + 1, 1,
                [this, words] { return SetMatrix(handle_, words->data(), words->size()); },
                [this, words] {
                    const uint16_t mask = mxr_ ? 0x3FFF : 0x1FFF;
                    for (int c = 0; c < chips_; ++c) {
                        const auto& config = Emulated().Chip(c).pixelConfig;
                        for (int p = 0; p < kChipPixels; ++p) {
                            if (config[p] != ((*words)[c * kChipPixels + p] & mask)) {
                                ++figures_.silent;
                                return;
                            }
                        }
                    }
                }};
    }

    // Loads fresh random counts, so that a stale or misframed frame cannot pass for the new
    // one. A process may change the counters meanwhile (an open shutter counts, its readout
    // clears them): the frame is compared only when they still hold what was loaded.
    Step MatrixRead() {
        auto loaded = std::make_shared<std::vector<std::vector<uint16_t>>>(chips_);
        const int last = mxr_ ? 11810 : 8000;
        for (auto& chip : *loaded) {
            chip.resize(kChipPixels);
            for (auto& v : chip) v = static_cast<uint16_t>(Uniform(0, last));
        }
        Emulated().LoadCounts(*loaded);
        return {'m', 1, 1, [this] { return ReadMatrix(handle_, pixels_.data(), pixels_.size()); },
                [this, loaded] {
                    for (int c = 0; c < chips_; ++c)
                        if (Emulated().Chip(c).counts != (*loaded)[c]) return;
                    ++figures_.framesChecked;
                    CompareFrame(*loaded);
                }};
    }

    // On 13-bit streams of several chips the host's shift of chip 0's block drops the
    // block's first bit (bit 12 of pixel row 0, column 255), which the interface sends in the
    // last leading byte: that pixel may differ without any fault, and is counted apart.
    void CompareFrame(const std::vector<std::vector<uint16_t>>& loaded) {
        const bool firstBitApart = !mxr_ && chips_ > 1;
        bool differs = false;
        for (int c = 0; c < chips_; ++c) {
            for (int p = 0; p < kChipPixels; ++p) {
                if (pixels_[c * kChipPixels + p] == loaded[c][p]) continue;
                if (firstBitApart && c == 0 && p == 255)
                    ++figures_.firstBitMismatches;
                else
                    differs = true;
            }
        }
        if (differs) ++figures_.silent;
    }

    // A short process: a few frames of a short exposure every period, sent in background
    // blocks while other commands go on.
    Step ProcessStart() {
        const uint32_t frames = Uniform(1u, 4u);
        const double exposure = Uniform(0.005, 0.02);
        const double period = exposure + Uniform(0.01, 0.04);
        return {'(',
                6,
                5,
                [this, frames, exposure, period] {
                    return SetupFrameCounter(handle_, frames - 1, 0) &&
                           SetupIntervalTimer(handle_, exposure, 0x01) &&
                           SetupPeriodTimer(handle_, period, 0x06) && MakeTodoMask(handle_, 0x06) &&
                           ReloadPeriodTimer(handle_);
                },
                {}};
    }

    Step ProcessPoll() {
        return {'v',
                1,
                1,
                [this] {
                    bool running = false;
                    if (!PeriodTimerState(handle_, &running, nullptr, nullptr, nullptr))
                        return false;
                    MpxCommandResponse record;
                    DrainBackground(handle_, record, 0.02);
                    return true;
                },
                {}};
    }

    Step ScopeShot() {
        return {'A',
                5,
                2,
                [this] {
                    return ConfigureScope(handle_, 0x03, static_cast<uint16_t>(Uniform(10, 500)),
                                          0x0D) &&
                           ScopeSingleShot(handle_);
                },
                {}};
    }

    // Size of the answer to `letter`, for aiming faults at it (a guess for variable ones).
    size_t AnswerBytes(uint8_t letter) {
        const int kind = CommandResponseKind(letter);
        const size_t frame = FrameStreamLength(handle_);
        if (kind >= 0) return 1 + static_cast<size_t>(kind) + 3;
        if (kind == kRespTimedFrame) return 1 + 6 + frame + 3;
        if (kind == kRespFrame) return 1 + frame + 3;
        return 8;
    }

    // Arms a fault for `step`. The protocol carries no checksum, so a corrupted count byte
    // cannot be told from a count: corruption is aimed at the bytes it checks, the letter and
    // the terminator. Lost, inserted and cut bytes change the length and may hit anywhere.
    Fault Arm(const Step& step) {
        const auto fault = static_cast<Fault>(Uniform(1, 6));
        const size_t size = AnswerBytes(step.letter);
        driver_.WithLink(index_, [&](sim::LinkModel& link) {
            switch (fault) {
                case Fault::kCut:
                    link.CutNext(Uniform<size_t>(0, size - 1));
                    break;
                case Fault::kCorrupt: {
                    const size_t checked[] = {0, size - 3, size - 2, size - 1};
                    link.CorruptNext(checked[Uniform(0, 3)], static_cast<uint8_t>(Uniform(1, 255)));
                    break;
                }
                case Fault::kLost:
                    link.DropNext(Uniform<size_t>(1, std::min<size_t>(size, 16)));
                    break;
                case Fault::kStall:
                    link.StallUntil(sim::Clock::now() +
                                    std::chrono::milliseconds(Uniform(20, 400)));
                    break;
                case Fault::kGarbage: {
                    std::vector<uint8_t> garbage(Uniform<size_t>(1, 8));
                    for (auto& b : garbage) b = static_cast<uint8_t>(Uniform(0, 255));
                    // Within the message: garbage after its end would be garbage before the
                    // next command's answer, and spoil that.
                    link.InsertNext(Uniform<size_t>(0, size - 1), std::move(garbage));
                    break;
                }
                case Fault::kPartialWrite:
                    link.CutNextWrite(Uniform<size_t>(0, step.length - 1), Uniform(0, 1) == 1);
                    break;
                case Fault::kNone:
                    break;
            }
        });
        return fault;
    }

    bool RunStep(const Step& step, bool withFault) {
        if (withFault) {
            ++figures_.faults;
            ++figures_.byFault[static_cast<size_t>(Arm(step))];
        }
        const int errorsBefore = reportedErrors;
        const double limit =
            step.exchanges * handle_.device->defaultAttempts *
                (handle_.device->defaultTimeout + 2 * kReadTimeoutMs / 1000.0 + 2 * kSyncWait) +
            kMargin;
        const double start = Now();
        const bool ok = step.run();
        const double took = Now() - start;
        figures_.commands += step.exchanges;
        if (took > limit) {
            ++figures_.hangs;
            ADD_FAILURE() << "'" << step.letter << "' took " << took << " s, deadline " << limit;
        }
        if (ok && step.check) step.check();
        if (!ok) {
            ++figures_.failures;
            if (reportedErrors == errorsBefore) ++figures_.unreported;
        }
        if (!withFault && !ok)
            ADD_FAILURE() << "fault-free '" << step.letter << "' failed on "
                          << driver_.Description(index_);
        return ok;
    }

    EmulatorDriver& driver_;
    size_t index_;
    std::mt19937_64& random_;
    Figures& figures_;
    MpxDevice handle_;
    int chips_ = 0;
    bool mxr_ = false;
    ChipType type_ = ChipType::Medipix2;
    std::vector<uint16_t> pixels_;
    std::array<uint16_t, kAdcChannels> adcs_{};
};

struct Hooks {
    Figures* figures;
    InterfaceSoak* current = nullptr;
};

TEST(Soak, MixedCommandsOverFaultyLinksNeverHangNorCorruptAndAlwaysRecover) {
    const uint64_t commands = EnvNumber("ULVARIN_SOAK_COMMANDS", kDefaultCommands);
    const uint64_t seed = EnvNumber("ULVARIN_SOAK_SEED", kDefaultSeed);
    std::mt19937_64 random(seed);
    Figures figures;
    Hooks hooks{&figures};

    auto driver = MakeEmulatorDriver(kInterfaces);
    InstallDriver(driver);
    SetReportHook(
        [](MpxDevice& h, void* user) {
            auto* installed = static_cast<Hooks*>(user);
            if (h.reportKind > kMessage && installed->current != nullptr)
                ++installed->current->reportedErrors;
            h.Clear();
        },
        &hooks);
    SetBackgroundHook([](MpxDevice&, MpxCommandResponse&,
                         void* user) { ++static_cast<Hooks*>(user)->figures->background; },
                      &hooks);

    const size_t interfaces = driver->InterfaceCount();
    for (size_t i = 0; i < interfaces; ++i) {
        SCOPED_TRACE(driver->Description(i));
        InterfaceSoak soak(*driver, i, random, figures);
        hooks.current = &soak;
        ASSERT_TRUE(soak.Open());
        // An even share; the first interfaces take what does not divide.
        soak.Run(commands / interfaces + (i < commands % interfaces ? 1 : 0));
        soak.Close();
        hooks.current = nullptr;
    }

    SetBackgroundHook(nullptr, nullptr);
    SetReportHook(nullptr, nullptr);
    InstallDriver(nullptr);

    std::string byFault;
    for (size_t k = 1; k < kFaultNames.size(); ++k)
        byFault += std::string(k > 1 ? ", " : "") + kFaultNames[k] + " " +
                   std::to_string(figures.byFault[k]);
    std::printf(
        "Soak (seed %llu): %llu commands, %llu faults (%s), %llu failures reported, "
        "%llu unreported, %llu hangs, %llu silent corruptions, %llu recoveries, "
        "%llu not recovered, %llu frames checked, %llu background items, "
        "%llu first-bit codec mismatches\n",
        static_cast<unsigned long long>(seed), static_cast<unsigned long long>(figures.commands),
        static_cast<unsigned long long>(figures.faults), byFault.c_str(),
        static_cast<unsigned long long>(figures.failures),
        static_cast<unsigned long long>(figures.unreported),
        static_cast<unsigned long long>(figures.hangs),
        static_cast<unsigned long long>(figures.silent),
        static_cast<unsigned long long>(figures.recoveries),
        static_cast<unsigned long long>(figures.unrecovered),
        static_cast<unsigned long long>(figures.framesChecked),
        static_cast<unsigned long long>(figures.background),
        static_cast<unsigned long long>(figures.firstBitMismatches));
    ::testing::Test::RecordProperty("commands", std::to_string(figures.commands));
    ::testing::Test::RecordProperty("faults", std::to_string(figures.faults));
    ::testing::Test::RecordProperty("failures", std::to_string(figures.failures));
    ::testing::Test::RecordProperty("hangs", std::to_string(figures.hangs));
    ::testing::Test::RecordProperty("silent_corruptions", std::to_string(figures.silent));
    ::testing::Test::RecordProperty("recoveries", std::to_string(figures.recoveries));

    EXPECT_GE(figures.commands, commands);
    EXPECT_GT(figures.faults, commands / 10);
    EXPECT_GT(figures.framesChecked, 0u);
    EXPECT_EQ(figures.hangs, 0u);
    EXPECT_EQ(figures.silent, 0u);
    EXPECT_EQ(figures.unreported, 0u);
    EXPECT_EQ(figures.unrecovered, 0u);
}

}  // namespace
}  // namespace ulvarin
