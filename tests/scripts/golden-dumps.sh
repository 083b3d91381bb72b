#!/usr/bin/env bash
# Recomputes the golden dumps (tests/golden/dumps.txt) with a build of trails
# and compares their SHA-256 with the recorded ones. Any difference means the
# scene computes something else than it did: find the change that did it.
#
#   golden-dumps.sh TRAILS [LIST]        compare
#   golden-dumps.sh --print TRAILS [LIST]  print the list with this build's hashes
set -euo pipefail
print=0
if [ "${1:-}" = --print ]; then print=1; shift; fi
trails=$1
here=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
list=${2:-$here/tests/golden/dumps.txt}
if [ ! -x "$trails" ]; then
  echo "skipped: $trails not built"
  exit 77
fi
work=$(mktemp -d "${TMPDIR:-/tmp}/chaostrails-golden.XXXXXX")
trap 'rm -rf "$work"' EXIT

failed=0 checked=0
while IFS= read -r line; do
  case "$line" in ''|'#'*) [ "$print" = 1 ] && echo "$line"; continue ;; esac
  read -r expected seed rect schedule <<<"$line"
  "$trails" dump --seed "$seed" --rect "$rect" --schedule "$schedule" --out "$work/dump"
  actual=$(sha256sum "$work/dump" | cut -d' ' -f1)
  if [ "$print" = 1 ]; then
    echo "$actual $seed $rect $schedule"
    continue
  fi
  checked=$((checked + 1))
  if [ "$actual" != "$expected" ]; then
    echo "DIFFERENT: seed $seed, rect $rect, schedule $schedule: $actual"
    failed=$((failed + 1))
  fi
done <"$list"
[ "$print" = 1 ] && exit 0
if [ "$checked" = 0 ]; then
  echo "no golden dumps in $list"
  exit 1
fi
echo "$((checked - failed)) of $checked golden dumps identical"
[ "$failed" = 0 ]
