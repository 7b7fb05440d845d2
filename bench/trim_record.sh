#!/usr/bin/env bash
# Trimming a one-hour 64 kbit/s record without coding it again: the time `quillory-cli trim`
# takes (whole command, median of the runs), that the frames between the edges are the
# original's bytes, and how far the decoded edges lie from the original's samples (ffmpeg,
# both files decoded in full).
#
# usage: bench/trim_record.sh BUILD_DIR [runs]
set -euo pipefail

build=${1:?usage: $0 BUILD_DIR [runs]}
runs=${2:-5}
cli="$(cd "$build" && pwd)/bin/quillory-cli"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export HOME="$work/home" XDG_DATA_HOME="$work/home/.local/share"
mkdir -p "$HOME"

# One minute coded by our encoder, sixty times over (each minute starts with an empty bit
# reservoir, so the joins decode cleanly), behind a tag.
sox -n -r 44100 -c 1 -b 16 "$work/minute.wav" synth 60 sine 200-3000 vol 0.5
"$cli" encode "$work/minute.wav" "$work/minute.mp3" --codec mp3 --bitrate 64000
python3 - "$work/minute.mp3" "$work/hour.mp3" <<'PY'
import sys
minute = open(sys.argv[1], 'rb').read()
body = b'\0' * 2048
size = len(body)
head = b'ID3\x03\x00\x00' + bytes([(size >> 21) & 127, (size >> 14) & 127, (size >> 7) & 127, size & 127])
open(sys.argv[2], 'wb').write(head + body + minute * 60)
PY
start=612.345 end=3012.5
times=()
for ((i = 0; i < runs; i++)); do
    cp "$work/hour.mp3" "$work/record.mp3"
    sync
    t0=$(date +%s.%N)
    "$cli" trim "$work/record.mp3" "$start" "$end" > /dev/null
    t1=$(date +%s.%N)
    times+=("$(echo "$t1 - $t0" | bc)")
    rm -rf "$HOME/.local/share/Trash"
done
median=$(printf '%s\n' "${times[@]}" | sort -n | awk '{ a[NR] = $1 } END { print a[int((NR + 1) / 2)] }')
echo "trim of $(du -h "$work/hour.mp3" | cut -f1) one-hour record: median ${median} s over $runs runs"

ffmpeg -nostdin -v error -i "$work/hour.mp3" -f s16le "$work/hour.raw"
ffmpeg -nostdin -v warning -i "$work/record.mp3" -f s16le "$work/record.raw" 2> "$work/complaints"
python3 - "$work/hour.mp3" "$work/record.mp3" "$work/hour.raw" "$work/record.raw" "$start" "$end" <<'PY'
import array, sys
original, trimmed = open(sys.argv[1], 'rb').read(), open(sys.argv[2], 'rb').read()
# The trimmed file's frames after its first few are one run of the original's bytes.
tail = trimmed[4096:]
print('interior frames byte-identical:', original.find(tail) >= 0, '(%d bytes)' % len(tail))
a, b = array.array('h'), array.array('h')
a.frombytes(open(sys.argv[3], 'rb').read()); b.frombytes(open(sys.argv[4], 'rb').read())
s, e = int(float(sys.argv[5]) * 44100), int(float(sys.argv[6]) * 44100)
print('decoded samples: %d, asked for %d (difference %d samples)' % (len(b), e - s, len(b) - (e - s)))
# Where the trimmed start lies in the original: the lag that matches best near the asked start.
def match(lag):
    return sum(abs(b[i] - a[s + lag + i]) for i in range(0, 4000))
lag = min(range(-1152, 1153), key=match)
worst = max(abs(b[i] - a[s + i]) for i in range(len(b)))
print('start offset: %d samples (%.2f ms); largest sample difference %d' % (lag, lag / 44.1, worst))
PY
echo "ffmpeg complaints: $(wc -c < "$work/complaints") bytes"
