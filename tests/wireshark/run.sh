#!/usr/bin/env bash
# The Wireshark dissector under the real tshark:
#   1. end-to-end traffic of tessaly-cli against the emulator (a Query in both
#      framings, every page's instructions, a manufacturer run), captured and
#      decoded with the preference on the emulator's port and with the heuristic
#      alone; the fields must carry the known bytes, nothing may be flagged
#      malformed, and every request must be linked with its answer;
#   2. emulators that drop answers, have no device or another device: the
#      requests left without an answer and the answers' expert information;
#   3. the fuzz corpora, random datagrams and mutated captured datagrams, in every
#      direction, must decode without a single Lua error.
# Everything is sent to 127.0.0.1 only.
# Usage: run.sh EMULATOR CLI SOURCE_DIR
set -euo pipefail
. "$(dirname "${BASH_SOURCE[0]}")/../support/listening.sh"
emu=$1 cli=$2 src=$3
lua=$src/tools/wireshark/tessaly.lua

for tool in tshark text2pcap; do
  command -v "$tool" >/dev/null || { echo "$tool not found: run scripts/deps.sh" >&2; exit 1; }
done

tmp=$(mktemp -d)
emu_pid=""
cleanup() {
  if [ -n "$emu_pid" ]; then kill "$emu_pid" 2>/dev/null || true; fi
  rm -rf "$tmp"
}
trap cleanup EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }
ts() { tshark -n -X lua_script:"$lua" "$@" 2>"$tmp/tshark.err"; }
# Frame, direction, linked frame, seconds since the request, expert messages, in
# two passes (the first finds the answers, the second shows them on the requests).
links() {
  ts -2 -r "$1" -o tessaly.port:"$2" -T fields -E separator='|' -e frame.number -e tessaly.direction \
    -e tessaly.response_in -e tessaly.response_to -e tessaly.time -e _ws.expert.message
}
# The links agree both ways, an answer follows its request within a second, and an
# answered request never says it has none.
check_links() {
  awk -F'|' -v name="$1" '
    { dir[$1] = $2; rin[$1] = $3; rto[$1] = $4; t[$1] = $5; msg[$1] = $6 }
    END {
      for (f in dir) {
        if (dir[f] == "answer" && rto[f] == "") { print name ": answer " f " without a request"; bad = 1 }
        if (rto[f] != "" && (rto[f] + 0 >= f + 0 || rin[rto[f]] == "" || t[f] < 0 || t[f] >= 1)) {
          print name ": answer " f " to " rto[f] " in " t[f] " s, its request names " rin[rto[f]]; bad = 1
        }
        if (rin[f] != "" && rin[f] + 0 <= f + 0) { print name ": request " f " answered in " rin[f]; bad = 1 }
        if (rin[f] != "" && msg[f] ~ /no answer seen/) {
          print name ": request " f " answered in \"" rin[f] "\", expert \"" msg[f] "\""; bad = 1
        }
      }
      exit bad
    }'
}
# Nothing in the whole tree is flagged Malformed, whatever the severity.
no_malformed() {
  local found
  found=$(ts -2 -V "$@" | { grep -E 'Malformed|Lua Error' || true; } | sort | uniq -c | head -3)
  [ -z "$found" ] || fail "flagged in $1 $2: $found"
}

# --- 1. End-to-end capture ----------------------------------------------------
# The port tests need a port other than the default: a free port that happens to be
# 56789 is given back and another taken.
# start_emulator NAME [OPTION...]: captures into $tmp/NAME.pcap.
start_emulator() {
  local name=$1
  shift
  : >"$tmp/emu.out"  # there before the program opens it: it is read at once below
  "$emu" --listen 127.0.0.1:0 --seed 7 --capture "$tmp/$name.pcap" "$@" >"$tmp/emu.out" 2>&1 &
  emu_pid=$!
  port=$(listening_port "$tmp/emu.out")
  [ -n "$port" ] || fail "the emulator did not start: $(cat "$tmp/emu.out")"
}
for _ in 1 2 3; do
  start_emulator emu --erase-ms 600
  [ "$port" != 56789 ] && break
  kill -TERM "$emu_pid"; wait "$emu_pid" || true; emu_pid=""
