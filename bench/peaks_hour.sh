#!/usr/bin/env bash
# The waveform of a one-hour 64 kbit/s 44.1 kHz mono recording (made by our own MP3 writer from
# espeak-ng speech): the CPU time of `quillory-cli peaks` with an empty cache (the whole record
# decoded) and again from the cache, the size of the cache entry, and mpg123 decoding the same
# file without output (`mpg123 -t`) for scale. Best of alternating rounds. The record is kept
# in BUILD_DIR/bench-records/ for the next run.
#
# usage: bench/peaks_hour.sh BUILD_DIR [rounds]
set -euo pipefail

build=${1:?usage: $0 BUILD_DIR [rounds]}
rounds=${2:-3}
cli="$(cd "$build" && pwd)/bin/quillory-cli"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export XDG_CACHE_HOME="$work/cache"

# The record is made once and kept in the build folder (encoding an hour takes a while).
hour="$(cd "$build" && pwd)/bench-records/hour64.mp3"
if [[ ! -s $hour ]]; then
    mkdir -p "$(dirname "$hour")"
    espeak-ng -w "$work/voice.wav" "Every recording is an MP3 file that begins with a tag. \
While recording, a voice operated switch leaves silence out of the file, and a gain boost \
lifts quiet input. The list shows the records found in the folders, and the player plays them."
    sox -V1 "$work/voice.wav" -r 44100 "$work/voice44.wav" pad 0 1.5
    sox -V1 "$work/voice44.wav" "$work/hour.wav" repeat 400 trim 0 3600
    "$cli" encode "$work/hour.wav" "$work/hour.mp3" --codec mp3 --bitrate 64000
    mv "$work/hour.mp3" "$hour"
    rm -f "$work/hour.wav"
fi

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

cold=() hit=() ref=()
for ((i = 0; i < rounds; i++)); do
    rm -rf "$XDG_CACHE_HOME"
    cold+=("$(cpu_of "$cli" peaks "$hour" --width 480)")
    hit+=("$(cpu_of "$cli" peaks "$hour" --width 480)")
    ref+=("$(cpu_of mpg123 -q -t "$hour")")
done
entry=$(find "$XDG_CACHE_HOME" -name '*.peaks' -printf '%s\n' | head -1)
printf 'one hour, 64 kbit/s: peaks decoded %s ms CPU (limit 1500), from the cache %s ms CPU, ' \
    "$(printf '%s\n' "${cold[@]}" | best)" "$(printf '%s\n' "${hit[@]}" | best)"
printf 'cache entry %s bytes (limit 16384); mpg123 -t %s ms CPU\n' \
    "$entry" "$(printf '%s\n' "${ref[@]}" | best)"
