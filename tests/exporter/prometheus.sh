#!/usr/bin/env bash
# tessaly-exporter scraped by Debian's Prometheus server with the shipped alert rules,
# everything on 127.0.0.1: three emulated controllers with several boards each and one
# whose board is of another kind. Through Prometheus's HTTP API: every remultiplexer
# up with its serial; a controller killed -> its boards down and TessalyBoardDown
# pending for them within 10 s; the other board down with its polls counted as
# not_remux. Every wait has a deadline; every process is stopped on exit.
# Usage: prometheus.sh EMULATOR EXPORTER RULES
set -euo pipefail
. "$(dirname "${BASH_SOURCE[0]}")/../support/listening.sh"
# The expected rows are sorted as Python sorts the answers: by code point.
export LC_ALL=C
emu=$1 exporter=$2
# Prometheus reads rule_files relative to its configuration, which lives elsewhere.
rules=$(realpath -e "$3") || { echo "FAIL: no rules file $3" >&2; exit 1; }
command -v prometheus >/dev/null || { echo "FAIL: prometheus not found: run scripts/deps.sh (Debian package prometheus)" >&2; exit 1; }
py=/usr/bin/python3
[ -x "$py" ] || py=python3
tmp=$(mktemp -d)
pids=()
cleanup() {
  local p
  for p in "${pids[@]}"; do [ -n "$p" ] && kill -TERM "$p" 2>/dev/null || true; done
  for p in "${pids[@]}"; do
    [ -n "$p" ] || continue
    # Prometheus closes its database on TERM; a process that lingers is killed.
    for _ in $(seq 50); do kill -0 "$p" 2>/dev/null || break; sleep 0.1; done
    kill -KILL "$p" 2>/dev/null || true
    wait "$p" 2>/dev/null || true
  done
  rm -rf "$tmp"
}
trap cleanup EXIT
fail() {
  echo "FAIL: $*" >&2
  [ -s "$tmp/prometheus.log" ] && { echo "--- prometheus log (tail)" >&2; tail -n 20 "$tmp/prometheus.log" >&2; }
  [ -s "$tmp/exporter.err" ] && { echo "--- exporter stderr" >&2; tail -n 20 "$tmp/exporter.err" >&2; }
  exit 1
}

# start_emulator NAME [OPTION...]: sets $port to the port it listens on and $pid.
start_emulator() {
  local name=$1
  shift
  : >"$tmp/$name.out"  # there before the program opens it: read at once below
  "$emu" --listen 127.0.0.1:0 --seed 7 "$@" >"$tmp/$name.out" 2>&1 &
  pid=$!
  pids+=("$pid")
  port=$(listening_port "$tmp/$name.out")
  [ -n "$port" ] || fail "emulator $name did not start: $(cat "$tmp/$name.out")"
}
start_emulator a --sdi-address 1-3
a=$port
start_emulator b --sdi-address 2,5
b=$port b_pid=$pid
start_emulator c --sdi-address 7,8,15
c=$port
start_emulator other --device-code 1B
other=$port

cat >"$tmp/exporter.yml" <<EOT
interval: 1s
timeout: 300ms
controllers:
  - address: 127.0.0.1
    port: $a
    name: rack-a
    boards: all
  - address: 127.0.0.1
    port: $b
    framing: cw-net
    boards: [2, 5]
  - address: 127.0.0.1
    port: $c
    boards: [7, 8, 15]
  - address: 127.0.0.1
    port: $other
    boards: [1]
EOT
: >"$tmp/exporter.out" >"$tmp/exporter.err"  # there before the program opens it: read at once below
"$exporter" --config "$tmp/exporter.yml" --listen 127.0.0.1:0 >"$tmp/exporter.out" 2>"$tmp/exporter.err" &
pids+=($!)
http=$(listening_port "$tmp/exporter.err")
[ -n "$http" ] || fail "the exporter did not say where it listens: $(cat "$tmp/exporter.err")"

# Prometheus on a free loopback port: the OS names one, Prometheus takes it; should
# another program take it in between, Prometheus exits and the next port is tried.
cat >"$tmp/prometheus.yml" <<EOT
global:
  scrape_interval: 1s
  scrape_timeout: 1s
  evaluation_interval: 1s
rule_files:
  - $rules
scrape_configs:
  - job_name: tessaly
    static_configs:
      - targets: ['127.0.0.1:$http']