done
[ "$port" != 56789 ] || fail "the emulator took the default port three times"
cli() {
  local framing=$1
  shift
  local rc=0
  "$cli" --device 127.0.0.1 --device-port "$port" --host-port 0 --framing "$framing" --sdi 1 "$@" >>"$tmp/cli.out" 2>&1 || rc=$?
  # shellcheck disable=SC2053
  [[ $rc == ${expect_exit:-0} ]] || fail "tessaly-cli $* exited $rc: $(tail -5 "$tmp/cli.out")"
}
cli ddtoip --capture "$tmp/cli.pcap" set-serial 12345
cli ddtoip query
cli cw-net query
cli cw-net set-type 4852
cli ddtoip reset
cli ddtoip set-user-text Wireshark
cli cw-net set-address 1
cli cw-net set-user-text 'Grüße'
cli cw-net query
cli ddtoip clock --nco 2000000
cli cw-net clock --pll 27000000 --format 204
cli ddtoip pid-filter general --enable 1,2 --null-filter 1
cli ddtoip pid-filter write --input 2 --pid 496 --remap 777
cli ddtoip pid-filter read --input 2 --pid 496
cli cw-net psi sector --sector 1 --start 0 --end 4095
cli ddtoip psi write --pid 100 --address 16 --packet fix --fix 255
cli cw-net psi read --address 16
cli ddtoip pcr-corrector mode direct
cli ddtoip pcr-corrector test-pid 1000
# The Instruction Test page waits for an answer longer than a notice: none comes (exit 2).
expect_exit=2 cli ddtoip --timeout-ms 100 send --label Probe 10:00003039 11:12F4
cli ddtoip pid-filter erase
cli cw-net psi erase
sleep 0.7 # the erases end before the manufacturer run starts its own
# The multicast address of the run is only data inside its messages: every
# datagram goes to 127.0.0.1.
cli ddtoip mfg-test --pid3 off
kill -TERM "$emu_pid"
wait "$emu_pid" || true
emu_pid=""

# One line a frame: the fields the checks below look at.
no_malformed -r "$tmp/emu.pcap" -o tessaly.port:"$port"
no_malformed -r "$tmp/emu.pcap" -o udp.try_heuristic_first:TRUE
no_malformed -r "$tmp/cli.pcap" -o tessaly.port:"$port"
links "$tmp/emu.pcap" "$port" >"$tmp/links.txt"
check_links "the run" <"$tmp/links.txt" || fail "requests and answers"
grep -q 'no answer seen' "$tmp/links.txt" && fail "unanswered requests: $(grep 'no answer seen' "$tmp/links.txt" | head -3)"
# Latin-1 text as the user typed it, in the instruction and in the status block;
# the input number of the PID filter's instructions (TS2 is sent as 1), none where the
# manufacturer test puts its port in that field.
texts=$(ts -r "$tmp/emu.pcap" -o tessaly.port:"$port" -T fields -e tessaly.instruction.user_text -e tessaly.user_text \
  -e tessaly.instruction.operation -e tessaly.input | awk -F'\t' '$1 $2 ~ /Grüße/ || $3 ~ /^0x1[14]$/' | sort -u | tr '\t\n' '/ ')
[ "$texts" = '//0x11/2 //0x14/ //0x14/2 /Grüße//1,2,3,4,5,6 Grüße/// ' ] || fail "user text and input numbers: $texts"

cols=(-e tessaly.framing -e tessaly.direction -e tessaly.sdi_address -e tessaly.answer -e tessaly.device_code
  -e tessaly.serial -e tessaly.instruction.opcode -e tessaly.instruction.operation -e tessaly.instruction.data -e tessaly.instruction.pll_frequency)
fields() { ts -r "$1" "${@:2}" -T fields -E separator='|' "${cols[@]}"; }

fields "$tmp/emu.pcap" -o tessaly.port:"$port" --disable-heuristic tessaly_udp >"$tmp/pref.txt"
fields "$tmp/emu.pcap" -o udp.try_heuristic_first:TRUE >"$tmp/heur.txt"
fields "$tmp/emu.pcap" --disable-heuristic tessaly_udp >"$tmp/none.txt"
frames=$(ts -r "$tmp/emu.pcap" -T fields -e frame.number | wc -l)
[ "$frames" -ge 60 ] || fail "only $frames frames captured"
# The emulator's port is not the default: without the preference and the heuristic nothing decodes.
[ -z "$(tr -d '|\n' <"$tmp/none.txt")" ] || fail "frames decoded with neither the preference nor the heuristic"
cmp -s "$tmp/pref.txt" "$tmp/heur.txt" || { diff "$tmp/pref.txt" "$tmp/heur.txt" >&2 || true; fail "the heuristic decodes otherwise than the port"; }
grep -q '^|' "$tmp/pref.txt" && fail "frames without a framing: $(grep -n '^|' "$tmp/pref.txt" | head -3)"
[ "$(ts -r "$tmp/emu.pcap" -o tessaly.port:"$port" -Y 'tessaly.malformed || tessaly.unexpected || _ws.lua.error' | wc -l)" -eq 0 ] ||
  fail "the project's own traffic is flagged"

