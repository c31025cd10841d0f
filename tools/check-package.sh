#!/usr/bin/env bash
# Checks that a built Debian package holds both programs, both manual
# pages, the deck guide and the examples, and declares Open Babel's library.
set -euo pipefail
deb="$1"
contents=$(dpkg-deb -c "$deb")
status=0
for path in ./usr/bin/korven ./usr/bin/korvenkit ./usr/share/man/man1/korven.1 ./usr/share/man/man1/korvenkit.1 \
            ./usr/share/doc/korven/deck-guide.md ./usr/share/doc/korven/LICENSE \
            ./usr/share/doc/korven/examples/water/WATER.DAT; do
  grep -q " $path\$" <<<"$contents" || { echo "$deb: $path is missing" >&2; status=1; }
done
dpkg-deb -f "$deb" Depends | grep -q libopenbabel7 || { echo "$deb: Depends does not name libopenbabel7" >&2; status=1; }
[ "$status" -eq 0 ] && echo "$deb: both programs, both manual pages, the guide and the examples; $(dpkg-deb -f "$deb" Depends)"
exit "$status"
