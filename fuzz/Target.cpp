#include "fuzz/Target.h"

#include "fuzz/Seeds.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    return velm::fuzz::writeSeedsIfAsked(velm::fuzz::seeds());
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    velm::fuzz::fuzzOne(data, size);
    return 0;
}
