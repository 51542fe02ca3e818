// The message list: operation groups and their separators, the line limit, reports kept
// pending while not shown, just-errors filtering with the monitoring thread, and the order
// of lines reported from other threads.
#include "panels/messages/message_log.h"

#include <QCheckBox>
#include <QListWidget>
#include <QPushButton>
#include <thread>

#include "device/monitor.h"
#include "device/report.h"
#include "tests/app/window_fixture.h"

namespace ulvarin::test {
namespace {

const QString kDashes(101, '-');

class MessageLogTest : public WindowTest {
protected:
    void SetUp() override {
        Start("");
        form->messages->BttnClearMsgListClick();
    }
    void Report(int8_t kind, const char* text) {
        ReportError(form->shared.device, kind, "%s", text);
    }
};

TEST_F(MessageLogTest, OperationsAreSeparatedAndNumbered) {
    const int32_t first = form->messages->log()->operationCount + 1;
    form->shared.BeginOperation();
    Report(kMessage, "one");
    Report(kTimeoutError, "two");
    form->shared.BeginOperation();  // an operation without reports leaves no separator
    form->shared.BeginOperation();
    Report(kMessage, "three");
    EXPECT_EQ(Lines(), QStringList({QString::number(first) + " " + kDashes, "Message: one",
                                    "Timeout error: two",
                                    QString::number(first + 2) + " " + kDashes, "Message: three"}));
    EXPECT_FALSE(form->shared.device.HasPendingReport()) << "a shown report clears the handle";
}

TEST_F(MessageLogTest, KeepsAboutTwoHundredLines) {
    for (int i = 0; i < 250; ++i) {
        form->shared.BeginOperation();
        ReportError(form->shared.device, kMessage, "report %d", i);
    }
    EXPECT_LE(Control<QListWidget>("ListMsg")->count(), 202);
    EXPECT_GE(Control<QListWidget>("ListMsg")->count(), 200);
    EXPECT_EQ(LastLine(), "Message: report 249");
}

// The newest line is in view whether a report or a group's own line ("Scan finished ...")
// added it: a finished scan's line once sat below the last reports until scrolled to.
TEST_F(MessageLogTest, TheNewestLineIsScrolledIntoView) {
    auto* list = Control<QListWidget>("ListMsg");
    for (const bool report : {true, false}) {
        SCOPED_TRACE(report);
        for (int i = 0; i < 60; ++i) Report(kMessage, "filler");
        list->scrollToTop();
        if (report)
            Report(kMessage, "newest");
        else
            form->messages->log()->AddLine(QStringLiteral("newest"));
        const QRect shown = list->visualItemRect(list->item(list->count() - 1));
        EXPECT_TRUE(list->viewport()->rect().intersects(shown)) << shown.y();
    }
}

TEST_F(MessageLogTest, ReportNotShownRidesOnTheNextOne) {
    form->messages->log()->logEnabled = false;
    Report(kMessage, "hidden");
    form->messages->log()->logEnabled = true;
    EXPECT_EQ(Control<QListWidget>("ListMsg")->count(), 0);
    Report(kGeneralError, "shown");
    EXPECT_EQ(LastLine(), "General error: shown (hidden)");
}

TEST_F(MessageLogTest, JustErrorsRunsTheMonitorAndFiltersMessages) {
    Report(kMessage, "before");
    Control<QCheckBox>("ChkbMessagesShowJustErrors")->click();
    EXPECT_TRUE(form->messages->log()->justErrors);
    EXPECT_EQ(Control<QListWidget>("ListMsg")->count(), 0) << "switching clears the list";
    ASSERT_TRUE(WaitFor([] { return IsMonitorRunning(); }));

    form->shared.device.Clear();
    Report(kMessage, "progress");
    Report(kGeneralError, "general");
    Report(kBadHandle, "bad handle");
    EXPECT_EQ(Lines(), QStringList({"Bad device handle: bad handle (general (progress))"}));

    // A report from another thread (as the monitoring thread makes them) arrives too.
    std::thread([] {
        MpxDevice other;
        ReportError(other, kTransmissionFailed, "from the monitor side");
    }).join();
    EXPECT_TRUE(
        WaitFor([&] { return LastLine() == "Transmission failed: from the monitor side"; }));

    Control<QCheckBox>("ChkbMessagesShowJustErrors")->click();
    EXPECT_FALSE(form->messages->log()->justErrors);
    EXPECT_TRUE(WaitFor([] { return !IsMonitorRunning(); }));
    Report(kMessage, "after");
    EXPECT_EQ(Lines(), QStringList({"Message: after"}));
}

TEST_F(MessageLogTest, LinesFromOtherThreadsKeepTheOrderOfTheirReports) {
    std::thread([] {
        MpxDevice other;
        for (int i = 0; i < 50; ++i) ReportError(other, kMessage, "thread %d", i);
    }).join();
    // Reported later on the GUI thread, so it must come after all of them.
    Report(kMessage, "gui");
    ASSERT_TRUE(WaitFor([&] { return Control<QListWidget>("ListMsg")->count() == 51; }));
    const QStringList lines = Lines();
    for (int i = 0; i < 50; ++i) EXPECT_EQ(lines[i], QString("Message: thread %1").arg(i));
    EXPECT_EQ(lines[50], "Message: gui");
}

TEST_F(MessageLogTest, ClearEmptiesTheList) {
    Report(kMessage, "one");
    Report(kMessage, "two");
    Control<QPushButton>("BttnClearMsgList")->click();
    EXPECT_EQ(Control<QListWidget>("ListMsg")->count(), 0);
}

}  // namespace
}  // namespace ulvarin::test
