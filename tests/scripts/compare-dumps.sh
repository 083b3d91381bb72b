#!/usr/bin/env bash
# Writes the same scene dump with two builds of trails and compares them byte
# for byte. A difference means a build's floating point is wrong (x87,
# contraction, a rounding the optimiser dropped, another libm path): fix the
# build, never this comparison.
#
#   compare-dumps.sh REFERENCE_TRAILS OTHER_TRAILS SEED SCHEDULE [wine]
#
# With "wine", OTHER_TRAILS is a Windows program run under Wine, with the x87
# unit left at 24-bit precision before the first call, as a host that created
# its Direct3D device without preserving the FPU state leaves it. 77 (skipped)
# when a build is missing or, with "wine", when Wine cannot run.
set -euo pipefail
reference=$1 other=$2 seed=$3 schedule=$4 mode=${5:-native}
here=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
for program in "$reference" "$other"; do
  if [ ! -f "$program" ]; then
    echo "skipped: $program not built"
    exit 77
  fi
done
if [ "$mode" = wine ]; then
  "$here/scripts/with-wine" --check || exit $?
fi
work=$(mktemp -d "${TMPDIR:-/tmp}/chaostrails-dumps.XXXXXX")
trap 'rm -rf "$work"' EXIT

"$reference" dump --seed "$seed" --schedule "$schedule" --out "$work/reference.dump"
if [ "$mode" = wine ]; then
  # 0x007F: every exception masked, round to nearest, 24-bit precision.
  TRAILS_HOST_X87_CONTROL_WORD=007F WINEPATH= \
    "$here/scripts/with-wine" wine "$other" dump --seed "$seed" --schedule "$schedule" --out "$work/other.dump"
else
  "$other" dump --seed "$seed" --schedule "$schedule" --out "$work/other.dump"
fi

if cmp -s "$work/reference.dump" "$work/other.dump"; then
  echo "identical: seed $seed, schedule $schedule ($(stat -c %s "$work/reference.dump") bytes)"
  exit 0
fi
echo "DIFFERENT: seed $seed, schedule $schedule"
cmp "$work/reference.dump" "$work/other.dump" | head -1
cmp -l "$work/reference.dump" "$work/other.dump" | wc -l | sed 's/^/bytes differing: /'
exit 1
