#!/usr/bin/env bash
# Installs what KelUbc needs to build, test and run its demo on Debian 12.
# Skips apt-get entirely when everything is already there.
set -euo pipefail

packages=(build-essential cmake qtbase5-dev qtbase5-dev-tools libqt5sql5-sqlite
          libbenchmark-dev libsimdjson-dev zlib1g-dev)
packages+=("$@")

missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
echo "Installing: ${missing[*]}"
$sudo apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
