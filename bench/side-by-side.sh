#!/usr/bin/env bash
# The benchmarks of the current tree against those of the baseline (commit
# 24c5995), built from the same benchmark sources in the same run, with the
# targets of issue 14. `make bench-compare` runs it.
#
#   bench/side-by-side.sh [--windows] [--rounds N] [--filter REGEX] [--no-dump-pair]
#                         [-- ARGUMENTS FOR THE BENCHMARK PROGRAMS]
#
# Native (the default): chaostrails_bench (Google Benchmark) built against
# each tree's native libraries, every entry-point-level body unless --filter
# gives a regular expression. --windows: chaostrails_harness.exe built
# against each tree's windows-preset libraries, run under Wine, its headline
# bodies unless --filter gives comma-separated substrings.
#
# The two programs run alternately, N rounds each (default 5), the order
# swapped every time, so that load on a shared machine falls on both alike;
# natively each round goes group by group (benchmarks sharing a scene), both
# builds per group, each benchmark three times per process unless ARGUMENTS
# say otherwise. Every benchmark keeps the least CPU time of all its runs.
# Then dump-pair.sh times the tick+frame pair through trails dump (skipped
# with --no-dump-pair) and compare.py prints the table and the targets.
#
# The baseline's sources come from $BASELINE_SRC, or from a worktree of
# 24c5995 in build/baseline-src added on first use; each tree is built with
# its own preset. Results stay in build/side-by-side/results.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/trees.sh"

build=native
rounds=5
filter=
dump_pair=yes
extra=()
while [ $# -gt 0 ]; do
  case $1 in
    --windows) build=windows ;;
    --rounds) rounds=$2; shift ;;
    --filter) filter=$2; shift ;;
    --no-dump-pair) dump_pair=no ;;
    --) shift; extra=("$@"); break ;;
    *) say "usage: bench/side-by-side.sh [--windows] [--rounds N] [--filter REGEX] [--no-dump-pair] [-- ARGS]"
       exit 2 ;;
  esac
  shift
done

# The runs, as groups of benchmarks that share one prepared scene: each group
# runs in both builds before the next starts, so the two builds of a
# benchmark run minutes apart at most, not a whole program apart. The frame
# group also reads the resident memory (its set-up is the frames' scene).
if [ "$build" = native ]; then
  if [ -n "$filter" ]; then
    groups=("$filter")
    memory_group=0
  else
    groups=()
    for family in 0 1 2 3 4 5 6 7 8 9; do
      groups+=("^(Tick/particles:2000/family:$family|TickFloor/family:$family)\$")
    done
    groups+=('^Tick/particles:4000/' '^Tick/particles:8000/'
             '^(FrameFloor|Frame/particles:2000|SimulatedSecond|FrameFloorFromMemory)$' '^Frame/particles:8000$')
    memory_group=$((${#groups[@]} - 2))
  fi
fi

# Three runs of every benchmark in each process: the least of fifteen is
# less at the mercy of one busy stretch than the least of five.
if [ ${#extra[@]} -eq 0 ] && [ "$build" = native ]; then
  extra=(--benchmark_repetitions=3)
fi

ensure_baseline_source
say "building both trees' libraries ($build preset) and the benchmark against each"
ensure_tree_libraries "$baseline_src" "$build"
ensure_tree_libraries "$root" "$build"
out=$root/build/side-by-side
if [ "$build" = native ]; then
  program=chaostrails_bench
else
  program=chaostrails_harness
fi
build_bench_against "$baseline_src" "$build" "$out/$build-baseline" "$program"
build_bench_against "$root" "$build" "$out/$build-current" "$program"

results=$out/results
mkdir -p "$results"
rm -f "$results/$build"-*.json "$results/$build"-*.tsv "$results/$build"-*.log

# run_one TREE ROUND [GROUP]: one run of one tree's program, its results in
# a file of their own.
run_one() {
  local tree=$1 round=$2 group=${3:-0}
  local name
  name=$build-$tree-$(printf '%02d-%02d' "$round" "$group")
  if [ "$build" = native ]; then
    local memory=(--skip_memory)
    [ "$group" -eq "$memory_group" ] && memory=()
    "$out/native-$tree/chaostrails_bench" "${memory[@]}" --benchmark_filter="${groups[$group]}" \
      --benchmark_out="$results/$name.json" --benchmark_out_format=json "${extra[@]}" >"$results/$name.log" 2>&1 ||
      failed "$results/$name.log"
  else
    # The harness runs its headline bodies unless given substrings
    # (--filter "Tick,Frame"): under emulation every body takes long.
    local selection=()
    [ -n "$filter" ] && selection=(--filter "$filter")
    "$root/scripts/with-wine" wine "$out/windows-$tree/chaostrails_harness.exe" "${selection[@]}" \
      --out "$results/$name.tsv" "${extra[@]}" >"$results/$name.log" 2>&1 || failed "$results/$name.log"
  fi
}

failed() {
  say "the run failed; the end of $1:"
  tail -n 20 "$1" >&2
  exit 1
}

# Both builds; which goes first alternates from round to round for every
# group (and from group to group within a round), so neither build of a
# benchmark always runs right after the other.
run_both() {
  local round=$1 group=${2:-0}
  if [ $(((round + group) % 2)) -eq 1 ]; then
    run_one baseline "$round" "$group"
    run_one current "$round" "$group"
  else
    run_one current "$round" "$group"
    run_one baseline "$round" "$group"
  fi
}

for round in $(seq 1 "$rounds"); do
  if [ "$build" = native ]; then
    for group in "${!groups[@]}"; do
      say "round $round/$rounds, group $((group + 1))/${#groups[@]}: ${groups[$group]}"
      run_both "$round" "$group"
    done
  else
    say "round $round/$rounds"
    run_both "$round"
  fi
done

compare=(--build "$build")
if thirty_two_bit_emulated && [ "$build" = windows ]; then
  compare+=(--emulated)
fi
if [ "$dump_pair" = yes ]; then
  mode=native
  [ "$build" = windows ] && mode=wine
  "$root/bench/dump-pair.sh" "--$mode" --report "$results/dump-pair-$mode.tsv" >"$results/dump-pair-$mode.log"
  compare+=(--dump-pair "$results/dump-pair-$mode.tsv")
fi

suffix=json
[ "$build" = windows ] && suffix=tsv
python3 "$root/bench/compare.py" "${compare[@]}" --rounds "$rounds" \
  --baseline "$results/$build"-baseline-*."$suffix" --current "$results/$build"-current-*."$suffix"
if [ "$dump_pair" = yes ]; then
  echo
  sed -n '/^Tick+frame pair/,$p' "$results/dump-pair-$mode.log"
fi
