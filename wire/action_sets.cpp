#include "wire/action_sets.h"

namespace ulvarin::process {

std::string ActionCaption(ActionSet set) {
    static constexpr char kLetters[] = "COISTW12";
    std::string caption;
    for (int bit = 0; bit < kActionCount; ++bit)
        if (set & (1u << bit)) caption += kLetters[bit];
    return caption;
}

const char* ActionItemCaption(int bit) {
    static constexpr const char* kItems[kActionCount] = {
        "Close shutter (C)",    "Open shutter (O)",   "Start Interval (I)", "Trigger scope (S)",
        "Wait for trigger (T)", "Wait for count (W)", "Make command 1 (1)", "Make command 2 (2)"};
    return bit >= 0 && bit < kActionCount ? kItems[bit] : "";
}

}  // namespace ulvarin::process
