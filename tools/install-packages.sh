#!/usr/bin/env bash
# Installs the Debian packages of tools/debian-packages.txt that are missing,
# or of those named as arguments (`install-packages.sh cmake g++`).
# A machine that has them all runs no apt at all.
set -euo pipefail
list="$(dirname "$0")/debian-packages.txt"
wanted=("$@")
if [ ${#wanted[@]} -eq 0 ]; then
  while read -r pkg _; do
    case "$pkg" in ''|'#'*) continue ;; esac
    wanted+=("$pkg")
  done < "$list"
fi
missing=()
for pkg in "${wanted[@]}"; do
  dpkg -s "$pkg" >/dev/null 2>&1 || missing+=("$pkg")
done
[ ${#missing[@]} -eq 0 ] && exit 0
echo "installing: ${missing[*]}"
SUDO=""
[ "$(id -u)" -ne 0 ] && SUDO="sudo"
$SUDO apt-get update
DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y --no-install-recommends "${missing[@]}"
