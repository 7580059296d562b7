#!/usr/bin/env bash
# Builds the Debian package (scripts/package.sh) and checks it as a bench PC sees it:
#  - unpacked with dpkg -x into a scratch root: every file in its place, each program
#    prints the project's version for --version and its usage for --help, no RPATH,
#    the panel starts offscreen (in a scratch home whose Settings.ini points at
#    127.0.0.1) and is still running a second later, the desktop entry and the
#    AppStream metainfo validate, the man pages and the metainfo name the version;
#    the exporter's systemd unit passes systemd-analyze verify and starts the packaged
#    exporter with the packaged configuration, a conffile, which works as shipped
#    against the packaged emulator (only ever on 127.0.0.1);
#  - lintian finds nothing of severity error (other findings are printed);
#  - run as root: dpkg -i and apt-get -f install, the installed tessaly-cli runs and
#    its man page is found, the installed unit verifies and is left disabled, the
#    conffile is registered, then dpkg --purge takes the package and its
#    configuration away again. Skipped when a tessaly-panel package was installed
#    before (it is left as it was).
# Every check runs; the last line has ctest's form so that scripts/test.sh counts it.
set -uo pipefail
cd "$(dirname "$0")/.."

passed=0 failed=0
scratch=$(mktemp -d)
panel_pid=""
cleanup() {
  [ -n "$panel_pid" ] && { kill "$panel_pid" 2>/dev/null; wait "$panel_pid" 2>/dev/null; }
  rm -rf "$scratch"
}
trap cleanup EXIT

# check NAME COMMAND...: runs COMMAND, its output shown only when it fails.
check() {
  local name=$1; shift
  local out
  if out=$("$@" 2>&1); then
    passed=$((passed + 1)); echo "  ok    $name"
  else
    failed=$((failed + 1)); echo "  FAIL  $name"; [ -n "$out" ] && sed 's/^/        /' <<<"$out"
  fi
}
summary() {
  local total=$((passed + failed)) pct=0
  [ "$total" -gt 0 ] && pct=$((100 * passed / total))
  echo "package checks: $pct% tests passed, $failed tests failed out of $total"
  [ "$failed" -eq 0 ]
  exit
}

echo "== package"
if ! deb=$(bash scripts/package.sh | tail -n1) || [ ! -f "$deb" ]; then
  failed=1; echo "  FAIL  the package builds (bash scripts/package.sh)"; summary
fi
echo "  $deb"
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' build/CMakeCache.txt)
package=tessaly-panel
root=$scratch/root
home=$scratch/home
mkdir -p "$root" "$home"
dpkg-deb -x "$deb" "$root" || { failed=1; echo "  FAIL  dpkg -x"; summary; }

echo "== unpacked into a scratch root"
programs=(tessaly-panel tessaly-cli tessaly-emulator tessaly-exporter)
field_is() { [ "$(dpkg-deb -f "$deb" "$1")" = "$2" ] || { echo "$1: $(dpkg-deb -f "$deb" "$1"), want $2"; return 1; }; }
check "control: package $package, version $version" eval 'field_is Package "$package" && field_is Version "$version"'
check "control: dependencies computed from the shared libraries" \
  eval 'dpkg-deb -f "$deb" Depends | grep -q "libqt6widgets6" || { dpkg-deb -f "$deb" Depends; false; }'
files=(usr/share/"$package"/wireshark/tessaly.lua usr/share/"$package"/prometheus/tessaly-rules.yml
       usr/share/doc/"$package"/copyright usr/share/doc/"$package"/changelog.gz usr/share/doc/"$package"/README.md
       usr/share/applications/"$package".desktop usr/share/icons/hicolor/scalable/apps/"$package".svg
       lib/systemd/system/tessaly-exporter.service etc/tessaly/exporter.yml)
for p in "${programs[@]}"; do
  files+=(usr/bin/"$p" usr/share/man/man1/"$p".1.gz usr/share/bash-completion/completions/"$p")
