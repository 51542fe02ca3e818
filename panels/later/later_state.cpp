#include "panels/later/later_state.h"

namespace ulvarin {

std::string ActionCaption(uint8_t set) {
    static constexpr char kLetters[] = "COISTW12";
    std::string caption;
    for (int bit = 0; bit < 8; ++bit)
        if (set & (1u << bit)) caption += kLetters[bit];
    return caption;
}

}  // namespace ulvarin
