#!/usr/bin/env bash
# Runs one program of the Windows build under Wine; 77 (skipped) when the
# Windows build has not been made or Wine cannot run (scripts/with-wine).
set -euo pipefail
exe=$1; shift
if [ ! -f "$exe" ]; then
  echo "skipped: $exe not built (make windows)"
  exit 77
fi
here=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
exec "$here/scripts/with-wine" wine "$exe" "$@"
