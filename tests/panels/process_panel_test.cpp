// The "HW Processes" panel against an emulated Timepix interface: templates reaching the
// interface's sources, processes started with "Start process" and ended by the poll, the
// action menus taken at the next tick, normalised texts and the state read back, and an
// interface that stops answering in the middle of a process.
#include "device/drivers/driver_registry.h"
#include "device/identify.h"
#include "panels/processes/process_panel.h"

#include <gtest/gtest.h>

#include <QComboBox>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QTest>
#include <algorithm>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "standard_drivers/emulator_driver.h"
#include "device/link.h"
#include "device/protocol.h"
#include "device/report.h"
#include "panels/shared/window_shared.h"
#include "hardware_process/process_templates.h"

namespace ulvarin::test {
namespace {

using namespace process;

struct EngineState {
    sim::TimerState period, interval, counter;
    sim::TriggerState trigger;
    sim::FrameCounterState frames;
};

class ProcessPanelTest : public ::testing::Test {
protected:
    void SetUp() override {
        emulator = MakeEmulatorDriver("timepix:1");
        InstallDriver(emulator);
        SetReportHook(
            [](MpxDevice& handle, void* self) {
                if (handle.reportKind > kMessage)
                    static_cast<ProcessPanelTest*>(self)->errors.emplace_back(handle.reportText);
                handle.Clear();
            },
            this);
        SetBackgroundHook(
            [](MpxDevice&, MpxCommandResponse& record, void* self) {
                if (record.frameNumber != 0) ++static_cast<ProcessPanelTest*>(self)->frames;
            },
            this);
        shared.device.device = OpenDevice(emulator->Description(0).c_str(), true, false, 0);
        ASSERT_NE(shared.device.device, nullptr);
        panel = std::make_unique<ProcessPanel>(shared, nullptr);
        QObject::connect(&shared, &WindowShared::logLine, [this](const QString& l) { lines << l; });
        QObject::connect(panel.get(), &ProcessPanel::processEnded, [this] { ++ended; });
        QObject::connect(panel.get(), &ProcessPanel::processLost, [this] { ++lost; });
    }
    void TearDown() override {
        panel.reset();
        CloseDevice(shared.device, true);
        SetBackgroundHook(nullptr, nullptr);
        SetReportHook(nullptr, nullptr);
        InstallDriver(nullptr);
    }

    template <class T>
    T* Control(const char* name) {
        T* control = panel->findChild<T*>(QString::fromUtf8(name));
        EXPECT_NE(control, nullptr) << name;
        return control;
    }
    std::string Text(const char* name) {
        if (auto* box = panel->findChild<QComboBox*>(name)) return box->currentText().toStdString();
        if (auto* edit = panel->findChild<QLineEdit*>(name)) return edit->text().toStdString();
        if (auto* label = panel->findChild<QLabel*>(name)) return label->text().toStdString();
        return Control<QPushButton>(name)->text().toStdString();
    }
    void Type(const char* box, const char* text) {
        if (auto* edit = panel->findChild<QLineEdit*>(box))
            edit->setText(QString::fromUtf8(text));
        else
            Control<QComboBox>(box)->setEditText(QString::fromUtf8(text));
    }
    void Press(const char* button) { Control<QPushButton>(button)->click(); }
    void Choose(int item) {
        auto* list = Control<QComboBox>("CombProcessTemplate");
        list->setCurrentIndex(item);
        emit list->activated(item);
    }
    EngineState Engine() {
        EngineState s;
        emulator->WithInterface(0, [&](sim::EmulatedInterface& e) {
            const auto now = sim::Clock::now();
            sim::ProcessEngine& p = e.Process();
            s = {p.Period(now), p.Interval(now), p.Counter(now), p.TriggerInput(), p.Frames()};
        });
        return s;
    }
    // Ticks as the window's main timer does, every 50 ms, until the process has ended or 5 s
    // have passed; the frames it sends are drained as the timer does.
    bool RunTimer() {
        QElapsedTimer clock;
        clock.start();
        for (bool running = true; running; running = panel->ProcessRunning()) {
            if (clock.elapsed() > 5000) return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
            MpxCommandResponse record;
            shared.device.Clear();
            DrainBackground(shared.device, record);
            panel->TakeActionMenus();
            panel->PollProcess();
            QCoreApplication::processEvents();
        }
        return true;
    }

