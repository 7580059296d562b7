#!/usr/bin/env bash
# Regenerates docs/screenshots/ under Xvfb against tessaly-emulator on 127.0.0.1:
# first every page, both dialogs and the traffic view after a Query, then each page in the state its
# own feature leaves it (General after a PLL programming, Instruction Test after a
# Send, the board pages after their exchanges, the PCR chart after 300 samples, the
# manufacturer test after a successful and a failed run), and the configuration dialogs.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/build.sh
out=$PWD/docs/screenshots
mkdir -p "$out"
run() { TESSALY_SCREENSHOT_DIR=$out QT_QPA_PLATFORM=xcb xvfb-run -a "build/tests/ui/$1" "${@:2}" >/dev/null; }
run test_e2e_emulator screenshots
run test_general_e2e screenshotAfterPllProgramming
run test_e2e_instruction_test screenshot
run test_mpx_psi_e2e screenshots
run test_pcr_full_run screenshot
run test_mfg_e2e
run test_config_menu
echo "screenshots written to $out"
