#!/usr/bin/env bash
# FreePlugin/SetupPlugin cycles on one real (Wine) device through
# trails-viewer --cycles: every FreePlugin gives back what the SetupPlugin
# before it took, so the device's reference count returns to where it started
# after each cycle, and a scene holds the same number of references every
# time. 77 (skipped) when the Windows build is absent or Wine cannot run.
#
#   viewer-cycles-test.sh WINDOWS_BUILD_DIR CYCLES LOG
set -euo pipefail
build=$1 cycles=$2 log=$3
here=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
viewer=$build/tools/trails-viewer.exe
dll=$build/ChaosTrails.dll
source "$here/tests/e2e/require-built.sh"
require_built "$viewer" "$dll"
require_wine
mkdir -p "$(dirname "$log")"
start=$(date +%s)
"$here/scripts/with-wine" wine "$viewer" --dll "Z:$dll" --size 320x200 --cycles "$cycles" >"$log" 2>&1 ||
  { cat "$log"; echo "FAILED: trails-viewer exited non-zero"; exit 1; }
grep -v '^X connection' "$log" || true
echo "trails-viewer under Wine: $(( $(date +%s) - start )) s"

exec python3 - "$log" "$cycles" <<'EOF'
import re, sys
text = open(sys.argv[1]).read()
cycles = int(sys.argv[2])
before = re.search(r"^device references before: (\d+)$", text, re.M)
after = re.search(r"^device references after: (\d+)$", text, re.M)
setups = [(int(a), int(b), int(c)) for a, b, c in
          re.findall(r"^set-up (\d+): device references with the scene (\d+), after FreePlugin (\d+)$", text, re.M)]
failures = []
if not before or not after:
    failures.append("the viewer did not report the counts before and after")
else:
    before, after = int(before.group(1)), int(after.group(1))
    if after != before:
        failures.append("%d references after the cycles, %d before" % (after, before))
if len(setups) != cycles + 1 or [s[0] for s in setups] != list(range(1, cycles + 2)):
    failures.append("%d set-ups reported, want %d" % (len(setups), cycles + 1))
for number, held, released in setups:
    if before and released != before:
        failures.append("set-up %d: %d references after FreePlugin, %d at the start" % (number, released, before))
    if held != setups[0][1]:
        failures.append("set-up %d holds %d references, the first %d" % (number, held, setups[0][1]))
    if before and held <= before:
        failures.append("set-up %d: the scene holds no device resources (%d references, %d without)"
                        % (number, held, before))
for failure in failures:
    print("FAILED: " + failure)
print("%d cycles: %s" % (cycles, "device references kept" if not failures else "references lost or leaked"))
sys.exit(1 if failures else 0)
EOF
