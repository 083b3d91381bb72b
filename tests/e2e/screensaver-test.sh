#!/usr/bin/env bash
# ChaosTrails.scr under Wine, started and watched by screensaver_test.exe as
# Windows would start it; 77 (skipped) when the Windows build is absent.
#
#   screensaver-test.sh WINDOWS_BUILD_DIR preview|fullscreen|settings|refusals X_SCENE_CHECK
#
# X_SCENE_CHECK is the native program that looks at the X screen for the
# scene (Wine draws the preview with OpenGL into X, where Windows' own screen
# reading does not see it); the helper runs it under Wine.
#
# refusals: copies of the screensaver in folders of their own, without the
# library, with one that lacks two entry points, and with a file that is no
# library at all under its name.
set -euo pipefail
build=$1 mode=$2 scene_check=$3
here=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
scr=$build/tools/ChaosTrails.scr
dll=$build/tools/ChaosTrails.dll
helper=$build/tests/e2e/screensaver_test.exe
incomplete=$build/tests/e2e/incomplete_plugin.dll
source "$here/tests/e2e/require-built.sh"
require_built "$scr" "$dll" "$helper" "$incomplete"
start=$(date +%s)
trap 'echo "screensaver under Wine: $(( $(date +%s) - start )) s"' EXIT

case $mode in
preview | fullscreen)
  verdict=$(mktemp "${TMPDIR:-/tmp}/chaostrails-verdict.XXXXXX")
  trap 'rm -f "$verdict"; echo "screensaver under Wine: $(( $(date +%s) - start )) s"' EXIT
  "$here/scripts/with-wine" wine "$helper" "Z:$scr" "$mode" "Z:$scene_check" "$verdict"
  ;;
settings)
  "$here/scripts/with-wine" wine "$helper" "Z:$scr" settings
  ;;
refusals)
  work=$(mktemp -d "${TMPDIR:-/tmp}/chaostrails-scr.XXXXXX")
  trap 'rm -rf "$work"; echo "screensaver under Wine: $(( $(date +%s) - start )) s"' EXIT
  mkdir "$work/missing" "$work/incomplete" "$work/garbage"
  for folder in missing incomplete garbage; do cp "$scr" "$work/$folder/"; done
  cp "$incomplete" "$work/incomplete/ChaosTrails.dll"
  echo "not a library" >"$work/garbage/ChaosTrails.dll"
  # One Wine start for the three: each costs many seconds under QEMU.
  "$here/scripts/with-wine" bash -c '
    status=0
    wine "$1" "Z:$2/missing/ChaosTrails.scr" refusal "cannot load" || status=1
    wine "$1" "Z:$2/incomplete/ChaosTrails.scr" refusal "no entry point at ordinal 10 (SetupPluginPerScreen)" || status=1
    wine "$1" "Z:$2/garbage/ChaosTrails.scr" refusal "cannot load" || status=1
    exit $status
  ' _ "$helper" "$work"
  ;;
*)
  echo "unknown mode $mode" >&2
  exit 2
  ;;
esac
