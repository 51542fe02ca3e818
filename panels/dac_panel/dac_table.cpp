#include "panels/dac_panel/dac_table.h"

namespace ulvarin {

using K = Kind;

namespace {

const std::vector<std::string> kDesignSenseDacs = {
    "(none)",      "VbiasDelayN", "VbiasDisc",      "VbiasPreamp", "VbiasSetDisc", "VbiasThs",
    "VbiasLVDStx", "VbiasIkrum",  "VbiasIkrumHalf", "VrefLVDStx",  "Vfbk",         "VthL",
    "VthH",        "Vgnd",        "VbiasABuffer",   "..."};

}  // namespace

GroupTable MpxDacsGroup() {
    return {"GroupMpxDACs",
            "Medipix DACs",
            {{
                {LabelCell("DAC:"),
                 {.kind = K::List,
                  .name = "ComboDAC",
                  .text = "Vthl",
                  .hint = "Medipix internal DAC selection",
                  .items = DesignDacNames()},
                 LabelCell("Value:"),
                 {.kind = K::EditUpDown,
                  .name = "EditDACValue",
                  .text = "200",
                  .hint = "Value to be used for selected DAC",
                  .upDown = "UpDownDACValue",
                  .minimum = 0,
                  .maximum = 1023,
                  .position = 200},
                 {.kind = K::Button,
                  .name = "BttnSetDACs",
                  .text = "Set DACs",
                  .hint = "Sets Medipix internal DACs"}},
                {{.kind = K::Label, .name = "LabelSelChip", .text = "Chip"},
                 {.kind = K::List,
                  .name = "ComboChip",
                  .hint = "Chip selection - for multichip assemblies",
                  .items = {"All", "1", "2", "3", "4"},
                  .selected = 0},
                 LabelCell("Sense:"),
                 {.kind = K::List,
                  .name = "ComboSenseDAC",
                  .text = "VthL",
                  .hint = "DAC to be sensed by ADC0",
                  .items = kDesignSenseDacs,
                  .span = 2}},
                {{},
                 {},
                 LabelCell("Bypass:"),
                 {.kind = K::List,
                  .name = "ComboBypassDAC",
                  .text = "(none)",
                  .hint = "DAC to be bypassed by external DAC",
                  .items = kDesignSenseDacs,
                  .span = 2}},
            }}};
}

}  // namespace ulvarin