# framing|direction|SDI address|answer kind|device code|serial|opcodes|operations|instruction data|PLL Hz
# (answer kinds: 1 status, 3 interrupt notice, 4 device status, 5 device read-back).
expected=(
  'DDToIP|request|1||||0x10||00003039|'
  'DDToIP|request|1|||||||'
  'DDToIP|answer||1|0x1a|12345||||'
  'CW-Net|request|1|||||||'
  'CW-Net|answer|1|1|0x1a|12345||||'
  'CW-Net|request|1||||0x11||12f4|'
  'CW-Net|answer|1|3||||||'
  'DDToIP|answer|1|3||||||'
  'DDToIP|request|1||||0x01||0100|'
  'DDToIP|request|1||||0x12||57697265736861726b000000000000|'
  'CW-Net|request|1||||0x14||01|'
  'DDToIP|request|1||||0x40,0xe0|0x27|01001e8480,270180|'
  'CW-Net|request|1||||0xe0,0xe0|0x28,0x27|2801000400400208,270101|27000000'
  'DDToIP|request|1||||0xe0|0x10|1003000100|'
  'DDToIP|request|1||||0xe0|0x11|1101000101f0c309|'
  'DDToIP|request|1||||0xe0|0x14|1401000101f0|'
  'CW-Net|request|1||||0xe0|0x20|2001e0000000000fff|'
  'DDToIP|request|1||||0xe0|0x21|210100001000000a0047006410ffffffff'*
  'CW-Net|request|1||||0xe0|0x25|2501000010|'
  'DDToIP|request|1||||0xe0|0x30|3011|'
  'DDToIP|request|1||||0xe0|0x31|310103e8|'
  'DDToIP|request|1||||0x10,0x11||00003039,12f4|'
  'DDToIP|request|1||||0xe0|0x12|1201|'
  'CW-Net|request|1||||0xe0|0x22|2201|'
  # The manufacturer run: configuration, erase, erase poll, programming, read-backs.
  'DDToIP|request|||||0x40,0x40,0x40,0x40,0xe0,0xe0,0xe0,0xe0,0xe0,0xe0,0xe0,0xe0,0xe0,0xe0,0xe0,0xe0,0x03|0x27,0x15,0x10,0x01,0x20,0x20,0x20,0x20,0x30,0x31,0x02,0x03|01001e8480,02001e8480,03001e8480,04001e8480,270f80,15dea8,1002,01,200f20000000000000,200f21000000000000,200f22000000000000,200f23000000000000,3000,310f0097,0201000000000000000000000000ef7b0d640000546573742053747265616d2020,03,01|'
  'DDToIP|request|||||0xe0,0xe0|0x12,0x22|120f,220f|'
  'DDToIP|request|||||0x03||01|'
  'DDToIP|request|||||0xe0,0xe0,0xe0,0xe0,0xe0,0x03|0x11,0x11,0x11,0x21,0x20|110fe2f40000c000,110fe2f40096c096,110fe2f40097c097,210f00000000000a014701ac10000102'*'b5b6b7,200fe0000000000000,01|'
  'DDToIP|request|||||0xe0|0x14|1401e2f40000|'
  'DDToIP|request|||||0xe0|0x14|1408e2f40000|'
  'DDToIP|request|||||0xe0|0x25|2508000000|'
  'DDToIP|answer||4|0x1a|12345||||'
  'DDToIP|answer||5||||||'
)
for pattern in "${expected[@]}"; do
  found=no
  while IFS= read -r line; do
    # shellcheck disable=SC2053
    [[ $line == $pattern ]] && { found=yes; break; }
  done <"$tmp/pref.txt"
  [ $found = yes ] || { cat "$tmp/pref.txt" >&2; fail "no frame matches $pattern"; }
done

# The CLI's own capture of its serial number instruction holds it and its notice.
[ "$(fields "$tmp/cli.pcap" -o tessaly.port:"$port" | sort | tr '\n' ' ')" = \
  'DDToIP|answer|1|3|||||| DDToIP|request|1||||0x10||00003039| ' ] || fail "the CLI's capture: $(fields "$tmp/cli.pcap")"

