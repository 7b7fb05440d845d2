#!/usr/bin/env bash
# A marker set during a recording and the recording killed (SIGKILL) one second later, over
# and over: how many of the files still hold the marker (ffprobe reads the chapter), and how
# long setting it took on the recording's own thread (its write into the tag, synced).
#
# usage: bench/kill_after_marker.sh BUILD_DIR [kills]
set -euo pipefail

build=${1:?usage: $0 BUILD_DIR [kills]}
kills=${2:-20}
cli="$(cd "$build" && pwd)/bin/quillory-cli"
here="$(cd "$(dirname "$0")/.." && pwd)"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

mkdir -p "$work/home/Documents" "$work/config"
export HOME="$work/home" XDG_DOCUMENTS_DIR="$work/home/Documents" XDG_CONFIG_HOME="$work/xdg"
export QUILLORY_CONFIG_DIR="$work/config" QUILLORY_CARDS="" QUILLORY_CONTACTS="$work/contacts"
export QUILLORY_AUDIO=file QUILLORY_AUDIO_IN="$here/tests/data/controller/speech.wav"
export QUILLORY_AUDIO_SPEED=1 SDL_AUDIODRIVER=dummy

kept=0
costs=()
for ((i = 0; i < kills; i++)); do
    at=$(awk -v seed="$RANDOM$i" 'BEGIN { srand(seed); printf "%.3f", 0.5 + 2 * rand() }')
    coproc RECORDER { exec "$cli" record --seconds 600 --format Mp3Middle --mark-at "$at"; }
    read -r path <&"${RECORDER[0]}"
    read -r said <&"${RECORDER[0]}"
    sleep 1
    kill -KILL "$RECORDER_PID" 2>/dev/null || true
    wait "$RECORDER_PID" 2>/dev/null || true
    ms=$(echo "$said" | awk '{ print $2 }')
    costs+=("$(echo "$said" | sed 's/.*(\(.*\) ms).*/\1/')")
    if ffprobe -v error -show_chapters -of compact=p=0 "$path" | grep -q "|start=$ms|"; then
        kept=$((kept + 1))
    fi
    rm -f "$path"
done
sorted=$(printf '%s\n' "${costs[@]}" | sort -n)
median=$(echo "$sorted" | awk '{ a[NR] = $1 } END { print a[int((NR + 1) / 2)] }')
largest=$(echo "$sorted" | tail -1)
echo "markers kept after a kill 1 s later: $kept of $kills"
echo "setting a marker (tag written in place and synced): median ${median} ms, largest ${largest} ms"
