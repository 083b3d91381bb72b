#!/usr/bin/env bash
# trails-viewer refuses what it cannot host with a message on stderr and a
# non-zero exit: a library that is not there, and one that lacks an entry
# point. 77 (skipped) when the Windows build is absent or Wine cannot run.
#
#   viewer-errors-test.sh WINDOWS_BUILD_DIR
set -euo pipefail
build=$1
here=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
viewer=$build/tools/trails-viewer.exe
incomplete=$build/tests/e2e/incomplete_plugin.dll
source "$here/tests/e2e/require-built.sh"
require_built "$viewer" "$incomplete"
require_wine
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT

# Both runs under one Wine start: each start costs many seconds under QEMU.
"$here/scripts/with-wine" bash -c '
  wine "$1" --dll "Z:$2/no-such-plugin.dll" --frames 1 >"$2/missing.out" 2>"$2/missing.err"; echo $? >"$2/missing.rc"
  wine "$1" --dll "Z:$3" --frames 1 >"$2/incomplete.out" 2>"$2/incomplete.err"; echo $? >"$2/incomplete.rc"
' _ "$viewer" "$out" "$incomplete"

failures=0
expect() {  # name, message the error must contain
  local rc err
  rc=$(cat "$out/$1.rc")
  err=$(grep -v '^X connection' "$out/$1.err" || true)
  echo "$1: exit $rc, stderr: $err"
  if [ "$rc" = 0 ]; then echo "FAILED: $1: exit status 0"; failures=$((failures + 1)); fi
  if ! grep -q -- "$2" <<<"$err"; then echo "FAILED: $1: no \"$2\" on stderr"; failures=$((failures + 1)); fi
  if grep -q '^device:' "$out/$1.out"; then echo "FAILED: $1: went on to create a device"; failures=$((failures + 1)); fi
}
expect missing "cannot load .*no-such-plugin.dll"
expect incomplete "no entry point at ordinal 10 (SetupPluginPerScreen)"
[ "$failures" = 0 ]
