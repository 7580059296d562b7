#!/usr/bin/env bash
# `run.sh COMPLETION PANEL CLI EMULATOR EXPORTER`: sources the bash completion script as bash
# does and asks it for completions: each program's options are exactly those its
# --help names (for tessaly-cli, the union over every command and subcommand the
# script offers), and a table of command lines gives the expected choices.
set -uo pipefail
[ $# -eq 5 ] || { echo "usage: $0 COMPLETION PANEL CLI EMULATOR EXPORTER" >&2; exit 2; }
completion=$1 panel=$2 cli=$3 emulator=$4 exporter=$5
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
cd "$scratch" || exit 2
touch capture.pcap report.xml

# shellcheck source=/dev/null
source "$completion" || { echo "FAIL: sourcing $completion"; exit 1; }

failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

# complete_line LINE: the choices for LINE (which ends where the cursor is), one per
# line, sorted. The words are split as bash splits them: at blanks and at "=".
complete_line() {
  local line=$1 program function
  local -a words=()
  read -r -a words <<<"${line//=/ = }"
  [[ $line == *" " || $line == *"=" ]] && words+=("")
  program=${words[0]}
  function=$(complete -p "$program" 2>/dev/null | sed -n 's/.*-F \([^ ]*\) .*/\1/p')
  [ -n "$function" ] || { echo "(no completion for $program)"; return; }
  COMP_WORDS=("${words[@]}")
  COMP_CWORD=$((${#words[@]} - 1))
  COMP_LINE=$line
  COMP_POINT=${#line}
  COMPREPLY=()
  "$function" "$program" "${words[COMP_CWORD]}" "${words[COMP_CWORD - 1]:-}"
  printf '%s\n' "${COMPREPLY[@]}" | sed '/^$/d' | sort -u
}

# The long options a program's --help names.
help_options() {
  QT_QPA_PLATFORM=offscreen "$1" --help 2>/dev/null | grep -o -- '--[A-Za-z][A-Za-z0-9-]*' | sort -u
}

same_options() {
  local name=$1 want=$2 got=$3
  local missing extra
  missing=$(comm -23 <(echo "$want") <(echo "$got") | tr '\n' ' ')
  extra=$(comm -13 <(echo "$want") <(echo "$got") | tr '\n' ' ')
  [ -z "$missing" ] || fail "$name: in --help, not completed: $missing"
  [ -z "$extra" ] || fail "$name: completed, not in --help: $extra"
}

# Every option of the Qt-parsed programs.
for p in "$panel" "$emulator" "$exporter"; do
  name=$(basename "$p")
  same_options "$name" "$(help_options "$p")" "$(complete_line "$name --" | grep -- '^--')"
done

# tessaly-cli: every command, each subcommand, every option offered anywhere.
got=$(complete_line "tessaly-cli --")
for command in $(complete_line "tessaly-cli "); do
  got+=$'\n'$(complete_line "tessaly-cli $command --")
  [ "$command" = help ] && continue
  for sub in $(complete_line "tessaly-cli $command "); do
    got+=$'\n'$(complete_line "tessaly-cli $command $sub --")
  done
done
same_options tessaly-cli "$(help_options "$cli")" "$(echo "$got" | grep -- '^--' | sort -u)"
# Every command the help describes is offered.
help_commands=$("$cli" --help | sed -n 's/^  \([a-z][a-z-]*\) .*/\1/p; s/^  \([a-z][a-z-]*\)$/\1/p' | sort -u)
same_options "tessaly-cli commands" "$help_commands" "$(complete_line "tessaly-cli ")"

# LINE | the expected choices (blank-separated, in any order).
while IFS='|' read -r line want; do
  [ -z "$line" ] && continue
  line=${line%" "}
  [[ $line == *"<sp>" ]] && line="${line%<sp>} "
  got=$(complete_line "$line" | tr '\n' ' ')
  want=$(tr ' ' '\n' <<<"$want" | sed '/^$/d' | sort -u | tr '\n' ' ')
  [ "$got" = "$want" ] || fail "'$line': got '$got', want '$want'"
done <<'TABLE'
tessaly-cli pid-filter<sp>| erase general read write
tessaly-cli --framing ddtoip psi<sp>| erase read sector write
tessaly-cli --sdi=2 pcr-corrector<sp>| mode test-pid
tessaly-cli pcr-corrector mode<sp>| direct off on
tessaly-cli pcr-corrector mode on<sp>|
tessaly-cli help p| pcr-corrector pcr-log pid-filter psi
tessaly-cli help pid-filter<sp>| erase general read write
tessaly-cli --framing<sp>| cw-net ddtoip
tessaly-cli --framing=| cw-net ddtoip
tessaly-cli --framing=d| ddtoip
tessaly-cli --sdi 1<sp>| clock config help mfg-test pcr-corrector pcr-log pid-filter psi query reset scan send set-address set-serial set-type set-user-text
tessaly-cli config<sp>| apply diff export
tessaly-cli config export --pid-filter<sp>| all none
tessaly-cli config apply r| report.xml
tessaly-cli clock --source in| input1 input2 input3 input4 input5 input6
tessaly-cli clock --format<sp>| 188 204
tessaly-cli psi write --packet<sp>| ascending descending fix
tessaly-cli psi read --| --address --json --capture --device --device-port --framing --help --host-port --sdi --timeout-ms --version
tessaly-cli pid-filter write --input 2 --| --input --pid --remap --capture --device --device-port --framing --help --host-port --sdi --timeout-ms --version
tessaly-cli query --j| --json
tessaly-cli --timeout-ms 200 scan --j| --json
tessaly-cli --capture c| capture.pcap
tessaly-cli mfg-test --junit r| report.xml
tessaly-cli mfg-test --pid2<sp>| off
tessaly-cli set-user-text --<sp>|
tessaly-emulator --no| --no-device
tessaly-emulator --sdi-address 1| 1 10 11 12 13 14 15
tessaly-emulator --capture=c| capture.pcap
tessaly-panel --c| --capture
tessaly-panel --capture c| capture.pcap
TABLE

if [ "$failures" -ne 0 ]; then
  echo "$failures completion check(s) failed"
  exit 1
fi
echo "bash completion: every option and command of the three programs, and the table's lines"
