#!/usr/bin/env bash
# Runs trails-viewer under Wine on the real (Wine) Direct3D 9 device and
# checks its screenshot with x-scene-check --png; 77 (skipped) when the
# Windows build is absent or Wine cannot run.
#
#   viewer-screenshot-test.sh WINDOWS_BUILD_DIR X_SCENE_CHECK OUT.png WIDTH HEIGHT FRAMES TICKS_PER_FRAME [VIEWER OPTIONS...]
#
# WIDTH and HEIGHT are the size the picture must have at the end: after a
# --resize-at among the options, the new size, which the back buffer only
# takes through a device reset.
set -euo pipefail
build=$1 scene_check=$2 out=$3 width=$4 height=$5 frames=$6 ticks=$7
shift 7
here=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
viewer=$build/tools/trails-viewer.exe
dll=$build/ChaosTrails.dll
source "$here/tests/e2e/require-built.sh"
require_built "$viewer" "$dll"
require_wine
mkdir -p "$(dirname "$out")"
rm -f "$out"
log=$out.log
start=$(date +%s)
"$here/scripts/with-wine" wine "$viewer" --dll "Z:$dll" --frames "$frames" --ticks-per-frame "$ticks" \
  --screenshot "Z:$out" "$@" >"$log" 2>&1 || { cat "$log"; echo "FAILED: trails-viewer exited non-zero"; exit 1; }
grep -v '^X connection' "$log" || true
echo "trails-viewer under Wine: $(( $(date +%s) - start )) s"
if [ ! -f "$out" ]; then
  echo "FAILED: no screenshot written"
  exit 1
fi
exec "$scene_check" --png "$out" "$width" "$height"