done
all_there() { local f r=0; for f in "$@"; do [ -f "$root/$f" ] || { echo "missing: /$f"; r=1; }; done; return $r; }
check "every file in its place" all_there "${files[@]}"
metainfo=("$root"/usr/share/metainfo/*.metainfo.xml)
check "one AppStream metainfo file" test -f "${metainfo[0]}" -a ${#metainfo[@]} -eq 1
only_expected_programs() {
  local extra; extra=$(ls "$root/usr/bin" | grep -vxF -e tessaly-panel -e tessaly-cli -e tessaly-emulator -e tessaly-exporter)
  [ -z "$extra" ] || { echo "unexpected programs: $extra"; return 1; }
}
check "no test, bench or fuzz program installed" only_expected_programs

# Programs run from the scratch root in the scratch home, without a display.
run_in_home() { (cd "$home" && HOME="$home" QT_QPA_PLATFORM=offscreen "$@"); }
prints_version() {
  local out; out=$(run_in_home "$root/usr/bin/$1" --version) || { echo "exit $?: $out"; return 1; }
  [ "$out" = "$1 $version" ] || { echo "printed '$out', want '$1 $version'"; return 1; }
}
prints_help() {
  local out; out=$(run_in_home "$root/usr/bin/$1" --help) || { echo "exit $?: $out"; return 1; }
  grep -q -- --version <<<"$out" || { echo "no usage text: $out"; return 1; }
}
no_rpath() { ! readelf -d "$root/usr/bin/$1" | grep -E 'RPATH|RUNPATH'; }
for p in "${programs[@]}"; do
  check "$p --version prints '$p $version'" prints_version "$p"
  check "$p --help" prints_help "$p"
  check "$p has no RPATH" no_rpath "$p"
done

# The panel only ever talks to loopback here: host and device port are free ones.
port_in_use() { grep -qi ":$(printf '%04X' "$1") " /proc/net/udp /proc/net/udp6 2>/dev/null; }
free_port() { local p=$(( 40000 + RANDOM % 20000 )); while port_in_use "$p" || [ "$p" = "${1:-}" ]; do p=$((p + 1)); done; echo "$p"; }
my_port=$(free_port); device_port=$(free_port "$my_port")
cat >"$home/Settings.ini" <<INI
[Settings]
SaveOnExit=0
MyPort=$my_port
DevicePort=$device_port
[Main]
IPBase=127.0.0.
IPExt=1
IPText=127.0.0.1
INI
panel_runs() {
  (cd "$home" && HOME="$home" QT_QPA_PLATFORM=offscreen exec "$root/usr/bin/tessaly-panel") >"$scratch/panel.log" 2>&1 &
  panel_pid=$!
  sleep 1
  kill -0 "$panel_pid" 2>/dev/null || { wait "$panel_pid"; echo "exited with $?:"; cat "$scratch/panel.log"; panel_pid=""; return 1; }
  kill "$panel_pid"; wait "$panel_pid" 2>/dev/null; panel_pid=""
}
check "the panel starts offscreen and runs for a second" panel_runs

desktop=$root/usr/share/applications/$package.desktop
check "desktop-file-validate" desktop-file-validate "$desktop"
exec_is_installed() {
  local cmd icon
  cmd=$(sed -n 's/^Exec=\([^ ]*\).*/\1/p' "$desktop"); icon=$(sed -n 's/^Icon=//p' "$desktop")
  [ -x "$root/usr/bin/${cmd##*/}" ] || { echo "Exec=$cmd is not an installed program"; return 1; }
  [ -f "$root/usr/share/icons/hicolor/scalable/apps/$icon.svg" ] || { echo "Icon=$icon is not the installed icon"; return 1; }
}
check "the desktop entry starts an installed program with the installed icon" exec_is_installed
check "appstreamcli validate --no-net" appstreamcli validate --no-net "${metainfo[0]}"
# The man pages and the metainfo carry the version as text: they must follow the project's.
names_version() {
  local p th newest r=0
  for p in "${programs[@]}"; do
    th=$(zcat "$root/usr/share/man/man1/$p.1.gz" | sed -n 's/^\.TH .*"Tessaly Panel \([^"]*\)".*/\1/p')
    [ "$th" = "$version" ] || { echo "$p.1 names version '$th', want $version"; r=1; }
  done
  newest=$(grep -o '<release [^>]*version="[^"]*"' "${metainfo[0]}" | head -n1 | sed 's/.*version="\([^"]*\)"/\1/')
  [ "$newest" = "$version" ] || { echo "the metainfo's newest release is '$newest', want $version"; r=1; }
  return $r
}
check "man pages and metainfo name version $version" names_version

