#!/usr/bin/env bash
# The README's screenshot command where no display is: every page of the
# panel drawn to a PNG of the window's size.  usage: panel_screenshots.sh PANEL
set -euo pipefail
panel=$1
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
: > "$dir/empty.ini"
for page in 1 2 3; do
  env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM \
    "$panel" --config "$dir/empty.ini" --screenshot "$dir/page$page.png" --page "$page" >/dev/null
  python3 - "$dir/page$page.png" <<'PY'
import struct, sys
head = open(sys.argv[1], "rb").read(24)
if head[:8] != b"\x89PNG\r\n\x1a\n":
    sys.exit("%s is not a PNG" % sys.argv[1])
size = struct.unpack(">II", head[16:24])
if size != (1000, 980):
    sys.exit("%s is %dx%d, not the window's 1000x980" % ((sys.argv[1],) + size))
PY
done
echo "3 pages drawn without a display"
