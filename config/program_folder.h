// Where the program keeps its files: the folder of the executable, and the "Config" folder
// of the per-interface configuration files. Tests point the program folder elsewhere.
#pragma once

#include <string>

namespace ulvarin {

// The folder that holds the executable (from /proc/self/exe), or the one set for tests;
// no trailing '/'.
std::string ProgramFolder();
// Replaces the program folder for every later call; an empty text restores the real one.
void SetProgramFolder(const std::string& folder);

// "Config" beside the program when that folder is writable (or can be made there), else
// $XDG_CONFIG_HOME/ulvarin/Config (default ~/.config/ulvarin/Config); always the latter for
// an installed program (PREFIX/bin beside PREFIX/share/doc/ulvarin). Creates nothing.
std::string ConfigFolder();

}  // namespace ulvarin
