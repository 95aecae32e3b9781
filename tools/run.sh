#!/usr/bin/env bash
# The main job of `make run`: the window where a display is available,
# otherwise a sample job through the batch tool.
set -euo pipefail
cd "$(dirname "$0")/.."
if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ] && [ -x build/pelmo ]; then
  echo "starting the window: build/pelmo"
  exec build/pelmo
fi
out="${TMPDIR:-/tmp}/pelmo-sample-utm33.txt"
src=data/samples/gk5_bessel_points.txt
echo "No display found: running a sample job with the batch tool instead."
echo "  Gauss-Krueger zone 5 (Bessel 1841) -> DHDN to ETRS89 (EPSG 1776) -> UTM zone 33 (GRS 1980)"
set -x
build/pelmo-cli --yes --in GK-Germ --out UTM \
  --ell1 data/Bessel_1841.ell --ell2 data/GRS_1980.ell \
  --7par1 data/DHDN_to_ETRS89_EPSG1776.7pr \
  "$src" "$out"
{ set +x; } 2>/dev/null
echo
echo "source ($src):"; cat "$src"
echo "target ($out):"; cat "$out"
echo
echo "To start the window: build/pelmo (on a desktop), or under a virtual display: xvfb-run build/pelmo"
echo "Batch tool help: build/pelmo-cli --help"
