// Placeholder until the emulator lands.
#include "device/link/emulator_driver.h"

namespace ulvarin {
std::shared_ptr<FtDriver> MakeEmulatorDriver(std::string_view) { return nullptr; }
}  // namespace ulvarin
