// The program's version, set once by the build from the project's version.
#pragma once

namespace ulvarin {

// "0.1" and so on; the same text in every program, file and package of this build.
const char* ProgramVersion();

}  // namespace ulvarin
