#!/usr/bin/env bash
# What a killed recording loses: `quillory-cli record` is killed (SIGKILL) at random moments
# at real speed, for every quality, and the seconds captured until the kill are compared with
# the seconds the file holds (ffprobe). Prints the median and the largest loss per quality.
# Capture reads the controller test speech through the file audio device at speed 1.
#
# usage: bench/kill_recording.sh BUILD_DIR [kills per quality]
set -euo pipefail

build=${1:?usage: $0 BUILD_DIR [kills per quality]}
kills=${2:-15}
cli="$(cd "$build" && pwd)/bin/quillory-cli"
here="$(cd "$(dirname "$0")/.." && pwd)"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# A world of its own: settings, documents and no cards.
mkdir -p "$work/home/Documents" "$work/config"
export HOME="$work/home" XDG_DOCUMENTS_DIR="$work/home/Documents" XDG_CONFIG_HOME="$work/xdg"
export QUILLORY_CONFIG_DIR="$work/config" QUILLORY_CARDS="" QUILLORY_CONTACTS="$work/contacts"
export QUILLORY_AUDIO=file QUILLORY_AUDIO_IN="$here/tests/data/controller/speech.wav"
export QUILLORY_AUDIO_SPEED=1 SDL_AUDIODRIVER=dummy

printf '%-10s %6s %10s %10s\n' quality kills median_s max_s
for quality in Mp3Low Mp3Middle Mp3High; do
    losses=()
    for ((i = 0; i < kills; i++)); do
        after=$(awk -v seed="$RANDOM$i" 'BEGIN { srand(seed); printf "%.3f", 1 + 4 * rand() }')
        coproc RECORDER { exec "$cli" record --seconds 600 --format "$quality"; }
        read -r path <&"${RECORDER[0]}"
        start=$(date +%s.%N)
        sleep "$after"
        now=$(date +%s.%N)
        kill -KILL "$RECORDER_PID"
        wait "$RECORDER_PID" 2>/dev/null || true
        kept=$(ffprobe -v error -show_entries format=duration -of csv=p=0 "$path")
        losses+=("$(awk -v a="$start" -v b="$now" -v k="${kept:-0}" 'BEGIN { printf "%.3f", b - a - k }')")
        rm -f "$path"
    done
    printf '%s\n' "${losses[@]}" | sort -g | awk -v q="$quality" '
        { v[NR] = $1 }
        END {
            m = NR % 2 ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2
            printf "%-10s %6d %10.3f %10.3f\n", q, NR, m, v[NR]
        }'
done
