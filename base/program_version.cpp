#include "base/program_version.h"

#ifndef ULVARIN_VERSION
#error "ULVARIN_VERSION is set by the build"
#endif

namespace ulvarin {

const char* ProgramVersion() {
    return ULVARIN_VERSION;
}

}  // namespace ulvarin
