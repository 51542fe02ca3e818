#include "panels/processes/process_table.h"

namespace ulvarin {
namespace {

using K = Kind;

// The interface's command letters as the action command selectors list them.
// clang-format off
const std::vector<std::string> kActionCommands = {
    "+ TriggerOutHigh", "- TriggerOutLow", "* TriggerOutCpl", "_  GlobalReset",
    "i  VersionInfo", "?  ListCommands", "r  MPXReset", "R  MPXResetDefault",
    "E  DefaultMatrix", "e  EraseMatrix", "m  ReadData", "f  FSRtest", "o  OpenShutter",
    "c  CloseShutter", "C  CloseShutterRead", "0  FSR0", "1  FSR1", "p  Negative",
    "P  Positive", "n  CMOSstatus", "#  MPXcnt", "x  MPXon", "X  MPXoff", "B  ResetBias",
    "M  StartMonitor", "a  StartScope", "y  IntervalReset", "Y  IntervalStop",
    "z  IntervalState", "g  IntervalExposition", "h  IntervalMuptiExposition",
    "G AbortExposition", "u  PeriodStart", "U  PeriodStop", "v  PeriodState",
    "&  PeriodicalExposition", "j  CounterStart", "J  CounterStop", "k  CounterState",
    "l  TriggerStart", "L  TriggerStop", "q  TriggerState", "@  FrameCounterStart",
    ")  FrameCounterState"};
// clang-format on

// One row of the process group: a source's value, its state read back, its start button
// and its action set button.
Row SourceRow(const char* label, Cell value, const char* state, Cell start, const char* action,
              const char* actionHint) {
    return {LabelCell(label),
            std::move(value),
            {.kind = K::Label, .name = state, .text = "0"},
            std::move(start),
            {.kind = K::Button, .name = action, .text = "", .hint = actionHint}};
}

Cell StartButton(const char* name, const char* hint) {
    return {.kind = K::Button, .name = name, .text = "Start", .hint = hint};
}

}  // namespace

GroupTable HWProcessesGroup() {
    const Cell period = {.kind = K::EditList,
                         .name = "CombPeriod",
                         .text = "Off",
                         .hint = "Period timer (auto restarted when expires)",
                         .items = {"Off", "0.5", "1", "2", "5", "10", "20", "30", "60", "300"}};
    const Cell interval = {
        .kind = K::EditList,
        .name = "CombInterval",
        .text = "1",
        .hint =
            "Interval timer (remains stopped when expires, can control e.g. shutter of Medipix)",
        .items = {"None", "0.001", "0.01", "0.1", "0.5", "1", "2", "5", "10", "20", "30", "60",
                  "150", "300"}};
    const Cell counter = {.kind = K::EditList,
                          .name = "CombCounter",
                          .text = "Off",
                          .hint = "Counter of external events",
                          .items = {"Off", "1", "10", "100", "1000"}};
    const Grid sources = {
        {{}, LabelCell("Value"), LabelCell("State"), {}, LabelCell("Actions")},
        SourceRow("Frames:",
                  {.kind = K::EditUpDown,
                   .name = "EditRepeat",
                   .text = "1",
                   .hint = "Number of frames to take",
                   .upDown = "UpDown4",
                   .minimum = 1,
                   .maximum = 10000,
                   .position = 1},
                  "LabelRepeat",
                  {.kind = K::Button,
                   .name = "BttnFrameInit",
                   .text = "Init",
                   .hint = "Initialize frame counter",
                   .enabled = false},
                  "BttnDataAction",
                  "Actions to be taken when frame is read from Medipix => whenever frame counter "
                  "is decremented"),
        SourceRow("Period:", period, "LabelPeriod",
                  StartButton("BttnPeriodStart", "Starts period timer"), "BttnPeriodAction",
                  "Actions to be taken when period expires"),
        SourceRow("Interval:", interval, "LabelInterval",
                  StartButton("BttnIntervalStart", "Starts interval timer"), "BttnIntervalAction",
                  "Actions to be taken when interval expires"),
        SourceRow("Trigger:",
                  {.kind = K::List,
                   .name = "CombTrigger",
                   .hint = "External trigger input ON/OFF",
                   .items = {"Off", "On"},
                   .selected = 0},
                  "LabelTrigger", StartButton("BttnTriggerStart", "Start waiting for trigger"),
                  "BttnTriggerAction", "Actions to be taken when external trigger is detected"),
        SourceRow("Counter:", counter, "LabelCounter",
                  StartButton("BttnCounterStart", "Starts counting external events"),
                  "BttnCounterAction", "Actions to be taken when counter underflows"),
    };
    const Grid process = {
        {LabelCell("Process template:"),
         {.kind = K::List,
          .name = "CombProcessTemplate",
          .hint = "Templates of some typical process configurations",
          .span = 4}},
        {LabelCell("On start:"),
         {.kind = K::Button, .name = "BttnDo", .hint = "Actions to be done after start of process"},
         {.kind = K::Button,
          .name = "BttnStartProcess",
          .text = "Start process",
          .hint = "Starts/stops process defined by actions below",
          .span = 3}},
        {LabelCell("Action command1:"),
         {.kind = K::List,
          .name = "ComboBox6",
          .items = kActionCommands,
          .selected = 0,
          .span = 4,
          .enabled = false}},
        {LabelCell("Action command2:"),
         {.kind = K::List,
          .name = "ComboBox7",
          .items = kActionCommands,
          .selected = 1,
          .span = 4,
          .enabled = false}},
    };
    return {"GroupHWProcesses", "HW Processes", {sources, process}};
}

}  // namespace ulvarin
