#!/bin/bash
# Injects the faults listed in tools/inject_faults.py one at a time into a
# scratch copy of a git revision (default HEAD) and reports which the engine
# tests catch. The working tree is never touched.
#   tools/inject_faults.sh                 faults against HEAD
#   tools/inject_faults.sh ea6b990         the same faults against another revision
#   tools/inject_faults.sh --only shp-     only the faults whose names start so
#   tools/inject_faults.sh --list          the faults
set -euo pipefail
cd "$(dirname "$0")/.."
exec python3 tools/inject_faults.py "$@"
