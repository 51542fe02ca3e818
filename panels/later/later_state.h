// The stores of the groups still to come, with the values they hold when the window is
// made. Their panels give them behaviour; here they are only laid out and initialised.
#pragma once

#include <cstdint>
#include <string>

namespace ulvarin {

struct AutosaveTemplate {
    std::string fileName = "data_0000.txt";
    std::string prefix = "data_";
    std::string suffix = ".txt";
    int32_t number = 0;
    int32_t digits = 4;
    int32_t lastFileNumber = 0;
};

}  // namespace ulvarin