EOT
prom=""
for _ in 1 2 3; do
  p=$("$py" -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
  prometheus --config.file="$tmp/prometheus.yml" --storage.tsdb.path="$tmp/tsdb" \
    --web.listen-address="127.0.0.1:$p" --log.level=warn >"$tmp/prometheus.log" 2>&1 &
  prom_pid=$!
  pids+=("$prom_pid")
  deadline=$((SECONDS + 20))
  while kill -0 "$prom_pid" 2>/dev/null && [ "$SECONDS" -lt "$deadline" ]; do
    if "$py" - "$p" <<'PY' 2>/dev/null; then prom=$p; break; fi
import sys, urllib.request
opener = urllib.request.build_opener(urllib.request.ProxyHandler({}))
sys.exit(0 if opener.open(f"http://127.0.0.1:{sys.argv[1]}/-/ready", timeout=1).status == 200 else 1)
PY
    sleep 0.1
  done
  # Only a Prometheus that exited (its port taken meanwhile) is tried again.
  if [ -n "$prom" ] || kill -0 "$prom_pid" 2>/dev/null; then break; fi
done
[ -n "$prom" ] || fail "Prometheus did not become ready"

# q EXPR LABEL...: the instant vector of EXPR, one line per series: the values of
# LABEL... and the sample's value, sorted.
q() {
  "$py" - "$prom" "$@" <<'PY'
import json, sys, urllib.parse, urllib.request
port, expr, labels = sys.argv[1], sys.argv[2], sys.argv[3:]
opener = urllib.request.build_opener(urllib.request.ProxyHandler({}))
url = f"http://127.0.0.1:{port}/api/v1/query?" + urllib.parse.urlencode({"query": expr})
body = json.load(opener.open(url, timeout=2))
if body.get("status") != "success":
    sys.exit(f"query {expr}: {body}")
rows = [" ".join([r["metric"].get(l, "-") for l in labels] + [r["value"][1]]) for r in body["data"]["result"]]
print("\n".join(sorted(rows)))
PY
}
# until_equal SECONDS WANT EXPR LABEL...: waits until q EXPR LABEL... prints WANT.
until_equal() {
  local seconds=$1 want=$2 got=""
  shift 2
  local deadline=$((SECONDS + seconds))
  while :; do
    got=$(q "$@" 2>&1) || true
    [ "$got" = "$want" ] && return 0
    [ "$SECONDS" -lt "$deadline" ] || break
    sleep 0.25
  done
  fail "after ${seconds}s, $1 gave"$'\n'"$got"$'\n'"want"$'\n'"$want"
}

# Every board as Prometheus has it: the remultiplexers up, each with its serial (the
# first board's, plus one per further board on its bus), the other board down.
up_all=$(sort <<EOT
127.0.0.1:$a 1 1
127.0.0.1:$a 2 1
127.0.0.1:$a 3 1
127.0.0.1:$b 2 1
127.0.0.1:$b 5 1
127.0.0.1:$c 7 1
127.0.0.1:$c 8 1
127.0.0.1:$c 15 1
127.0.0.1:$other 1 0
EOT
)
until_equal 15 "$up_all" tessaly_up controller sdi
until_equal 2 "$(sort <<EOT
127.0.0.1:$a 1 20417 1
127.0.0.1:$a 2 20418 1
127.0.0.1:$a 3 20419 1
127.0.0.1:$b 2 20417 1
127.0.0.1:$b 5 20418 1
127.0.0.1:$c 7 20417 1
127.0.0.1:$c 8 20418 1
127.0.0.1:$c 15 20419 1
EOT
)" 'tessaly_board_info{device_code="1A"}' controller sdi serial
# The board of another kind: counted as not_remux, never as ok.
until_equal 5 "127.0.0.1:$other 1 1" \
  'sgn(tessaly_exporter_polls_total{result="not_remux"}) and on(controller, sdi) tessaly_up == 0' controller sdi
until_equal 2 "" "tessaly_exporter_polls_total{controller=\"127.0.0.1:$other\",result=\"ok\"} > 0"

# A controller killed: its boards go down, TessalyBoardDown pending for them (its
# for: 1m keeps it from firing here) beside the other board's; the rest stay up.
kill -KILL "$b_pid"
wait "$b_pid" 2>/dev/null || true
for i in "${!pids[@]}"; do if [ "${pids[i]}" = "$b_pid" ]; then pids[i]=""; fi; done
until_equal 10 "$(sort <<EOT
127.0.0.1:$b 2 pending 1
127.0.0.1:$b 5 pending 1
127.0.0.1:$other 1 pending 1
EOT
)" 'ALERTS{alertname="TessalyBoardDown"}' controller sdi alertstate
until_equal 2 "$(sed -e "s/^\(127\.0\.0\.1:$b .*\) 1$/\1 0/" <<<"$up_all")" tessaly_up controller sdi
echo "ok"
