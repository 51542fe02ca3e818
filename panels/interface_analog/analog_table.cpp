#include "panels/interface_analog/analog_table.h"

namespace ulvarin {
namespace {

using K = Kind;

// A scope channel's check box and its inversion box, twice, then `tail` at the right.
Row ScopeRow(int left, const char* leftText, int right, const char* rightText, Row tail) {
    static const char* const kNames[] = {"ChkbScope0", "ChkbScope1", "ChkbScope2", "ChkbScope3",
                                         "ChkbScope4", "ChkbScope5", "ChkbScope6", "ChkbScope7"};
    static const char* const kInv[] = {"ChkbScopeInv0", "ChkbScopeInv1", "ChkbScopeInv2",
                                       "ChkbScopeInv3", "ChkbScopeInv4", "ChkbScopeInv5",
                                       "ChkbScopeInv6", "ChkbScopeInv7"};
    Row row = {{.kind = K::Check, .name = kNames[left], .text = leftText, .selected = left == 1},
               {.kind = K::Check, .name = kInv[left]},
               {.kind = K::Check, .name = kNames[right], .text = rightText},
               {.kind = K::Check, .name = kInv[right]}};
    row.insert(row.end(), tail.begin(), tail.end());
    return row;
}

Cell AdcLabel(const char* name) {
    return {.kind = K::Label,
            .name = name,
            .text = "0.0000 V",
            .hint = "Click to disable/enable chart"};
}

}  // namespace

GroupTable InterfaceGroup() {
    const Grid analog = {
        {LabelCell("Bias:"),
         {.kind = K::EditList,
          .name = "CombBias",
          .text = "OFF",
          .hint = "Bias Voltage (8bit precission, 40 - 105 V)",
          .items = {"100 V", "80 V", "60 V", "50 V", "40 V", "5 V", "OFF"}},
         {.kind = K::UpDown, .name = "UpDownHV", .maximum = 255},
         {.kind = K::Button, .name = "BttnSetBias", .text = "Set"},
         AdcLabel("LabelADC0"),
         AdcLabel("LabelADC1")},
        {LabelCell("DAC0:"),
         {.kind = K::EditList,
          .name = "CombDAC0",
          .text = "2.4 V",
          .hint = "Interface DAC0 (12bit)",
          .items = VoltItems(0, 24)},
         {.kind = K::UpDown, .name = "UpDownDAC0", .maximum = 4095},
         {.kind = K::Button, .name = "BttnDAC0Set", .text = "Set"},
         AdcLabel("LabelADC2"),
         AdcLabel("LabelADC3")},
        {LabelCell("DAC1:"),
         {.kind = K::EditList, .name = "CombDAC1", .text = "1.3 V", .items = VoltItems(5, 15)},
         {.kind = K::UpDown, .name = "UpDownDAC1", .maximum = 4095},
         {.kind = K::Button, .name = "BttnDAC1Set", .text = "Set"},
         AdcLabel("LabelADC4"),
         AdcLabel("LabelADC5")},
        {LabelCell("ADCs:"),
         {.kind = K::Button,
          .name = "BttnInterfaceADCread",
          .text = "Read",
          .hint = "Make single measurement of all ADCs."},
         {.kind = K::Check,
          .name = "ChkbInterfaceADCread",
          .text = "Monitor",
          .hint = "Turns periodic monitoring ON/OFF.",
          .selected = 1,
          .span = 2},
         AdcLabel("LabelADC6"),
         AdcLabel("LabelADC7")},
    };
    const Grid scope = {
        {{}, LabelCell("inv."), {}, LabelCell("inv.")},
        ScopeRow(0, "0 (Sense)", 4, "4 (General)",
                 {{.kind = K::List,
                   .name = "CombScopeSampling",
                   .hint = "Sample rate.",
                   .items = {"32 us/S", "8 us/S", "4 us/S", "2 us/S"},
                   .selected = 3,
                   .span = 2}}),
        ScopeRow(1, "1 (B.Pulse)", 5, "5 (General)",
                 {{.kind = K::EditList,
                   .name = "ComboScopeSamples",
                   .text = "450",
                   .hint = "Number of samples in all channels (Size of sample buffer).",
                   .items = {"50", "75", "100", "150", "200", "250", "300", "450"},
                   .span = 2}}),
        ScopeRow(2, "2 (Bias V)", 6, "6 (General)",
                 {{.kind = K::Check,
                   .name = "ChkbInternalMonitor",
                   .text = "Inter. >8",
                   .hint = "Enabel/disable monitoring of internal ADCs (channels 8-12)",
                   .span = 2}}),
        ScopeRow(3, "3 (Bias C)", 7, "7 (General)",
                 {{.kind = K::Button,
                   .name = "BttnScopeClear",
                   .text = "Clear",
                   .hint = "Clears monitor curves"},
                  {.kind = K::Button,
                   .name = "BttnScopeNow",
                   .text = "Now",
                   .hint = "Manual scope trigger"}}),
    };
    return {"GroupBox5", "Interface DACs/ADCs", {analog, scope}};
}

}  // namespace ulvarin
