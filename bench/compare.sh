#!/usr/bin/env bash
# This tree's benchmarks side by side with an older commit's, in one run.
#
#   bench/compare.sh BASE [--rounds N] [--filter REGEX] [--instructions]
#
# BASE is any commit. Its tree goes into a worktree (build/compare/src) whose
# bench/ is replaced by this tree's, so both programs come from the same
# benchmark sources and differ only in the scene code they link. The two are
# run in turn, round after round (which goes first alternates), and the table
# gives each benchmark's least CPU time per build and their ratio: a machine
# shared with other work slows runs down, it does not speed them up. Where
# BASE predates a rename in the scene interface the benchmarks use, and so
# does not build with them, BASE's own bench/ is used instead (it says so).
#
# --instructions adds the instructions per tick of each map family, counted by
# callgrind around 100 ticks of the benchmarks' scene (bench/tick_instructions).
# Counts do not depend on the machine's load.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
jobs=${JOBS:-2}
say() { echo "compare: $*" >&2; }

[ $# -ge 1 ] || { echo "usage: bench/compare.sh BASE [--rounds N] [--filter REGEX] [--instructions]" >&2; exit 2; }
base=$(git -C "$root" rev-parse --verify --quiet "$1^{commit}") || { say "no such commit: $1"; exit 2; }
shift
rounds=3 filter=. instructions=no
while [ $# -gt 0 ]; do
  case $1 in
  --rounds) rounds=$2; shift 2 ;;
  --filter) filter=$2; shift 2 ;;
  --instructions) instructions=yes; shift ;;
  *) say "unknown option $1"; exit 2 ;;
  esac
done

work=$root/build/compare
src=$work/src
mkdir -p "$work"
if [ -d "$src" ]; then
  git -C "$src" checkout -q --force --detach "$base"
  git -C "$src" clean -q -fdx
else
  git -C "$root" worktree add -q --force --detach "$src" "$base"
fi
build_base() {
  cmake -S "$src" -B "$work/base" -G Ninja -DCMAKE_BUILD_TYPE=Release -DCHAOSTRAILS_TESTS=OFF \
    -DCHAOSTRAILS_BENCH=ON >/dev/null &&
    cmake --build "$work/base" -j "$jobs" --target chaostrails_bench tick_instructions >"$work/base-build.log" 2>&1
}
say "building $(git -C "$root" log -1 --format='%h %s' "$base")"
rm -rf "$src/bench.own"
[ ! -d "$src/bench" ] || mv "$src/bench" "$src/bench.own"
cp -r "$root/bench" "$src/bench"
if ! build_base && [ -d "$src/bench.own" ]; then
  # A scene interface the benchmarks use was renamed since BASE: fall back to
  # BASE's own benchmarks (same bodies where their names match).
  say "BASE does not build with this tree's benchmarks ($(grep -m1 'error' "$work/base-build.log" || true)); using BASE's own"
  rm -rf "$src/bench" "$work/base"
  mv "$src/bench.own" "$src/bench"
  build_base || { cat "$work/base-build.log" >&2; say "BASE's own benchmarks do not build"; exit 1; }
elif [ ! -x "$work/base/bench/chaostrails_bench" ]; then
  cat "$work/base-build.log" >&2
  exit 1
fi
say "building this tree"
cmake --preset native -G Ninja >/dev/null
cmake --build --preset native -j "$jobs" --target chaostrails_bench tick_instructions >/dev/null

results=$(mktemp -d)
trap 'rm -rf "$results"' EXIT
run() {  # run base|current ROUND
  local program=$work/base/bench/chaostrails_bench
  [ "$1" = current ] && program=$root/build/native/bench/chaostrails_bench
  "$program" --skip_memory --benchmark_filter="$filter" --benchmark_format=json \
    --benchmark_out="$results/$1-$2.json" --benchmark_out_format=json >/dev/null
}
for round in $(seq 1 "$rounds"); do
  say "round $round of $rounds"
  if [ $((round % 2)) -eq 1 ]; then run base "$round"; run current "$round"
  else run current "$round"; run base "$round"; fi
done

python3 - "$results" <<'PY'
import glob, json, sys
least = {"base": {}, "current": {}}
order = []
for tree in least:
    for path in sorted(glob.glob(f"{sys.argv[1]}/{tree}-*.json")):
        for run in json.load(open(path))["benchmarks"]:
            if run.get("run_type") != "iteration" or run.get("error_occurred"):
                continue
            name = run["name"]
            if name not in order:
                order.append(name)
            seconds = run["cpu_time"]
            least[tree][name] = min(seconds, least[tree].get(name, seconds))
print(f"{'benchmark':44} {'base':>12} {'current':>12} {'ratio':>7}   (least CPU time, us)")
for name in order:
    b, c = least["base"].get(name), least["current"].get(name)
    if b is None or c is None:
        print(f"{name:44} {'-' if b is None else f'{b:12.1f}'} {'-' if c is None else f'{c:12.1f}'}")
        continue
    print(f"{name:44} {b:12.1f} {c:12.1f} {c / b:7.3f}")
PY

[ "$instructions" = yes ] || exit 0
command -v valgrind >/dev/null || { say "valgrind is not installed: no instruction counts"; exit 1; }
counted=100
count() {  # count BUILD FAMILY: instructions per tick
  local total
  total=$(valgrind --tool=callgrind --instr-atstart=no --callgrind-out-file=/dev/null \
          "$1/bench/tick_instructions" "$2" "$counted" 2>&1 | sed -n -E 's/.*Collected : ([0-9]+).*/\1/p')
  echo $((total / counted))
}
printf '%-10s %14s %14s %7s   (instructions per tick, 2000 particles)\n' family base current ratio
for family in 0 1 2 3 4 5 6 7 8 9; do
  b=$(count "$work/base" "$family")
  c=$(count "$root/build/native" "$family")
  awk -v f="$family" -v b="$b" -v c="$c" 'BEGIN { printf "%-10s %14d %14d %7.3f\n", f, b, c, c / b }'
done
