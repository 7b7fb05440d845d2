#!/usr/bin/env bash
# The modem bridge under a signal flood: its resident memory before and after N StateChanged
# signals from a mock ModemManager on a private bus, the CPU time it spent, and how long a real
# change then takes to reach the phone state.
#   bench/phoned_flood.sh BUILD_DIR [SIGNALS]
set -euo pipefail
build=${1:?build folder}
signals=${2:-100000}
here=$(cd "$(dirname "$0")/.." && pwd)
work=$(mktemp -d)
pids=()
cleanup() { for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done; rm -rf "$work"; }
trap cleanup EXIT
bus="unix:path=$work/bus"
dbus-daemon --session --nofork --nopidfile --address="$bus" 2>/dev/null & pids+=($!)
sleep 0.5
DBUS_SYSTEM_BUS_ADDRESS=$bus /usr/bin/python3 -m dbusmock --system \
  --template "$here/tests/telephony/modemmanager_mock.py" >/dev/null 2>&1 & pids+=($!)
mock() { gdbus call --address "$bus" --dest org.freedesktop.ModemManager1 \
  --object-path /org/freedesktop/ModemManager1 --method "org.freedesktop.DBus.Mock.$1" "${@:2}"; }
until mock AddModem 0 true >/dev/null 2>&1; do sleep 0.1; done
export QUILLORY_CONFIG_DIR=$work/config QUILLORY_CONTACTS=$work/contacts
DBUS_SYSTEM_BUS_ADDRESS=$bus "$build/bin/quillory-phoned" 2>/dev/null & bridge=$!; pids+=($bridge)
mock AddCall /org/freedesktop/ModemManager1/Modem/0 1 3 123 >/dev/null
status() { "$build/bin/quillory-cli" reg get 'HKEY_LOCAL_MACHINE\System\State\Phone' Status 2>/dev/null || true; }
until [ "$(status)" = 8388608 ]; do sleep 0.05; done
rss() { awk '/VmRSS/ {print $2}' "/proc/$bridge/status"; }
cpu() { awk '{print $14 + $15}' "/proc/$bridge/stat"; }
echo "rss before: $(rss) kB"
c0=$(cpu)
mock FloodCallState /org/freedesktop/ModemManager1/Call/1 3 "$signals" >/dev/null
t0=$(date +%s%N)
mock SetCallState /org/freedesktop/ModemManager1/Call/1 4 >/dev/null
until [ "$(status)" = 536870912 ]; do sleep 0.01; done
t1=$(date +%s%N)
echo "signals: $signals"
echo "rss after: $(rss) kB"
echo "cpu: $(( ( $(cpu) - c0 ) * 10 )) ms"
echo "answered call seen after the flood: $(( (t1 - t0) / 1000000 )) ms"