    std::shared_ptr<EmulatorDriver> emulator;
    WindowShared shared;
    std::unique_ptr<ProcessPanel> panel;
    std::vector<std::string> errors;
    QStringList lines;
    int frames = 0;
    int ended = 0;
    int lost = 0;
};

TEST_F(ProcessPanelTest, TemplatesConfigureEverySourceOfTheInterface) {
    ASSERT_EQ(Control<QComboBox>("CombProcessTemplate")->count(), kTemplateCount);
    EXPECT_EQ(Text("BttnDo"), "OI");  // the sets replace the captions at once

    // The blank item changes and sends nothing.
    Type("CombPeriod", "2");
    const int packets = shared.device.packets;
    Choose(0);
    EXPECT_EQ(shared.device.packets, packets);
    EXPECT_EQ(Text("CombPeriod"), "2");

    // A running period timer is stopped by a template whose period is off.
    Press("BttnPeriodStart");
    ASSERT_TRUE(Engine().period.running);
    for (int item = 1; item < kTemplateCount; ++item) {
        const ProcessTemplate& t = ProcessTemplates()[item];
        SCOPED_TRACE(t.name);
        Choose(item);
        EXPECT_EQ(Text("BttnTriggerAction"), ActionCaption(t.actionSet[kTrigger]));
        const EngineState e = Engine();
        EXPECT_EQ((ActionSets{t.actionSet[0], e.frames.actions, e.period.actions,
                              e.interval.actions, e.trigger.actions, e.counter.actions}),
                  t.actionSet);
        EXPECT_EQ(e.frames.loaded, FrameCounterLoad(t.frames));
        EXPECT_FALSE(e.period.running);  // a template starts nothing
        EXPECT_EQ(e.period.value, TimerTicks(t.period, 3));
        EXPECT_EQ(e.interval.value, TimerTicks(t.interval, 3));
        EXPECT_EQ(e.counter.value, static_cast<uint64_t>(t.counter));
        EXPECT_EQ(Control<QComboBox>("CombTrigger")->currentIndex(), t.trigger ? 1 : 0);
        EXPECT_EQ(Text("EditRepeat"), std::to_string(t.frames));
    }
    EXPECT_EQ(Text("CombPeriod"), "0.05");  // "Periodic scope", chosen last
    Choose(2);                              // "Single frame"
    EXPECT_EQ(Text("CombPeriod") + Text("CombInterval") + Text("CombCounter"), "Off1Off");
    Choose(8);  // "Counter stops exposition"
    EXPECT_EQ(Text("CombCounter"), "100");
    EXPECT_TRUE(errors.empty()) << errors.front();
}

TEST_F(ProcessPanelTest, ProcessesStartedByStartProcessEndAtAPoll) {
    Choose(2);  // "Single frame", with a short exposure
    Type("CombInterval", "0.05");
    // The button is bold and red whether it starts or stops.
    const auto boldRed = [this] {
        const QString style = Control<QPushButton>("BttnStartProcess")->styleSheet();
        return style.contains("bold") && style.contains("red");
    };
    EXPECT_EQ(Text("BttnStartProcess"), "Start process");
    EXPECT_TRUE(boldRed());
    Press("BttnStartProcess");
    ASSERT_TRUE(panel->ProcessRunning());
    EXPECT_EQ(Text("BttnStartProcess"), "Stop Process");
    EXPECT_TRUE(boldRed());
    EXPECT_EQ(Text("BttnIntervalStart"), "Stop");
    EXPECT_EQ(Text("CombInterval"), "0.05");  // the time read back keeps its text
    // Four ticks make no exchange; the poll runs on the fifth.
    const int packets = shared.device.packets;
    for (int i = 0; i < 4; ++i) panel->PollProcess();
    EXPECT_EQ(shared.device.packets, packets);
    ASSERT_TRUE(RunTimer());
    EXPECT_EQ(ended, 1);
    EXPECT_EQ(frames, 1);
    EXPECT_EQ(Text("BttnStartProcess"), "Start Process");
    EXPECT_TRUE(boldRed());
    EXPECT_EQ(Text("BttnIntervalStart") + Text("LabelInterval"), "StartOff");
    // With nothing running the poll asks nothing.
    const int idle = shared.device.packets;
    for (int i = 0; i < 10; ++i) panel->PollProcess();
    EXPECT_EQ(shared.device.packets, idle);

    Choose(3);  // "Multiple frames": three of them
    Type("EditRepeat", "3");
    Type("CombInterval", "0.03");
    frames = 0;
    Press("BttnStartProcess");
    ASSERT_TRUE(RunTimer());
    EXPECT_EQ(frames, 3);
    EXPECT_EQ(Text("EditRepeat") + Text("CombInterval"), "30.03");

    // "Trigger starts exposition": the trigger's actions start the interval timer after
    // the start was read back; the process runs on until its frame is read.
    Choose(5);
    Type("EditRepeat", "1");
    Type("CombInterval", "0.2");
    frames = 0;
    Press("BttnStartProcess");
    ASSERT_EQ(Text("BttnTriggerStart"), "Stop");
    emulator->WithInterface(0, [](sim::EmulatedInterface& e) { e.FireTrigger(sim::Clock::now()); });
    for (int i = 0; i < ProcessPanel::kPollEveryTicks; ++i) panel->PollProcess();
    EXPECT_TRUE(panel->ProcessRunning());
    EXPECT_EQ(Text("BttnIntervalStart"), "Stop");
    ASSERT_TRUE(RunTimer());
    EXPECT_EQ(frames, 1);
    EXPECT_EQ(ended, 3);

    // "Stop Process" aborts a process that would run on.
    Choose(2);
    Type("CombInterval", "30");
    Press("BttnStartProcess");
    ASSERT_TRUE(Engine().interval.running);
    Press("BttnStartProcess");
    EXPECT_FALSE(panel->ProcessRunning());
    EXPECT_FALSE(Engine().interval.running);
    EXPECT_EQ(Text("BttnStartProcess") + Text("BttnIntervalStart"), "Start ProcessStart");
    EXPECT_EQ(ended, 3);
    EXPECT_TRUE(errors.empty()) << errors.front();
}

TEST_F(ProcessPanelTest, ActionMenuMarksAreTakenAtTheNextTick) {
    const char* names[] = {"MenuDoAction",       "MenuDataAction",    "MenuPeriodAction",
                           "MenuIntervalAction", "MenuTriggerAction", "MenuCounterActions"};
    for (const char* name : names) {
        const QList<QAction*> items = Control<QMenu>(name)->actions();
        ASSERT_EQ(items.size(), kActionCount) << name;
        for (int bit = 0; bit < kActionCount; ++bit) {
            EXPECT_TRUE(items[bit]->isCheckable());
            EXPECT_EQ(items[bit]->text(), ActionItemCaption(bit));
            EXPECT_EQ(items[bit]->isEnabled(), bit != 0 || name != names[1]) << name << bit;
        }
    }
    // Opening a menu returns the template list to its blank item; the marks are sent once,
    // at the next tick after the menu closed.
    Choose(4);  // "Fixed frame rate": period OI
    auto* menu = Control<QMenu>("MenuPeriodAction");
    panel->BttnPeriodActionClick();
    EXPECT_EQ(Control<QComboBox>("CombProcessTemplate")->currentIndex(), 0);
    EXPECT_TRUE(menu->isVisible());
    const int packets = shared.device.packets;
    menu->actions()[3]->trigger();  // "Trigger scope (S)"
    menu->hide();
    EXPECT_EQ(Text("BttnPeriodAction"), "OI");
    EXPECT_EQ(shared.device.packets, packets);
    panel->TakeActionMenus();
    EXPECT_EQ(Text("BttnPeriodAction"), "OIS");
    EXPECT_EQ(Engine().period.actions, 0x0E);
    const int sent = shared.device.packets;
    panel->TakeActionMenus();
    EXPECT_EQ(shared.device.packets, sent);
    EXPECT_TRUE(errors.empty()) << errors.front();
}

TEST_F(ProcessPanelTest, TextsAreNormalisedAndTheStateIsReadBack) {
    Type("EditRepeat", "xyz");
    Type("CombPeriod", "abc");
    Type("CombInterval", "0.25000001");
    Type("CombCounter", "-3");
    const int packets = shared.device.packets;
    panel->ReadProcessSettings(kAllSources, false);
    EXPECT_EQ(shared.device.packets, packets);
    EXPECT_EQ(Text("EditRepeat") + "|" + Text("CombPeriod") + "|" + Text("CombInterval") + "|" +
                  Text("CombCounter"),
              "1|Off|0.25|Off");
    panel->ReadProcessSettings(kAllSources, true);
    EngineState e = Engine();
    EXPECT_EQ(e.frames.loaded, 0u);
    EXPECT_EQ(e.period.value, 1u);  // off: one tick
    EXPECT_EQ(e.interval.value, TimerTicks(0.25000001, 3));
    EXPECT_EQ(e.counter.value, 0u);

    EXPECT_EQ(Text("LabelInterval"), "0");
    panel->ReadProcessState(kEverySource);
    EXPECT_EQ(Text("LabelInterval"), "Off");  // stopped
    EXPECT_EQ(Text("CombPeriod"), "Off");     // one tick
    EXPECT_EQ(Text("CombInterval"), "0.25");
    EXPECT_EQ(Text("LabelTrigger"), "0");  // no trigger all along
    EXPECT_EQ(Text("LabelCounter") + Text("LabelRepeat"), "Off1");

    // A Start button configures and starts its source; pressed while it runs, only stops.
    Type("CombInterval", "5");
    Press("BttnIntervalStart");
    EXPECT_TRUE(Engine().interval.running);
    EXPECT_EQ(Text("BttnIntervalStart") + Text("LabelInterval"), "Stop4");
    Type("CombInterval", "7");
    Press("BttnIntervalStart");
    e = Engine();
    EXPECT_FALSE(e.interval.running);
    EXPECT_EQ(e.interval.value, TimerTicks(5, 3));
    EXPECT_EQ(Text("BttnIntervalStart"), "Start");
    EXPECT_EQ(Text("CombInterval"), "7");  // the load did not change: the text stays

    // Enter in a time box neither sends nor joins the list.
    auto* counter = Control<QComboBox>("CombCounter");
    const int items = counter->count();
    counter->lineEdit()->selectAll();
    QTest::keyClicks(counter->lineEdit(), "42");
    QTest::keyClick(counter->lineEdit(), Qt::Key_Return);
    EXPECT_EQ(counter->count(), items);
    EXPECT_EQ(Text("CombCounter"), "42");

    // A time set elsewhere reads back as the time it stands for.
    emulator->WithInterface(
        0, [](sim::EmulatedInterface& i) { i.Process().SetupPeriod(TimerTicks(2.5, 3), 0x06); });
    panel->ReadProcessState(kPeriod);
    EXPECT_EQ(Text("CombPeriod"), "2.5");

    EXPECT_TRUE(errors.empty()) << errors.front();
}

// A live but silent interface costs one timeout per poll, not one per source: the poll runs
// on the window's thread.
TEST_F(ProcessPanelTest, ASilentInterfaceIsAskedOncePerPoll) {
    Type("CombPeriod", "20");
    Type("CombInterval", "30");
    Type("CombCounter", "1000");
    Press("BttnStartProcess");
    ASSERT_TRUE(panel->ProcessRunning());
    errors.clear();
    emulator->WithLink(0, [](sim::LinkModel& link) {
        link.StallUntil(sim::Clock::now() + std::chrono::seconds(30));
    });
    for (int i = 0; i < ProcessPanel::kPollEveryTicks; ++i) panel->PollProcess();
    EXPECT_EQ(lost, 1);
    const auto timeouts = std::count_if(errors.begin(), errors.end(), [](const std::string& e) {
        return e.find("Timeout") != std::string::npos;
    });
    EXPECT_EQ(timeouts, 1) << errors.size();
}

TEST_F(ProcessPanelTest, AnInterfaceThatStopsAnsweringEndsTheProcessWithALine) {
    Type("CombInterval", "30");
    Press("BttnStartProcess");
    ASSERT_TRUE(panel->ProcessRunning());
    emulator->SetPlugged(0, false);
    for (int i = 0; i < ProcessPanel::kPollEveryTicks; ++i) panel->PollProcess();
    EXPECT_FALSE(panel->ProcessRunning());
    EXPECT_EQ(Text("BttnStartProcess") + Text("BttnIntervalStart"), "Start ProcessStart");
    EXPECT_EQ(lost, 1);
    EXPECT_EQ(ended, 0);
    ASSERT_EQ(lines.size(), 1);
    EXPECT_TRUE(lines[0].startsWith("Process given up: the interface does not answer"))
        << lines[0].toStdString();
    ASSERT_FALSE(errors.empty());  // the failed queries themselves were reported

    // Nothing is polled any more.
    const size_t reported = errors.size();
    for (int i = 0; i < 3 * ProcessPanel::kPollEveryTicks; ++i) panel->PollProcess();
    EXPECT_EQ(errors.size(), reported);
    EXPECT_EQ(lines.size(), 1);
}

}  // namespace
}  // namespace ulvarin::test