# --- 2. Answers dropped, no device, another device -----------------------------
# Queries and loads in both framings; per run: frames, requests without an answer,
# "no device" answers, "not a remultiplexer" answers.
fault_run() {
  local name=$1
  shift
  start_emulator "$name" "$@"
  for framing in ddtoip cw-net ddtoip cw-net; do
    expect_exit='[023]' cli "$framing" --timeout-ms 200 query
    expect_exit='[02]' cli "$framing" --timeout-ms 200 set-user-text Fault
  done
  kill -TERM "$emu_pid"
  wait "$emu_pid" || true
  emu_pid=""
  no_malformed -r "$tmp/$name.pcap" -o tessaly.port:"$port"
  links "$tmp/$name.pcap" "$port" >"$tmp/links.txt"
  check_links "$name" <"$tmp/links.txt" || fail "requests and answers with $*"
  counts=$(awk -F'|' '{ n++; a += /no answer seen/; d += /no device connected/; r += /no ASI Remultiplexer/ }
    END { print n, a, d, r }' "$tmp/links.txt")
}
fault_run no-device --no-device
[ "$counts" = "12 4 4 0" ] || fail "with --no-device: $counts: $(cat "$tmp/links.txt")"
fault_run other --device-code 1B
[ "$counts" = "16 0 0 4" ] || fail "with --device-code 1B: $counts: $(cat "$tmp/links.txt")"
fault_run drop --drop 0.4
read -r drop_frames unanswered _ <<<"$counts"
# Every request is there; some answers are not.
[[ $unanswered -ge 1 && $drop_frames -eq $((16 - unanswered)) ]] ||
  fail "with --drop: $counts: $(cat "$tmp/links.txt")"

# --- 3. Any bytes: corpora, random datagrams, mutated captured ones -------------
# Hex dump for text2pcap: one packet per payload, offsets restarting at 0.
{
  for f in "$src"/fuzz/corpus/*/*; do od -An -v -tx1 "$f" | tr -d '\n'; echo; done
  ts -r "$tmp/emu.pcap" -T fields -e udp.payload
} >"$tmp/seeds.txt"
awk -v seed=18 '
  function hexbyte() { return sprintf("%02x", int(rand() * 256)) }
  function emit(s,    i, n, line) {
    gsub(/[^0-9a-f]/, "", s)
    n = length(s) / 2
    if (n == 0) return
    for (i = 0; i < n; i += 16) {
      line = substr(s, 2 * i + 1, 32)
      gsub(/../, "& ", line)
      printf "%06x %s\n", i, line
    }
  }
  { seeds[NR] = $0; gsub(/ /, "", seeds[NR]) }
  END {
    srand(seed)
    for (k = 1; k <= NR; k++) emit(seeds[k])
    # Mutants: a cut, a few new bytes, two new bytes where the first instruction
    # heads sit, small numbers anywhere (lengths that still fit), or a longer tail.
    for (k = 1; k <= 2000; k++) {
      s = seeds[1 + int(rand() * NR)]; n = length(s) / 2
      if (n == 0) continue
      m = int(rand() * 5)
      if (m == 0) s = substr(s, 1, 2 * int(rand() * n))
      else if (m == 1) for (j = 0; j < 1 + int(rand() * 4); j++) { p = int(rand() * n); s = substr(s, 1, 2 * p) hexbyte() substr(s, 2 * p + 3) }
      else if (m == 2) { p = 22 + int(rand() * 40); if (p + 2 < n) s = substr(s, 1, 2 * p) hexbyte() hexbyte() substr(s, 2 * p + 5) }
      else if (m == 3) for (j = 0; j < 1 + int(rand() * 3); j++) { p = int(rand() * n); s = substr(s, 1, 2 * p) sprintf("%02x", int(rand() * 12)) substr(s, 2 * p + 3) }
      else s = s hexbyte() hexbyte() hexbyte()
      emit(s)
    }
    # Random datagrams, bare or behind either magic.
    for (k = 1; k <= 1500; k++) {
      m = int(rand() * 3); s = m == 1 ? "4444546f4950" : m == 2 ? "43572d4e6574" : ""
      n = int(rand() * (rand() < 0.8 ? 64 : 1100))
      for (j = 0; j < n; j++) s = s hexbyte()
      emit(s)
    }
  }' "$tmp/seeds.txt" >"$tmp/any.hex"
packets=$(grep -c '^000000 ' "$tmp/any.hex")
[ "$packets" -ge 3000 ] || fail "only $packets random datagrams"
# To the device, from the device, between two device ports, and on other ports (heuristic).
for ports in 40000,56789 56789,40000 56789,56789 40000,40001; do
  text2pcap -q -u "$ports" -4 127.0.0.1,127.0.0.1 "$tmp/any.hex" "$tmp/any.pcap" >/dev/null 2>&1
  errors=$(ts -r "$tmp/any.pcap" -o udp.try_heuristic_first:TRUE -Y '_ws.lua.error' -T fields -e frame.number -e _ws.lua.error | head -3)
  [ -z "$errors" ] || fail "Lua errors with ports $ports: $errors"
  ! grep -v '^Running as user' "$tmp/tshark.err" || fail "tshark with ports $ports wrote the above"
done
echo "wireshark dissector: $frames captured frames decoded, $packets datagrams of any bytes without a Lua error"
