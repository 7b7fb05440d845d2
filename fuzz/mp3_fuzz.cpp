// MPEG audio from arbitrary bytes: the header and information-frame parsers at every offset,
// then the reader's frame search (past any ID3 tag), decoding and seeking over the same bytes as
// a file.

#include "formats/mp3_header.h"
#include "formats/mp3_reader.h"
#include "fuzz_support.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>

namespace {

void check_header(const uint8_t* p, size_t left) {
    formats::Mp3Header header;
    if (!formats::parse_mp3_header(p, header))
        return;
    formats::Mp3InfoFrame info;
    (void)formats::parse_mp3_info_frame(p, std::min<size_t>(left, size_t(header.frame_length)),
                                        header, info);
    if (header.layer < 1 || header.layer > 3 || header.bit_rate <= 0 || header.sample_rate < 8000 ||
        header.sample_rate > 48000 || header.frame_length < 4 || header.samples <= 0 ||
        !header.agrees(header))
        __builtin_trap();
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz::isolate_environment();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    for (size_t i = 0; i + 4 <= size; ++i)
        check_header(data + i, size - i);
    formats::FileReaderMP3 reader(fuzz::write_input(data, size, "input.mp3"));
    if (reader.is_valid() && reader.audio_start() >= size)
        __builtin_trap();
    fuzz::drain(reader);
    return 0;
}
