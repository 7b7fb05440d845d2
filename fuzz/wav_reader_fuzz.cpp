// WAV files from arbitrary bytes through each WAV reader: refused, or read, sought and read
// again without reading outside the file or the decoders' buffers.

#include "formats/wav_reader.h"
#include "fuzz_support.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz::isolate_environment();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::u16string path = fuzz::write_input(data, size, "input.wav");
    {
        formats::PcmWavReader reader(path);
        fuzz::drain(reader);
    }
    {
        formats::AdpcmWavReader reader(path);
        fuzz::drain(reader);
    }
    {
        formats::GsmWavReader reader(path);
        fuzz::drain(reader);
    }
    return 0;
}
