// An interface opened for runs: a refused input leaves the session as it was, and what a run
// file records of the voltages is what the interface was sent.
#include "session/interface_session.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "device/drivers/driver_registry.h"
#include "device/report.h"
#include "session/device_events.h"
#include "standard_drivers/emulator_driver.h"
#include "wire/pixel_config.h"

namespace ulvarin {
namespace {

class SessionInputs : public ::testing::Test {
protected:
    void SetUp() override {
        InstallDriver(emulator);
        SetUnclaimedReportCallback([](MpxDevice& h) { h.Clear(); });
        std::string error;
        ASSERT_TRUE(session.Open("Medipix2 ver 3.0 : Emulator Timepix x1", error)) << error;
        std::filesystem::create_directories(dir);
    }
    void TearDown() override {
        std::filesystem::remove_all(dir);
        SetUnclaimedReportCallback(nullptr);
    }
    std::string Write(const std::string& name, const std::string& content) {
        const std::string path = (dir / name).string();
        std::ofstream(path, std::ios::binary) << content;
        return path;
    }

    std::filesystem::path dir =
        std::filesystem::temp_directory_path() / ("ulvarin_session_" + std::to_string(::getpid()));
    std::shared_ptr<EmulatorDriver> emulator = MakeEmulatorDriver("timepix:1");
    InterfaceSession session;
};

// A mask refused as too short once replaced the configuration, and the next change of
// counting mode sent it: most pixels went silent.
TEST_F(SessionInputs, RefusedMasksChangeNothing) {
    const std::vector<uint16_t> before = session.pixelConfig();
    const std::string masks[] = {
        Write("short.txt", "8191 8191 8191"), Write("short.bpc", std::string(1000, '\x80')),
        Write("run.h5", std::string("\x89HDF\r\n\x1a\n", 8) + std::string(70000, '\0')),
        "/dev/zero", dir.string()};
    for (const std::string& mask : masks) {
        SCOPED_TRACE(mask);
        std::string error;
        EXPECT_EQ(session.LoadMask(mask, error), InterfaceSession::Load::kUnreadable);
        EXPECT_NE(error.find(mask), std::string::npos) << error;
        EXPECT_EQ(session.pixelConfig(), before);
    }
    std::string error;
    ASSERT_EQ(session.CountHits(error), InterfaceSession::Load::kOk) << error;
    for (size_t i = 0; i < before.size(); i += 4099)
        EXPECT_EQ(session.pixelConfig()[i], WithTimepixMode(before[i], 0)) << i;
}

// A file that raises a question (here: made for four chips) is refused whole, with the
// question as its reason: the keys before it (the FSR line, on Timepix the counting mode of
// every pixel) reached the interface before.
TEST_F(SessionInputs, ConfigurationsThatRaiseAQuestionAreRefusedBeforeAnythingIsSent) {
    const std::string text =
        "[Medipix]\nPolarity=Positive\nFSR=1\nChips=4\n"
        "Chip 1 DACs: 1 2 3 4 5 6 7 8 9 10 11 12 13 14 15 true false 3\n";
    std::string error;
    ASSERT_EQ(session.SetTimepixMode(0, error), InterfaceSession::Load::kOk) << error;
    const std::vector<uint16_t> before = session.pixelConfig();
    EXPECT_EQ(session.LoadConfiguration(Write("quad.ini", text), error),
              InterfaceSession::Load::kUnreadable);
    EXPECT_NE(error.find("was not loaded (Config error: Different number of chips.)"),
              std::string::npos)
        << error;
    EXPECT_EQ(error.find("Continue?"), std::string::npos) << error;
    EXPECT_EQ(session.pixelConfig(), before);
}

TEST_F(SessionInputs, RunFilesRecordTheVoltagesSent) {
    constexpr double kNan = std::numeric_limits<double>::quiet_NaN();
    constexpr double kInf = std::numeric_limits<double>::infinity();
    const struct {
        double asked, recorded;
    } biases[] = {{60, 60}, {0, 0}, {-50, 0}, {10, 0}, {kNan, 0}, {1e308, 104.5}, {kInf, 104.5}};
    for (const auto& b : biases) {
        SCOPED_TRACE(b.asked);
        std::string error;
        ASSERT_TRUE(session.SetBias(b.asked, error)) << error;
        EXPECT_DOUBLE_EQ(session.Describe().biasVolts, b.recorded);
    }
    const struct {
        double asked, recorded;
    } dacs[] = {{1.25, 1.25}, {-1, 0}, {kNan, 0}, {1e9, 4095 / 1638.6}, {2.5, 4095 / 1638.6}};
    for (const auto& d : dacs) {
        SCOPED_TRACE(d.asked);
        std::string error;
        ASSERT_TRUE(session.SetInterfaceDac(0, d.asked, error)) << error;
        EXPECT_DOUBLE_EQ(session.Describe().dac0Volts, d.recorded);
    }
}

// Each session keeps its own interface's errors: a failure on one never borrows the other's
// report (two devices driven from two threads of one program).
TEST(SessionReports, EachSessionKeepsItsOwnInterfacesErrors) {
    InstallDriver(MakeEmulatorDriver("timepix:1,medipix2:1"));
    InterfaceSession sessions[2];
    std::vector<std::string> passed[2];
    std::string error;
    for (int i = 0; i < 2; ++i) {
        sessions[i].OnReport([&passed, i](MpxDevice& h) {
            passed[i].emplace_back(h.reportText);
            h.Clear();
        });
        ASSERT_TRUE(sessions[i].Open(ListInterfaces()[i], error)) << error;
        sessions[i].TakeLastError();
        passed[i].clear();
    }
    ReportError(sessions[1].handle(), kTimeoutError, "second timed out");
    ReportError(sessions[0].handle(), kMessage, "first said hello");
    EXPECT_EQ(sessions[0].TakeLastError().text, "") << "a plain message is no error";
    const InterfaceSession::Report second = sessions[1].TakeLastError();
    EXPECT_EQ(second.text, "second timed out");
    EXPECT_EQ(second.kind, "Timeout error");
    EXPECT_EQ(sessions[1].TakeLastError().text, "") << "taken once";
    EXPECT_EQ(passed[0], std::vector<std::string>{"first said hello"});
    EXPECT_EQ(passed[1], std::vector<std::string>{"second timed out"});
}

}  // namespace
}  // namespace ulvarin
