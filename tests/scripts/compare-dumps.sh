#!/usr/bin/env bash
# Writes the same scene dump with two builds of trails and compares them byte
# for byte. A difference means a build's floating point is wrong (x87,
# contraction, a rounding the optimiser dropped, another libm path): fix the
# build, never this comparison.
#
#   compare-dumps.sh REFERENCE_TRAILS OTHER_TRAILS SEED SCHEDULE [native|wine|sse2|wine-sse2 [X87 MXCSR]]
#
# With "wine", OTHER_TRAILS is a Windows program run under Wine; with "sse2"
# the frame's passes of OTHER_TRAILS take their SSE2 paths even where the
# machine has AVX. OTHER_TRAILS runs its calls under the host floating-point
# mode X87 (control word) and MXCSR, both hex; by default, under Wine, the
# x87 unit is left at 24-bit precision, as a host that created its Direct3D
# device without preserving the FPU state leaves it. The reference runs
# under the default mode, and trails itself fails when a call does not give
# the host its mode back. 77 (skipped) when a build is missing or, under
# Wine, when Wine cannot run.
set -euo pipefail
reference=$1 other=$2 seed=$3 schedule=$4 mode=${5:-native}
case "$mode" in
  *sse2) export TRAILS_FORCE_SSE2=1 ;;
esac
case "$mode" in
  wine*) x87=${6:-007F} ;;
  *) x87=${6:-} ;;
esac
mxcsr=${7:-}
here=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
for program in "$reference" "$other"; do
  if [ ! -f "$program" ]; then
    echo "skipped: $program not built"
    exit 77
  fi
done
if [ "${mode#wine}" != "$mode" ]; then
  "$here/scripts/with-wine" --check || exit $?
fi
work=$(mktemp -d "${TMPDIR:-/tmp}/chaostrails-dumps.XXXXXX")
trap 'rm -rf "$work"' EXIT

TRAILS_FORCE_SSE2= "$reference" dump --seed "$seed" --schedule "$schedule" --out "$work/reference.dump"
export TRAILS_HOST_X87_CONTROL_WORD=$x87 TRAILS_HOST_MXCSR=$mxcsr
if [ "${mode#wine}" != "$mode" ]; then
  WINEPATH= "$here/scripts/with-wine" wine "$other" dump --seed "$seed" --schedule "$schedule" --out "$work/other.dump"
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
