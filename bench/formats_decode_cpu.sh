#!/usr/bin/env bash
# MP3 playback decoding against mpg123: the CPU time (user + system) of `quillory-cli decode`
# (reader factory, frame search, libmpg123 per frame, pull chain, WAV writer) and of
# `mpg123 -w` decoding the same file to WAV, best of alternating rounds, and their ratio.
# The files are recordings made by our own MP3 writer from ten minutes of espeak-ng speech.
#
# usage: bench/formats_decode_cpu.sh BUILD_DIR [rounds]
set -euo pipefail

build=${1:?usage: $0 BUILD_DIR [rounds]}
rounds=${2:-5}
cli="$build/bin/quillory-cli"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

espeak-ng -w "$work/voice.wav" "Every recording is an MP3 file that begins with a tag. \
While recording, a voice operated switch leaves silence out of the file, and a gain boost \
lifts quiet input. The list shows the records found in the folders, and the player plays them."
sox "$work/voice.wav" "$work/voice44.wav" rate 44100
# Ten minutes: the phrase repeated.
sox -V1 "$work/voice44.wav" "$work/long.wav" repeat 60 trim 0 600

# Task clock in milliseconds (perf), or user + system time (coarser) without perf.
cpu_of() {
    if perf stat -x, -e task-clock -o "$work/perf" "$@" >/dev/null 2>&1; then
        awk -F, '/task-clock/ { printf "%.1f", $1 }' "$work/perf"
    else
        /usr/bin/time -f "%U %S" -o "$work/time" "$@" >/dev/null 2>&1
        awk '{ printf "%.1f", ($1 + $2) * 1000 }' "$work/time"
    fi
}

best() { sort -n | head -1; }

for setting in "44100 64000" "44100 32000" "22050 32000"; do
    set -- $setting
    sox -V1 "$work/long.wav" -r "$1" "$work/in.wav"
    "$cli" encode "$work/in.wav" "$work/rec.mp3" --codec mp3 --bitrate "$2"
    ours=()
    theirs=()
    for ((i = 0; i < rounds; i++)); do
        ours+=("$(cpu_of "$cli" decode "$work/rec.mp3" "$work/ours.wav")")
        theirs+=("$(cpu_of mpg123 -q -w "$work/theirs.wav" "$work/rec.mp3")")
    done
    o=$(printf '%s\n' "${ours[@]}" | best)
    t=$(printf '%s\n' "${theirs[@]}" | best)
    ratio=$(awk -v o="$o" -v t="$t" 'BEGIN { printf "%.2f", (t > 0 ? o / t : 0) }')
    printf '%s Hz %s bit/s, 600 s: quillory-cli decode %s ms CPU, mpg123 -w %s ms CPU, ratio %s (limit 1.25)\n' \
        "$1" "$2" "$o" "$t" "$ratio"
done
