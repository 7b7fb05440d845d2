#pragma once

// Shared ground of the fuzz targets: a private scratch folder (settings, contacts and documents
// kept away from the user's), the input written to a file for the readers that open paths, and
// a bounded pull of decoded audio from a reader.

#include "audio/audio_block.h"
#include "audio/file_io.h"
#include "foundation/text.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <unistd.h>

namespace fuzz {

// Made once per process, removed at exit (kept alive past static destruction for that).
inline const std::string& scratch_folder() {
    static const std::string* folder = new std::string([] {
        std::string base;
        if (const char* tmp = std::getenv("TMPDIR"); tmp && *tmp)
            base = tmp;
        else if (access("/dev/shm", W_OK) == 0)
            base = "/dev/shm";
        else
            base = "/tmp";
        std::string pattern = base + "/qv-fuzz-XXXXXX";
        if (!mkdtemp(pattern.data())) {
            std::perror("mkdtemp");
            std::abort();
        }
        std::atexit([] { std::filesystem::remove_all(scratch_folder()); });
        return pattern;
    }());
    return *folder;
}

// Points the program's settings and data folders into the scratch folder.
inline void isolate_environment() {
    const std::string& folder = scratch_folder();
    setenv("QUILLORY_CONFIG_DIR", (folder + "/config").c_str(), 1);
    setenv("XDG_CONFIG_HOME", (folder + "/config").c_str(), 1);
    setenv("XDG_DATA_HOME", (folder + "/data").c_str(), 1);
    setenv("XDG_DOCUMENTS_DIR", (folder + "/Documents").c_str(), 1);
    setenv("QUILLORY_CONTACTS", (folder + "/contacts").c_str(), 1);
    setenv("QUILLORY_CARDS", "", 1);
    setenv("QUILLORY_AUDIO", "null", 1);
}

// Writes the input to `name` in the scratch folder (replacing what was there) and returns the
// path as the program names files.
inline std::u16string write_input(const uint8_t* data, size_t size, const char* name) {
    std::string path = scratch_folder() + "/" + name;
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (!file || (size > 0 && std::fwrite(data, 1, size, file) != size) || std::fclose(file) != 0) {
        std::perror(path.c_str());
        std::abort();
    }
    return foundation::widen(path);
}

// Pulls a bounded amount of decoded audio, seeks into the middle and to the start, and pulls
// again: the paths a player takes through a reader.
inline void drain(audio::FileReader& reader) {
    if (!reader.is_valid())
        return;
    (void)reader.codec_name();
    (void)reader.channels();
    (void)reader.bits_per_sample();
    (void)reader.sample_rate();
    (void)reader.bit_rate();
    double duration = reader.duration();
    audio::AudioBlock block;
    for (int i = 0; i < 48; ++i) {
        reader.output().get_data(block, 4096);
        if (block.empty())
            break;
    }
    if (duration > 0) {
        reader.seek(duration / 2);
        reader.output().get_data(block, 4096);
        reader.seek(duration + 10);
        reader.output().get_data(block, 4096);
    }
    reader.seek(0);
    reader.output().get_data(block, 4096);
}

} // namespace fuzz
