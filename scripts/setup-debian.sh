#!/usr/bin/env bash
# Installs what KelUbc needs to build, test and run its demo on Debian 12,
# for the Qt major version in KELUBC_QT_MAJOR (5 by default, or 6).
# Skips apt-get entirely when everything is already there.
set -euo pipefail

packages=(build-essential cmake libbenchmark-dev libsimdjson-dev zlib1g-dev)
case ${KELUBC_QT_MAJOR:-5} in
    5) packages+=(qtbase5-dev qtbase5-dev-tools libqt5sql5-sqlite) ;;
    # qt6-base-dev brings the OpenGL headers and the platform plugins (offscreen).
    6) packages+=(qt6-base-dev qt6-base-dev-tools libqt6sql6-sqlite) ;;
    *) echo "KELUBC_QT_MAJOR must be 5 or 6" >&2; exit 2 ;;
esac
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
