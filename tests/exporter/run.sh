#!/usr/bin/env bash
# tessaly-exporter --once against emulated controllers on loopback: a bus of two
# remultiplexers found with `boards: all` and a board of another kind, the exposition
# linted by Debian's promtool, printed once and served on /metrics; and bad configurations refused with
# their line and column. Only 127.0.0.1; every wait is bounded.
# Usage: run.sh EMULATOR EXPORTER
set -euo pipefail
emu=$1 exporter=$2
command -v promtool >/dev/null || { echo "FAIL: promtool not found: run scripts/deps.sh (Debian package prometheus)" >&2; exit 1; }
tmp=$(mktemp -d)
pids=()
cleanup() {
  local p
  for p in "${pids[@]}"; do kill -TERM "$p" 2>/dev/null || true; wait "$p" 2>/dev/null || true; done
  rm -rf "$tmp"
}
trap cleanup EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

# start_emulator NAME [OPTION...]: sets $port to the port it listens on.
start_emulator() {
  local name=$1
  shift
  "$emu" --listen 127.0.0.1:0 --seed 7 "$@" >"$tmp/$name.out" 2>&1 &
  pids+=($!)
  port=""
  for _ in $(seq 100); do
    port=$(sed -n 's/.*listening on 127\.0\.0\.1:\([0-9]*\).*/\1/p' "$tmp/$name.out")
    [ -n "$port" ] && break
    sleep 0.05
  done
  [ -n "$port" ] || fail "emulator $name did not start: $(cat "$tmp/$name.out")"
}
start_emulator bus --sdi-address 1,2
bus=$port
start_emulator other --device-code 1B
other=$port

cat >"$tmp/exporter.yml" <<EOT
interval: 5s
timeout: 300ms
controllers:
  - address: 127.0.0.1
    port: $bus
    framing: ddtoip
    host_port: 0
    name: rack-a
    boards: all
  - address: 127.0.0.1
    port: $other
    framing: cw-net
    boards: [1]
EOT
rc=0
timeout 20 "$exporter" --config "$tmp/exporter.yml" --once >"$tmp/metrics.prom" 2>"$tmp/exporter.err" || rc=$?
[ "$rc" = 0 ] || fail "--once exited $rc: $(cat "$tmp/exporter.err")"
lint=$(promtool check metrics <"$tmp/metrics.prom" 2>&1) || fail "promtool check metrics: $lint"
[ -z "$lint" ] || fail "promtool check metrics: $lint"

has() { grep -qxF -- "$1" "$tmp/metrics.prom" || fail "missing: $1"$'\n'"$(grep -v '^#' "$tmp/metrics.prom")"; }
a="controller=\"127.0.0.1:$bus\",name=\"rack-a\""
b="controller=\"127.0.0.1:$other\""
has "tessaly_up{$a,sdi=\"1\"} 1"
has "tessaly_up{$a,sdi=\"2\"} 1"
grep -q "^tessaly_board_info{controller=\"127.0.0.1:$bus\",.*sdi=\"1\",serial=\"20417\"" "$tmp/metrics.prom" ||
  fail "board 1 without its serial 20417"
grep -q "^tessaly_board_info{controller=\"127.0.0.1:$bus\",.*sdi=\"2\",serial=\"20418\"" "$tmp/metrics.prom" ||
  fail "board 2 without its serial 20418"
# The addresses without a board are not exported.
! grep -q "^tessaly_up{$a,sdi=\"3\"}" "$tmp/metrics.prom" || fail "an empty SDI address is exported"
has "tessaly_up{$b,sdi=\"1\"} 0"
has "tessaly_exporter_polls_total{$b,result=\"not_remux\",sdi=\"1\"} 1"
has "tessaly_exporter_boards 3"
for n in 1 2 3 4 5 6; do
  grep -q "^tessaly_input_data_rate_bytes_per_second{controller=\"127.0.0.1:$bus\",input=\"$n\",name=\"rack-a\",sdi=\"2\"} " "$tmp/metrics.prom" ||
    fail "board 2 without the data rate of input $n"
done

# Served: the same boards on /metrics of a free loopback port, the scrape linted too.
"$exporter" --config "$tmp/exporter.yml" --listen 127.0.0.1:0 >"$tmp/serve.out" 2>"$tmp/serve.err" &
pids+=($!)
http=""
for _ in $(seq 100); do
  http=$(sed -n 's/^tessaly-exporter listening on 127\.0\.0\.1:\([0-9]*\)$/\1/p' "$tmp/serve.err")
  [ -n "$http" ] && break
  sleep 0.05
done
[ -n "$http" ] || fail "the exporter did not say where it listens: $(cat "$tmp/serve.err")"
# scrape: the body of GET /metrics, over bash's own TCP (bounded by timeout).
scrape() {
  timeout 5 bash -c 'exec 3<>"/dev/tcp/127.0.0.1/$1"
    printf "GET /metrics HTTP/1.0\r\nHost: 127.0.0.1\r\n\r\n" >&3
    sed "1,/^\r\?$/d" <&3' _ "$http"
}
for _ in $(seq 50); do
  scrape >"$tmp/scrape.prom" || true
  grep -q "^tessaly_up{$b,sdi=\"1\"} 0$" "$tmp/scrape.prom" && grep -q "^tessaly_up{$a,sdi=\"2\"} 1$" "$tmp/scrape.prom" && break
  sleep 0.1
done
grep -q "^tessaly_up{$a,sdi=\"2\"} 1$" "$tmp/scrape.prom" || fail "the scrape lacks board 2: $(head -c 2000 "$tmp/scrape.prom")"
grep -q "^tessaly_up{$b,sdi=\"1\"} 0$" "$tmp/scrape.prom" || fail "the scrape lacks the other board"
lint=$(promtool check metrics <"$tmp/scrape.prom" 2>&1) || fail "promtool check metrics on the scrape: $lint"
[ -z "$lint" ] || fail "promtool check metrics on the scrape: $lint"

# Configurations refused: exit 1, nothing printed, the message naming file, line and
# column. Each row: a sed edit of the good configuration, then the message expected.
bad_rows=(
  's/^    host_port: 0$/    host_prot: 0/'            "bad.yml:7:5: unknown key 'host_prot' in a controller"
  's/^    boards: \[1\]$/    boards: [1, 16]/'         "bad.yml:13:17: an SDI address wants a whole number 1..15, not '16'"
  's/^    framing: cw-net$/    framing: cwnet/'       "bad.yml:12:14: framing wants ddtoip or cw-net, not 'cwnet'"
  's/^    host_port: 0$/    host_port: 40000/; $a\    host_port: 40000' "bad.yml:14:16: host_port 40000 is given to two controllers"
)
for ((i = 0; i < ${#bad_rows[@]}; i += 2)); do
  sed "${bad_rows[i]}" "$tmp/exporter.yml" >"$tmp/bad.yml"
  rc=0
  timeout 10 "$exporter" --config "$tmp/bad.yml" --once >"$tmp/bad.out" 2>"$tmp/bad.err" || rc=$?
  [ "$rc" = 1 ] || fail "${bad_rows[i]}: exited $rc, want 1"
  grep -qF "$tmp/${bad_rows[i + 1]}" "$tmp/bad.err" || fail "${bad_rows[i]}: said $(cat "$tmp/bad.err")"
  [ ! -s "$tmp/bad.out" ] || fail "${bad_rows[i]}: a refused configuration printed metrics"
done
echo "ok"
