#!/usr/bin/env bash
# Installs the Debian 12 packages the project needs, only those that are missing.
set -euo pipefail
pkgs=(cmake ninja-build g++ ccache qt6-base-dev
      libcivetweb-dev zlib1g-dev
      libgtest-dev libgmock-dev libbenchmark-dev xvfb xauth clang libclang-rt-14-dev
      libpcap-dev tshark groff-base man-db python3-junitparser
      dpkg-dev file lintian desktop-file-utils appstream systemd curl
      prometheus prometheus-cpp-dev libyaml-cpp-dev)
missing=()
for p in "${pkgs[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  SUDO=""
  [ "$(id -u)" -ne 0 ] && SUDO="sudo"
  echo "Installing: ${missing[*]}"
  # tshark's package asks whether ordinary users may capture; answer no without a prompt.
  echo "wireshark-common wireshark-common/install-setuid boolean false" | $SUDO debconf-set-selections
  $SUDO apt-get update -qq
  # Installing prometheus (the server beside promtool) must not start its service:
  # while installing, a policy-rc.d that denies every start, unless one is already there.
  policy=/usr/sbin/policy-rc.d
  own_policy=""
  if [ ! -e "$policy" ]; then
    printf '#!/bin/sh\nexit 101\n' | $SUDO tee "$policy" >/dev/null
    $SUDO chmod 755 "$policy"
    own_policy=1
    trap '$SUDO rm -f "$policy"' EXIT
  fi
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq "${missing[@]}"
  if [ -n "$own_policy" ]; then
    $SUDO rm -f "$policy"
    trap - EXIT
  fi
fi
