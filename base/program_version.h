// The program's version, set once by the build from the project's version.
#pragma once

namespace ulvarin {

// "0.1" and so on; the same text in every program, file and package of this build.
const char* ProgramVersion();

// Answers "--help"/"-h" (prints `usage`) and "--version" (prints "`program` VERSION") on
// standard output before anything else of the program runs, so they need no display, no
// device and no control system. True when one was answered: the program then exits with 0.
bool AnswerHelpOrVersion(int argc, char** argv, const char* program, const char* usage);

}  // namespace ulvarin
