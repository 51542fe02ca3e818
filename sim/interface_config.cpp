#include "sim/interface_config.h"

#include "wire/stream_layout.h"

namespace ulvarin::sim {

InterfaceConfig MakeInterfaceConfig(ChipFamily family, int chipCount) {
    InterfaceConfig config;
    config.family = family;
    config.chipCount = chipCount;
    for (int i = 0; i < chipCount; ++i) config.chipIds.push_back(DefaultChipId(family, i));
    return config;
}

bool IsValid(const InterfaceConfig& config) {
    if (config.chipCount < 1 || config.chipCount > kMaxChips) return false;
    for (const ChipId& id : config.chipIds)
        if (id.present && !IsEncodable(id)) return false;
    return config.extraRestarts >= 0 && config.triggerRate >= 0 && config.eventRate >= 0;
}

}  // namespace ulvarin::sim
