#!/usr/bin/env bash
# tessaly-exporter against emulated controllers on loopback: a bus of two
# remultiplexers found with `boards: all` and a board of another kind, the exposition
# linted by Debian's promtool, printed once (--once) and served on /metrics; /probe of
# one board, of a silent target, and its bad query strings; a board that appears
# later found by a rescan, and its status gone while it is silent; a clean stop on
# SIGTERM and SIGINT; and bad configurations refused with their line and column.
# Only 127.0.0.1; every wait is bounded.
# Usage: run.sh EMULATOR EXPORTER
set -euo pipefail
. "$(dirname "${BASH_SOURCE[0]}")/../support/listening.sh"
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

# [listen=ADDR:PORT] start_emulator NAME [OPTION...]: sets $port to the port it listens on.
start_emulator() {
  local name=$1
  shift
  : >"$tmp/$name.out"  # there before the program opens it: read at once below
  "$emu" --listen "${listen:-127.0.0.1:0}" --seed 7 "$@" >"$tmp/$name.out" 2>&1 &
  pids+=($!)
  port=$(listening_port "$tmp/$name.out")
  [ -n "$port" ] || fail "emulator $name did not start: $(cat "$tmp/$name.out")"
}
start_emulator bus --sdi-address 1,2
bus=$port
start_emulator other --device-code 1B
other=$port
# A free port for a controller that appears later; silent until then.
start_emulator late
late=$port
kill -TERM "${pids[-1]}" && wait "${pids[-1]}" 2>/dev/null || true

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
# A standard output that cannot be written (a full disk: a full device made in the
# test's own directory, where it may make one) fails, not exits 0 with nothing written.
if mknod "$tmp/full" c 1 7 2>/dev/null; then
  rc=0
  timeout 20 "$exporter" --config "$tmp/exporter.yml" --once >"$tmp/full" 2>"$tmp/full.err" || rc=$?
  [ "$rc" = 1 ] || fail "--once to a full disk exited $rc, want 1: $(cat "$tmp/full.err")"
fi
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

