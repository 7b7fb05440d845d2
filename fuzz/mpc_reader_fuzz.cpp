// Musepack files from arbitrary bytes, read through our file functions.

#include "formats/mpc_reader.h"
#include "fuzz_support.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz::isolate_environment();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    formats::MpcReader reader(fuzz::write_input(data, size, "input.mpc"));
    fuzz::drain(reader);
    return 0;
}
