#!/usr/bin/env bash
# Builds the Debian package of the panel, tessaly-cli, tessaly-emulator and the
# Wireshark dissector: installs what is missing, builds into build/ (as
# scripts/build.sh does, so an existing build is reused), runs CPack and prints the
# package's path as its last line. Install it with
#   sudo apt install ./build/package/tessaly-panel_*.deb
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh
bash scripts/build.sh
rm -f build/package/*.deb
log=build/package/cpack.log
mkdir -p build/package
if ! (cd build && cpack -G DEB) >"$log" 2>&1; then
  cat "$log" >&2
  exit 1
fi
debs=(build/package/*.deb)
[ ${#debs[@]} -eq 1 ] && [ -f "${debs[0]}" ] || { echo "cpack made no single .deb:" >&2; cat "$log" >&2; exit 1; }
realpath "${debs[0]}"
