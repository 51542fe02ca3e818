#include "base/program_version.h"

#include <cstdio>
#include <string_view>

#ifndef ULVARIN_VERSION
#error "ULVARIN_VERSION is set by the build"
#endif

namespace ulvarin {

const char* ProgramVersion() {
    return ULVARIN_VERSION;
}

bool AnswerHelpOrVersion(int argc, char** argv, const char* program, const char* usage) {
    for (int i = 1; i < argc; ++i) {
        const std::string_view argument = argv[i];
        if (argument == "--help" || argument == "-h") {
            std::fputs(usage, stdout);
            return true;
        }
        if (argument == "--version") {
            std::printf("%s %s\n", program, ProgramVersion());
            return true;
        }
    }
    return false;
}

}  // namespace ulvarin
