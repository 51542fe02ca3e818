#include "panels/basic_commands/basic_table.h"

namespace ulvarin {

using K = Kind;

GroupTable BasicsGroup() {
    const Grid commands = {
        {LabelCell("Shutter:"),
         {.kind = K::Button,
          .name = "BttnStart",
          .text = "Open",
          .hint = "Opens the Medipix shutter"},
         {.kind = K::Button,
          .name = "BttnStop",
          .text = "Close",
          .hint = "Closes the Medipix shutter and reads frame data",
          .enabled = false},
         {.kind = K::Button,
          .name = "BttnGetData",
          .text = "Get Data",
          .hint = "Gets image from Medipix"},
         {.kind = K::Button,
          .name = "BttnResetMatrix",
          .text = "Erase",
          .hint = "Erase all pixel counters"}},
        {LabelCell("Chips:"),
         {.kind = K::Button, .name = "BttnFSRtst", .text = "FSR test", .hint = "Makes FSR test"},
         {.kind = K::Button,
          .name = "BttnSetMask",
          .text = "Set Mask",
          .hint = "Sets MASK loaded from file ..."},
         {.kind = K::Button,
          .name = "BttnResMask",
          .text = "Res. Mask",
          .hint = "Resets pixel cfg to default value (0xffff)"},
         {.kind = K::Button,
          .name = "BttnMPXReset",
          .text = "MPX Reset",
          .hint = "Makes Medipix reset"}},
    };
    const Grid settings = {
        {LabelCell("MPX Power:"),
         {.kind = K::Button,
          .name = "BttnPowerOn",
          .text = "On",
          .hint = "Switches Medipix power ON"},
         {.kind = K::Button,
          .name = "BttnPowerOff",
          .text = "Off",
          .hint = "Switches Medipix power OFF"},
         {},
         {.kind = K::Button, .name = "BttnTester", .text = "Tester"}},
        {LabelCell("Polarity"),
         {.kind = K::List,
          .name = "CombPolarity",
          .items = {"Positive", "Negative"},
          .selected = 0,
          .span = 2},
         LabelCell("TPX Clock"),
         {.kind = K::List,
          .name = "CombTimepixClock",
          .items = {"10 MHz", "20 MHz", "40 MHz", "80 MHz"},
          .selected = 0}},
        {{.kind = K::Label, .name = "LabelFSRMode", .text = "Active FSR:"},
         {.kind = K::List, .name = "CombSelectFSRMode", .items = {"FSR0", "FSR1"}, .span = 2}},
    };
    return {"GroupBasics", "Basic commands", {commands, settings}};
}

}  // namespace ulvarin