# The exporter's service: the unit as systemd reads it (every warning fails),
# starting the packaged program with the packaged configuration, which is the one
# conffile and works as shipped.
unit=lib/systemd/system/tessaly-exporter.service
exporter_config=/etc/tessaly/exporter.yml
conffiles_listed() {
  local listed inetc
  listed=$(dpkg-deb -I "$deb" conffiles) || { echo "the package has no conffiles list"; return 1; }
  inetc=$(cd "$root" && find etc -type f | sed 's|^|/|' | sort)
  [ "$listed" = "$inetc" ] || { echo "conffiles: '$listed', files under /etc: '$inetc'"; return 1; }
  [ "$listed" = "$exporter_config" ] || { echo "conffiles: '$listed', want $exporter_config"; return 1; }
}
check "conffiles: $exporter_config, every file under /etc" conffiles_listed
# systemd-analyze verify reads the unit in the scratch root, where ExecStart's program
# is; the system's own units (the targets it is ordered against) are copied beside it.
unit_verifies() {
  local out
  mkdir -p "$scratch/verify-root/usr/lib/systemd" "$scratch/verify-root/lib/systemd/system"
  cp -a /usr/lib/systemd/system "$scratch/verify-root/usr/lib/systemd/" || return 1
  rm -f "$scratch/verify-root/usr/lib/systemd/system/tessaly-exporter.service"
  cp -a "$root/usr" "$scratch/verify-root/" && cp "$root/$unit" "$scratch/verify-root/$unit" || return 1
  out=$(systemd-analyze --man=no --root="$scratch/verify-root" verify "$scratch/verify-root/$unit" 2>&1) ||
    { echo "$out"; return 1; }
  [ -z "$out" ] || { echo "$out"; return 1; }
}
check "systemd-analyze verify /$unit" unit_verifies
unit_starts_packaged_exporter() {
  local exec
  exec=$(sed -n 's/^ExecStart=//p' "$root/$unit")
  [ "$exec" = "/usr/bin/tessaly-exporter --config $exporter_config" ] || { echo "ExecStart=$exec"; return 1; }
  grep -qx 'DynamicUser=yes' "$root/$unit" || { echo "no DynamicUser=yes"; return 1; }
}
check "the unit runs /usr/bin/tessaly-exporter --config $exporter_config" unit_starts_packaged_exporter
# The shipped configuration, its controllers moved onto the packaged emulator on
# 127.0.0.1 (a copy: address and port rewritten), polled once: every board it names up.
example_config_works() {
  local emu_pid port="" rc=0 out copy=$scratch/exporter.yml
  : >"$scratch/emulator.log"  # there before the program opens it: it is read at once below
  (exec "$root/usr/bin/tessaly-emulator" --listen 127.0.0.1:0) >"$scratch/emulator.log" 2>&1 &
  emu_pid=$!
  for _ in $(seq 100); do
    port=$(sed -n 's/.*listening on 127\.0\.0\.1:\([0-9]*\).*/\1/p' "$scratch/emulator.log")
    [ -n "$port" ] && break
    sleep 0.05
  done
  sed -e 's/^\(\s*-\?\s*address:\s*\)[^ #]*/\1127.0.0.1/' -e "s/^\(\s*port:\s*\)[0-9]*/\1$port/" \
    "$root$exporter_config" >"$copy"
  # Nothing but loopback, whatever the shipped file holds.
  if [ -z "$port" ] || sed 's/#.*//' "$copy" | grep -E '([0-9]+\.){3}[0-9]+' | grep -qv '127\.0\.0\.1'; then
    echo "no emulator, or an address other than 127.0.0.1 left in the copy:"; cat "$copy" "$scratch/emulator.log"; rc=1
  else
    out=$(timeout 20 "$root/usr/bin/tessaly-exporter" --config "$copy" --once 2>&1) || rc=$?
  fi
  kill "$emu_pid" 2>/dev/null; wait "$emu_pid" 2>/dev/null
  [ "$rc" = 0 ] || { echo "exit $rc: $out"; return 1; }
  grep -q "^tessaly_up{controller=\"127.0.0.1:$port\",sdi=\"1\"} 1$" <<<"$out" ||
    { echo "board 1 not up:"; grep '^tessaly_up' <<<"$out"; return 1; }
  ! grep -q '^tessaly_up{.*} 0$' <<<"$out" || { echo "a board is down:"; grep '^tessaly_up' <<<"$out"; return 1; }
}
check "$exporter_config as shipped polls a board (on a loopback copy)" example_config_works

