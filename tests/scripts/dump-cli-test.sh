#!/usr/bin/env bash
# trails dump from the outside: the file's layout and size, a file replaced
# whole, and how bad command lines are refused (determinism and the seed are
# the golden dumps' part).
set -uo pipefail
trails=$1
work=$(mktemp -d "${TMPDIR:-/tmp}/chaostrails-dumpcli.XXXXXX")
trap 'rm -rf "$work"' EXIT
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

expect_refused() {  # expect_refused "what the message names" args...
  local needle=$1; shift
  rm -f "$work/out.dump"
  "$trails" dump "$@" 2>"$work/err"
  local status=$?
  [ "$status" -eq 2 ] || fail "'$*' exited $status, expected 2"
  grep -q -- "$needle" "$work/err" || fail "'$*' message does not name '$needle': $(cat "$work/err")"
  [ ! -e "$work/out.dump" ] || fail "'$*' left a file behind"
  [ "$(ls "$work" | grep -c tmp)" -eq 0 ] || fail "'$*' left a temporary file"
}

expect_refused "'q7'" --seed 1 --schedule s,q7 --out "$work/out.dump"
expect_refused "''" --seed 1 --schedule s,,t --out "$work/out.dump"
expect_refused "'tx'" --seed 1 --schedule tx --out "$work/out.dump"
expect_refused "'s2'" --seed 1 --schedule s2 --out "$work/out.dump"
expect_refused "--seed" --seed -1 --schedule s --out "$work/out.dump"
expect_refused "--seed" --seed 4294967296 --schedule s --out "$work/out.dump"
expect_refused "--rect" --seed 1 --rect 0,0,1920 --schedule s --out "$work/out.dump"
expect_refused "--bogus" --seed 1 --bogus 3 --schedule s --out "$work/out.dump"
expect_refused "--out" --seed 1 --schedule s
expect_refused "cannot write" --seed 1 --schedule s --out "$work/missing/dir/out.dump"

# Layout: magic, 14 scalars, the count, 1,672 bytes a particle, then the grids
# and the two layers.
"$trails" dump --seed 7 --schedule s,x,s --out "$work/a.dump" || fail "dump s,x,s failed"
expected=$((8 + 56 + 4 + 1672 * 4000 + 36864000 + 9216000 + 9216000 + 2304000))
[ "$(stat -c %s "$work/a.dump")" -eq "$expected" ] || fail "size $(stat -c %s "$work/a.dump"), expected $expected"
[ "$(head -c 8 "$work/a.dump")" = "CTDUMP01" ] || fail "magic"
count=$(od -An -t u4 -j 64 -N 4 "$work/a.dump" | tr -d ' ')
[ "$count" -eq 4000 ] || fail "particle count $count, expected 4000"
width=$(od -An -t d4 -j 8 -N 4 "$work/a.dump" | tr -d ' ')
[ "$width" -eq 1920 ] || fail "gridWidth $width"

# Before any set-up: load values, no particles, and nothing ever drawn.
"$trails" dump --seed 7 --schedule t3 --out "$work/b.dump" || fail "dump t3 failed"
[ "$(stat -c %s "$work/b.dump")" -eq $((8 + 56 + 4 + 57600000)) ] || fail "size of an empty scene"
ticks=$(od -An -t d4 -j 36 -N 4 "$work/b.dump" | tr -d ' ')
[ "$ticks" -eq 3 ] || fail "ticksSinceReseed $ticks after t3"
equation=$(od -An -t d4 -j 20 -N 4 "$work/b.dump" | tr -d ' ')
[ "$equation" -eq 1 ] || fail "equationType $equation at load"

# An existing file is replaced whole.
echo junk > "$work/e.dump"
"$trails" dump --seed 7 --schedule s,x,s --out "$work/e.dump"
cmp -s "$work/a.dump" "$work/e.dump" || fail "existing output not replaced"

if [ "$failures" -eq 0 ]; then echo "dump command line: all checks passed"; fi
exit $((failures > 0))
