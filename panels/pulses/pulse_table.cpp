#include "panels/pulses/pulse_table.h"

namespace ulvarin {

using K = Kind;

GroupTable PulseGroupTable() {
    const Grid state = {
        {{.kind = K::Label, .text = "Pulses:"},
         {.kind = K::Label, .name = "LabelPulseID", .text = "0"},
         {.kind = K::Check,
          .name = "ChkbRestoreBaseLine",
          .text = "Restore base line",
          .selected = 1},
         {.kind = K::Check, .name = "ChkbAutosavePulse", .text = "Autosave pulse"}},
    };
    const Grid buttons = {
        {{.kind = K::Button,
          .name = "BttnResetSpectrum",
          .text = "Reset",
          .hint = "Clears the scope and spectrum screens"},
         {.kind = K::Button,
          .name = "BttnGenPulse",
          .text = "Simul.",
          .hint = "Simulate back side pulse shape - real data are used (just for debugging)"},
         {.kind = K::Button,
          .name = "BtnSaveSpectrum",
          .text = "Save",
          .hint = "Saves current spectrum ..."},
         {.kind = K::Button,
          .name = "BtnLoadSpectrum",
          .text = "Load",
          .hint = "Loads and displays spectrum ..."}},
    };
    return {"GroupPulses", "Pulses and spectrum", {state, buttons}};
}

}  // namespace ulvarin
