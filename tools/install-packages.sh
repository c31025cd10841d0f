#!/usr/bin/env bash
# Installs the Debian packages that are missing, with apt-get:
#   install-packages.sh                  those of tools/debian-packages.txt (build and tests)
#   install-packages.sh --list bench     those and tools/debian-packages-bench.txt
#                                        (--list may be given more than once)
#   install-packages.sh cmake g++        just the packages named
# A machine that has them all runs no apt at all. Another apt or dpkg at work
# is waited for, up to ten minutes, rather than failed on.
set -euo pipefail
here="$(dirname "$0")"
lists=()
wanted=()
while [ $# -gt 0 ]; do
  case "$1" in
    --list)
      [ $# -ge 2 ] || { echo "install-packages.sh: --list needs a name" >&2; exit 2; }
      [ -f "$here/debian-packages-$2.txt" ] || { echo "install-packages.sh: no list $here/debian-packages-$2.txt" >&2; exit 2; }
      lists+=("$here/debian-packages-$2.txt")
      shift 2 ;;
    *)
      wanted+=("$1")
      shift ;;
  esac
done
[ ${#wanted[@]} -eq 0 ] && lists=("$here/debian-packages.txt" "${lists[@]}")
for list in "${lists[@]}"; do
  while read -r pkg _; do
    case "$pkg" in ''|'#'*) continue ;; esac
    wanted+=("$pkg")
  done < "$list"
done
missing=()
for pkg in "${wanted[@]}"; do
  dpkg -s "$pkg" >/dev/null 2>&1 || missing+=("$pkg")
done
[ ${#missing[@]} -eq 0 ] && exit 0
echo "installing: ${missing[*]}"
SUDO=""
[ "$(id -u)" -ne 0 ] && SUDO="sudo"
wait_for_lock=(-o DPkg::Lock::Timeout=600)
$SUDO apt-get "${wait_for_lock[@]}" update
DEBIAN_FRONTEND=noninteractive $SUDO apt-get "${wait_for_lock[@]}" install -y --no-install-recommends "${missing[@]}"
