#!/usr/bin/env bash
# The DLL file's own tables, read with objdump: the export table holds exactly
# the eight entry points, each under its plain name at its ordinal, and the
# import table names only system DLLs (the runtime is linked in statically).
# maths: the scene computes its transcendental functions itself, so the DLL
# imports no maths function from msvcrt.dll (nor the runtime's maths helpers)
# and its code holds no x87 transcendental instruction (fsin, fcos, fsincos,
# fptan, fpatan), whose results differ between processors.
# 77 (skipped) when the DLL or the tool is absent.
#
#   dll-tables-test.sh DLL exports|imports|maths
set -euo pipefail
dll=$1 what=$2
objdump=${OBJDUMP:-i686-w64-mingw32-objdump}
if [ ! -f "$dll" ]; then
  echo "skipped: $dll not built (make windows)"
  exit 77
fi
if ! command -v "$objdump" >/dev/null; then
  echo "skipped: $objdump not installed"
  exit 77
fi
tables=$(mktemp)
code=$(mktemp)
trap 'rm -f "$tables" "$code"' EXIT
"$objdump" -p "$dll" >"$tables"
if [ "$what" = maths ]; then
  "$objdump" -d --no-show-raw-insn "$dll" >"$code"
fi

python3 - "$what" "$tables" "$code" <<'EOF'
import re, sys
what = sys.argv[1]
tables = open(sys.argv[2]).read()
failures = []
if what == "exports":
    want = {1: "QueryDefaultSettings", 2: "FreePlugin", 3: "SetupPlugin", 4: "NotificationProcedure",
            5: "UpdateScene", 6: "RenderSceneOnScreen", 10: "SetupPluginPerScreen", 11: "ConfigPlugin"}
    base = re.search(r"^Ordinal Base\s+(\d+)", tables, re.M)
    if not base:
        failures.append("no export table")
    else:
        base = int(base.group(1))
        # Export Address Table rows: "[index] +base[ordinal] rva Export RVA"
        addressed = {int(o) for o in re.findall(r"^\s*\[\s*\d+\] \+base\[\s*(\d+)\] [0-9a-f]+ Export RVA", tables, re.M)}
        if addressed != set(want):
            failures.append("ordinals with an address: %s, want %s" % (sorted(addressed), sorted(want)))
        section = tables.split("[Ordinal/Name Pointer] Table", 1)
        named = {}
        if len(section) == 2:
            for index, name in re.findall(r"^\s*\[\s*(\d+)\] (\S+)$", section[1], re.M):
                named[int(index) + base] = name
        if named != want:
            failures.append("names at ordinals: %s, want %s" % (sorted(named.items()), sorted(want.items())))
        else:
            print("exports: " + ", ".join("%s @%d" % (n, o) for o, n in sorted(named.items())))
elif what == "imports":
    imported = re.findall(r"^\s*DLL Name: (\S+)$", tables, re.M)
    want = {"kernel32.dll", "user32.dll", "msvcrt.dll"}
    if {name.lower() for name in imported} != want or len(imported) != len(want):
        failures.append("imports %s, want exactly KERNEL32.dll, USER32.dll and msvcrt.dll" % imported)
    else:
        print("imports: " + ", ".join(imported))
elif what == "maths":
    # Import rows of each DLL: "\t<hint> <ordinal?> <name>" after "DLL Name:".
    maths = re.compile(r"^_?(a?sinh?|a?cosh?|a?tanh?|atan2|sqrt|cbrt|hypot|exp2?|expm1|log(10|2|1p)?|pow|fmod|"
                       r"remainder|floor|ceil|trunc|round|rint|nearbyint|ldexp|frexp|modf|fabs)[fl]?$"
                       r"|^_CI\w+$|^_?_?(set)?(user)?matherr$|^__setusermatherr$")
    imported = []
    for block in re.split(r"^\s*DLL Name: ", tables, flags=re.M)[1:]:
        dll_name = block.split(None, 1)[0].lower()
        for name in re.findall(r"^\s+[0-9a-f]+\s+(?:[0-9]+\s+)?(\S+)\s*$", block.split("\n\n", 1)[0], re.M):
            if maths.match(name):
                imported.append("%s!%s" % (dll_name, name))
    if imported:
        failures.append("maths functions imported: " + ", ".join(sorted(set(imported))))
    code = open(sys.argv[3]).read()
    x87 = re.findall(r"^\s*([0-9a-f]+):\s+(fsin|fcos|fsincos|fptan|fpatan)\b", code, re.M)
    if x87:
        failures.append("%d x87 transcendental instructions: %s" % (
            len(x87), ", ".join("%s at %s" % (op, address) for address, op in x87[:10])))
    if not failures:
        print("maths: no maths import, no x87 transcendental instruction")
else:
    failures.append("unknown check " + what)
for failure in failures:
    print("FAILED: " + failure)
sys.exit(1 if failures else 0)
EOF