# Served: the same boards on /metrics of a free loopback port, the scrape linted too;
# polled often, with a third controller still silent and rescanned every second.
sed 's/^interval: 5s$/interval: 500ms/; s/^timeout: 300ms$/timeout: 200ms/; 1i rescan: 1s' "$tmp/exporter.yml" >"$tmp/serve.yml"
printf '  - address: 127.0.0.1\n    port: %s\n    boards: all\n' "$late" >>"$tmp/serve.yml"
# serve NAME: starts the exporter on serve.yml; sets $http to its port, $served to its pid.
serve() {
  : >"$tmp/$1.out" >"$tmp/$1.err"  # there before the program opens it: read at once below
  "$exporter" --config "$tmp/serve.yml" --listen 127.0.0.1:0 >"$tmp/$1.out" 2>"$tmp/$1.err" &
  served=$!
  pids+=($served)
  http=$(listening_port "$tmp/$1.err")
  [ -n "$http" ] || fail "the exporter did not say where it listens: $(cat "$tmp/$1.err")"
}
serve serve
# get PATH [HEADER]: the whole response to GET PATH, over bash's own TCP (bounded by timeout).
get() {
  timeout 5 bash -c 'exec 3<>"/dev/tcp/127.0.0.1/$1"
    printf "GET %s HTTP/1.0\r\nHost: 127.0.0.1\r\n%s\r\n" "$2" "$3" >&3
    cat <&3' _ "$http" "$1" "${2:+$2$'\r\n'}"
}
# scrape: the body of GET /metrics, asked for gzip as Prometheus asks (probes are not).
scrape() {
  get /metrics "Accept-Encoding: gzip" | {
    while IFS= read -r l && [ "$l" != $'\r' ]; do :; done
    gzip -dc
  }
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

# /probe: each row a query string, the status line's code, then a line the answer
# must hold (an exposition is linted and never holds the exporter's own metrics).
probe_rows=(
  "target=127.0.0.1:$bus&sdi=2"                   200 "tessaly_probe_success 1"
  "target=127.0.0.1%3A$bus&sdi=2&framing=ddtoip"  200 "tessaly_up{$a,sdi=\"2\"} 1"
  "target=127.0.0.1:$late&sdi=1"                  200 "tessaly_probe_success 0"
  "target=127.0.0.1:$other&sdi=1&framing=cw-net"  200 "tessaly_up{$b,sdi=\"1\"} 0"
  "sdi=1"                                         400 "missing parameter 'target'"
  "target=127.0.0.1:$bus"                         400 "missing parameter 'sdi'"
  "target=127.0.0.1&sdi=1"                        400 "target wants HOST:PORT"
  "target=localhost:$bus&sdi=1"                   400 "target wants HOST:PORT"
  "target=127.0.0.1%00x:$bus&sdi=1"               400 "target wants HOST:PORT"
  "target=127.0.0.1:0&sdi=1"                      400 "target wants HOST:PORT"
  "target=127.0.0.1:65536&sdi=1"                  400 "target wants HOST:PORT"
  "target=127.0.0.1:$bus&sdi=0"                   400 "sdi wants an SDI address 1..15, not '0'"
  "target=127.0.0.1:$bus&sdi=16"                  400 "sdi wants an SDI address 1..15, not '16'"
  "target=127.0.0.1:$bus&sdi=x1"                  400 "sdi wants an SDI address 1..15, not 'x1'"
  "target=127.0.0.1:$bus&sdi=1&framing=cwnet"     400 "framing wants ddtoip or cw-net, not 'cwnet'"
  "target=127.0.0.1:$bus&sdi=1&sdi=2"             400 "parameter 'sdi' is given twice"
  "target=127.0.0.1:$bus&sdi=1&module=x"          400 "unknown parameter 'module'"
)
for ((i = 0; i < ${#probe_rows[@]}; i += 3)); do
  q=${probe_rows[i]} want=${probe_rows[i + 1]} line=${probe_rows[i + 2]}
  get "/probe?$q" >"$tmp/probe.http" || fail "/probe?$q: no answer within 5 s"
  code=$(head -n 1 "$tmp/probe.http" | cut -d' ' -f2)
  [ "$code" = "$want" ] || fail "/probe?$q: status $code, want $want: $(cat "$tmp/probe.http")"
  sed "1,/^\r\?$/d" "$tmp/probe.http" >"$tmp/probe.body"
  if [ "$want" != 200 ]; then
    grep -qF -- "$line" "$tmp/probe.body" || fail "/probe?$q: the reason lacks '$line': $(cat "$tmp/probe.body")"
  else
    grep -qxF -- "$line" "$tmp/probe.body" || fail "/probe?$q: lacks '$line': $(cat "$tmp/probe.body")"
    lint=$(promtool check metrics <"$tmp/probe.body" 2>&1) && [ -z "$lint" ] || fail "/probe?$q: promtool: $lint"
    ! grep -q '^tessaly_exporter_' "$tmp/probe.body" || fail "/probe?$q: holds the exporter's own metrics"
  fi
done

# Probes waiting for a silent controller hold only their share of the server's
# threads: beyond the limit they are refused at once (503), and a scrape of /metrics
# is answered while the others still wait.
waiters=()
for i in $(seq 60); do
  get "/probe?target=127.0.0.1:$late&sdi=1" "X-Prometheus-Scrape-Timeout-Seconds: 4" >"$tmp/waiter$i.out" 2>&1 &
  waiters+=($!)
done
sleep 0.3
scrape >"$tmp/scrape.prom" || true
still=0
for p in "${waiters[@]}"; do kill -0 "$p" 2>/dev/null && still=$((still + 1)); done
wait "${waiters[@]}" || true
refused=$(cat "$tmp"/waiter*.out | grep -c '^HTTP/1.1 503' || true)
grep -q "^tessaly_up{$a,sdi=\"2\"} 1$" "$tmp/scrape.prom" && [ "$still" -gt 0 ] ||
  fail "/metrics was not answered while $still probes waited for a silent controller"
[ "$refused" -gt 0 ] || fail "60 probes waited at once for a silent controller: none was refused"

# A rescan finds the board that appears later; while it is silent again, it stays
# exported with up 0 and without its last status.
listen=127.0.0.1:$late start_emulator late --sdi-address 4
c="controller=\"127.0.0.1:$late\""
for _ in $(seq 100); do
  scrape >"$tmp/scrape.prom" || true
  grep -q "^tessaly_up{$c,sdi=\"4\"} 1$" "$tmp/scrape.prom" && break
  sleep 0.1
done
grep -q "^tessaly_up{$c,sdi=\"4\"} 1$" "$tmp/scrape.prom" || fail "the rescan did not find the board that appeared later"
grep -q "^tessaly_sdram_overflow{$c,sdi=\"4\"} " "$tmp/scrape.prom" || fail "the board found later lacks its status"
kill -TERM "${pids[-1]}" && wait "${pids[-1]}" 2>/dev/null || true
for _ in $(seq 50); do
  scrape >"$tmp/scrape.prom" || true
  grep -q "^tessaly_up{$c,sdi=\"4\"} 0$" "$tmp/scrape.prom" && break
  sleep 0.1
done
grep -q "^tessaly_up{$c,sdi=\"4\"} 0$" "$tmp/scrape.prom" || fail "the silent board is not exported with up 0"
! grep -E "^tessaly_[a-z_]+\{$c,[^}]*\} " "$tmp/scrape.prom" | grep -vE '^tessaly_(up|poll_duration_seconds|exporter_polls_total)\{' ||
  fail "the silent board's last status is still exported"

# SIGTERM and SIGINT stop the server, with a probe on its way, and exit 0 within 5 s.
for sig in TERM INT; do
  [ "$sig" = TERM ] || serve "serve-$sig"
  get "/probe?target=127.0.0.1:$late&sdi=1" >/dev/null 2>&1 &
  sleep 0.05
  kill -"$sig" "$served"
  for _ in $(seq 50); do kill -0 "$served" 2>/dev/null || break; sleep 0.1; done
  rc=0
  kill -0 "$served" 2>/dev/null && rc=timeout || wait "$served" || rc=$?
  [ "$rc" = 0 ] || fail "SIG$sig: exited $rc, want 0 within 5 s"
  wait $! 2>/dev/null || true
done

# Configurations refused: exit 1, nothing printed, the message naming file, line and
# column. Each row: a sed edit of the good configuration, then the message expected.
bad_rows=(
  's/^    host_port: 0$/    host_prot: 0/'            "bad.yml:7:5: unknown key 'host_prot' in a controller"
  's/^    boards: \[1\]$/    boards: [1, 16]/'         "bad.yml:13:17: an SDI address wants a whole number 1..15, not '16'"
  's/^    framing: cw-net$/    framing: cwnet/'       "bad.yml:12:14: framing wants ddtoip or cw-net, not 'cwnet'"
  's/^    host_port: 0$/    host_port: 40000/; $a\    host_port: 40000' "bad.yml:14:16: host_port 40000 is given to two controllers"
  's/boards: all/boards: [1, 2]/; 1i rescan: 1m'  "bad.yml:1:9: rescan applies to controllers with boards: all, and none has"
  's/^    boards: \[1\]$/    boards: [1]\n    boards: [2]/' "bad.yml:14:5: key 'boards' is given twice in a controller"
  '4s/address: 127.0.0.1$/address: "127.0.0.1\\0x"/' "bad.yml:4:14: address wants an IPv4 address"
  'd'                                              "bad.yml:1:1: the configuration wants keys"
  '1i rescan: 0s'                                  "bad.yml:1:9: rescan wants a duration such as 5s, 500ms or 2m (more than 0, at most 24h), not '0s'"
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
