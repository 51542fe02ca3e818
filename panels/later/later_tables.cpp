#include "panels/later/later_tables.h"

namespace ulvarin {
namespace {

using K = Kind;

}  // namespace

Grid ConfigBarGrid() {
    return {{
        LabelCell("Configuration:"),
        {.kind = K::Button,
         .name = "BttnSaveCfg",
         .text = "Save",
         .hint = "Saves Medipix, interface and software configuration to specified file"},
        {.kind = K::Button,
         .name = "BttnLoadConfig",
         .text = "Load",
         .hint = "Loads Medipix, interface and software configuration from specified file"},
        {.kind = K::Button, .name = "BttnTerminal", .text = "Terminal"},
    }};
}

}  // namespace ulvarin
