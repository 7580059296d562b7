#!/usr/bin/env bash
# The shipped Prometheus alert rules under Debian's promtool: the file must check
# clean and every rule's unit tests (firing and not firing) must pass.
# Usage: run.sh SOURCE_DIR
set -euo pipefail
dir=$1/tools/prometheus
command -v promtool >/dev/null || { echo "FAIL: promtool not found: run scripts/deps.sh (Debian package prometheus)" >&2; exit 1; }
promtool check rules "$dir/tessaly-rules.yml" || { echo "FAIL: promtool check rules" >&2; exit 1; }
# promtool reads the rule files the tests name relative to the test file.
promtool test rules "$dir/tessaly-rules.test.yml" || { echo "FAIL: promtool test rules" >&2; exit 1; }
