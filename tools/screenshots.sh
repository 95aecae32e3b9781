#!/usr/bin/env bash
# Pictures of the real windows for the manual and the README: the program
# shows its windows on a virtual X display (Xvfb) at 96 dpi and writes them
# into docs/screenshots/. Run from anywhere; needs a built build/pelmo.
set -euo pipefail
cd "$(dirname "$0")/.."
program=build/pelmo
out=docs/screenshots
if [ ! -x "$program" ]; then
  echo "screenshots: $program is missing; build first (make build)" >&2
  exit 1
fi
if ! command -v xvfb-run >/dev/null; then
  echo "screenshots: xvfb-run is missing (Debian package xvfb)" >&2
  exit 1
fi
mkdir -p "$out"
# A private runtime folder keeps Qt quiet about XDG_RUNTIME_DIR.
runtime=$(mktemp -d)
trap 'rm -rf "$runtime"' EXIT
XDG_RUNTIME_DIR="$runtime" QT_QPA_PLATFORM=xcb LC_ALL=C.UTF-8 \
  xvfb-run -a -s "-screen 0 1280x1024x24 -dpi 96 -nolisten tcp" \
  "$program" --write-screenshots "$out"