echo "== lintian"
# Every finding is printed; only those of severity error fail.
lintian_out=$(lintian --fail-on error "$deb" 2>&1); lintian_rc=$?
[ -n "$lintian_out" ] && sed 's/^/        /' <<<"$lintian_out"
check "lintian: no findings of severity error" test "$lintian_rc" -eq 0

if [ "$(id -u)" -eq 0 ]; then
  echo "== installed with dpkg -i (purged again afterwards)"
  # One run at a time on this machine installs and removes the package.
  exec 9>/tmp/tessaly-panel-package-check.lock
  flock -w 600 9
  if dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; then
    echo "  skipped: $package was installed before and is left as it was"
  else
    installed_cli() {
      dpkg -i "$deb" || true
      DEBIAN_FRONTEND=noninteractive apt-get -o DPkg::Lock::Timeout=120 -f install -y -qq || return 1
      dpkg-query -W -f='${Status}\n' "$package" | grep -q "install ok installed" || return 1
      [ "$(/usr/bin/tessaly-cli --version)" = "tessaly-cli $version" ]
    }
    check "dpkg -i, apt-get -f install, /usr/bin/tessaly-cli --version" installed_cli
    installed_unit_verifies() {
      local out
      out=$(systemd-analyze --man=no verify /"$unit" 2>&1) || { echo "$out"; return 1; }
      [ -z "$out" ] || { echo "$out"; return 1; }
    }
    check "systemd-analyze verify /$unit (installed)" installed_unit_verifies
    # Installed disabled: it is enabled once its configuration names the controllers.
    service_left_disabled() {
      local links
      links=$(find /etc/systemd/system -name tessaly-exporter.service 2>/dev/null)
      [ -z "$links" ] || { echo "enabled: $links"; return 1; }
    }
    check "tessaly-exporter.service is not enabled by the installation" service_left_disabled
    conffile_registered() {
      dpkg-query -W -f='${Conffiles}\n' "$package" | grep -q "^ $exporter_config [0-9a-f]\{32\}$" ||
        { dpkg-query -W -f='${Conffiles}\n' "$package"; return 1; }
    }
    check "dpkg registers $exporter_config as a conffile" conffile_registered
    if command -v man >/dev/null; then
      # Images that exclude man pages from dpkg (path-exclude) have none to find.
      if grep -qs 'path-exclude=/usr/share/man' /etc/dpkg/dpkg.cfg.d/*; then
        echo "  skipped: man -w tessaly-cli (dpkg excludes man pages on this machine)"
      else
        check "man -w tessaly-cli" man -w tessaly-cli
      fi
    fi
    purged() {
      dpkg --purge "$package" || return 1
      [ ! -e "$exporter_config" ] || { echo "$exporter_config is left"; return 1; }
    }
    check "dpkg --purge $package removes $exporter_config too" purged
  fi
fi
summary
