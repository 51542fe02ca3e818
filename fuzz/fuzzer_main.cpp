// The libFuzzer entry of one target; ULVARIN_FUZZ_TARGET names its body in targets.h.
#include "fuzz/targets.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    ulvarin::fuzz::ULVARIN_FUZZ_TARGET(data, size);
    return 0;
}
