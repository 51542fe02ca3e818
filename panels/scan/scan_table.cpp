#include "panels/scan/scan_table.h"

namespace ulvarin {

using K = Kind;

GroupTable ScanGroupTable() {
    return {"GroupScan",
            "Scan",
            {{
                {LabelCell("DAC:"),
                 {.kind = K::List,
                  .name = "CombScanDAC",
                  .hint = "DAC to be scanned (Interval time is used for exposure)",
                  .items = DesignDacNames(),
                  .selected = 8,
                  .span = 2},
                 LabelCell("Eq. bits:"),
                 {.kind = K::List,
                  .name = "CombScanBits",
                  .hint = "Threshold adjustment bits of every counting pixel during a scan "
                          "(the pixel configuration comes back when the scan ends)",
                  .items = {"No change", "Scan", "0", "1", "2", "3", "4", "5", "6", "7"},
                  .selected = 0,
                  .span = 2}},
                {LabelCell("From:"),
                 {.kind = K::EditUpDown,
                  .name = "EditScanFrom",
                  .text = "140",
                  .upDown = "UpDownScanFrom",
                  .minimum = 0,
                  .maximum = 1023,
                  .position = 140},
                 LabelCell("To:"),
                 {.kind = K::EditUpDown,
                  .name = "EditScanTo",
                  .text = "200",
                  .upDown = "UpDownScanTo",
                  .minimum = 0,
                  .maximum = 1023,
                  .position = 200},
                 LabelCell("Step:"),
                 {.kind = K::EditUpDown,
                  .name = "EditScanStep",
                  .text = "1",
                  .upDown = "UpDownScanStep",
                  .minimum = 1,
                  .maximum = 255,
                  .position = 1}},
                {{.kind = K::Check,
                  .name = "ChkbTestPulses",
                  .text = "Generate test pulses",
                  .span = 2,
                  .enabled = false},
                 {},
                 {.kind = K::EditUpDown,
                  .name = "EditTestPulseCount",
                  .text = "1000",
                  .upDown = "UpDownTestPulseCount",
                  .minimum = 1,
                  .maximum = 10000,
                  .position = 1000},
                 {.kind = K::Button,
                  .name = "BttnMakeTestPulses",
                  .text = "!",
                  .hint = "Make just test pulses"},
                 {.kind = K::Button, .name = "BttnScanStart", .text = "Start"}},
                // The progress bar beside the button is added by the panel.
                {{.kind = K::Button,
                  .name = "BttnEqualize",
                  .text = "Equalize",
                  .hint = "Equalize the pixels' thresholds: three scans of the DAC over "
                          "From..To by Step, then the adjustment bits that bring every pixel "
                          "to its chip's median threshold are kept",
                  .span = 2}},
            }}};
}

}  // namespace ulvarin
