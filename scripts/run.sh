#!/usr/bin/env bash
# Runs the panel against the board emulator on this machine:
#   installs what is missing, builds the panel and tessaly-emulator, starts the
#   emulator on 127.0.0.1, writes build/demo/Settings.ini pointing the panel at it
#   (IP 127.0.0.1, its own host port, the emulator's port as device port, the
#   Manufacturer Setup page shown) and starts the panel in build/demo. The emulator
#   is stopped when the panel closes. Without a display the panel runs under Xvfb.
# Extra arguments go to the emulator, e.g.  bash scripts/run.sh --device-code 1B
set -euo pipefail
cd "$(dirname "$0")/.."
root="$(pwd)"

bash scripts/deps.sh
build="$root/${TESSALY_BUILD_DIR:-build}"
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" --target tessaly-panel tessaly-emulator -j"$(nproc)"

demo="$build/demo"
mkdir -p "$demo"
log="$demo/emulator.log"

# The emulator picks a free port on loopback and says which.
: >"$log"  # there before the program opens it: it is read at once below
"$build/emulator/tessaly-emulator" --listen 127.0.0.1:0 "$@" >"$log" 2>&1 &
emu_pid=$!
stop_emulator() { kill "$emu_pid" 2>/dev/null || true; wait "$emu_pid" 2>/dev/null || true; }
trap stop_emulator EXIT
trap 'exit 130' INT TERM
device_port=""
for _ in $(seq 1 50); do
  device_port="$(sed -n 's/.*listening on 127\.0\.0\.1:\([0-9]*\).*/\1/p' "$log" | head -n1)"
  [ -n "$device_port" ] && break
  kill -0 "$emu_pid" 2>/dev/null || { cat "$log" >&2; exit 1; }
  sleep 0.1
done
[ -n "$device_port" ] || { echo "tessaly-emulator did not start:" >&2; cat "$log" >&2; exit 1; }

# A host port no UDP socket holds (checked against /proc/net/udp).
port_in_use() { grep -qi ":$(printf '%04X' "$1") " /proc/net/udp /proc/net/udp6 2>/dev/null; }
host_port=$(( (device_port % 20000) + 40000 ))
while [ "$host_port" -eq "$device_port" ] || port_in_use "$host_port"; do host_port=$(( host_port + 1 )); done

cat >"$demo/Settings.ini" <<INI
[Settings]
SaveOnExit=1
MyPort=$host_port
DevicePort=$device_port
[Main]
IPBase=127.0.0.
IPExt=1
IPText=127.0.0.1
[MFSetup]
Show=1
INI

echo "tessaly-emulator on 127.0.0.1:$device_port; panel host port $host_port; working directory $demo"
cd "$demo"
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  echo "No display found: running the panel under Xvfb (nothing will be visible; close it with Ctrl+C)."
  xvfb-run -a "$build/src/tessaly-panel"
else
  "$build/src/tessaly-panel"
fi
