// Reset and chip identification of an interface.
#include "device/link.h"
#include "device/report.h"

namespace ulvarin {

bool ResetInterface(MpxDevice& handle) {
    ReportError(handle, kUnsupported, "Reset not available yet.");
    return false;
}

bool ReadChipIds(MpxDevice&, char*, int) { return false; }

}  // namespace ulvarin
