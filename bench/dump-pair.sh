#!/usr/bin/env bash
# The cost of one tick+frame pair through `trails dump`, the baseline's
# (commit 24c5995) against the current tree's, as issue 14 measures it: time
# the schedule s,t1500,f3 and the same schedule followed by PAIRS times t,f;
# the pair costs the difference over PAIRS, each schedule's time the best of
# RUNS runs, on one fixed seed; the dumps must be byte-identical to the
# baseline's.
#
#   bench/dump-pair.sh [--native | --wine] [--report FILE]
#
#   --native  (default) trails of each tree's native preset
#   --wine    trails.exe of each tree's windows preset, under Wine
#   --report  also writes the results as tab-separated lines (compare.py)
#
# Environment: SEED (default 1), RUNS (4), PAIRS (300), BASELINE_SRC, JOBS.
#
# Times are CPU time (user + system) of the trails process, so other work on
# the machine inflates them less than wall time; the runs of the two builds
# alternate, so what load remains falls on both alike. Both schedules pay
# for trails' start, set-up, warm-up and dump writing: the difference leaves
# the pairs alone. Every frame in trails also reads the glow texture back
# (a 2.3 MB copy) for the dump; that is part of the pair in both builds.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/trees.sh"

mode=native
report=
while [ $# -gt 0 ]; do
  case $1 in
    --native) mode=native ;;
    --wine) mode=wine ;;
    --report) report=$2; shift ;;
    *) say "usage: bench/dump-pair.sh [--native | --wine] [--report FILE]"; exit 2 ;;
  esac
  shift
done
seed=${SEED:-1}
runs=${RUNS:-4}
pairs=${PAIRS:-300}

ensure_baseline_source
if [ "$mode" = native ]; then
  preset=native
  program=tools/trails
else
  preset=windows
  program=tools/trails.exe
fi
ensure_built "$baseline_src" "$preset" trails
ensure_built "$root" "$preset" trails
declare -A trails=([baseline]=$baseline_src/build/$preset/$program [current]=$root/build/$preset/$program)

short=s,t1500,f3
long=$short
for _ in $(seq 1 "$pairs"); do long+=,t,f; done

work=$(mktemp -d "$root/build/dump-pair.XXXXXX")
trap 'rm -rf "$work"' EXIT

# run TREE SCHEDULE_NAME RUN: one dump; sets run_cpu and run_wall (seconds).
run() {
  local tree=$1 name=$2 run=$3 schedule
  if [ "$name" = short ]; then schedule=$short; else schedule=$long; fi
  local out=$work/$tree-$name.dump
  local command=("${trails[$tree]}" dump --seed "$seed" --schedule "$schedule" --out "$out")
  [ "$mode" = wine ] && command=(wine "${command[@]}")
  local times
  if ! times=$( { TIMEFORMAT='%R %U %S'; time "${command[@]}" >/dev/null 2>"$work/stderr"; } 2>&1 ); then
    say "$tree trails failed on the $name schedule:"
    cat "$work/stderr" >&2
    exit 1
  fi
  # Every run of a tree must write the same dump; keep the first to compare.
  if [ "$run" -eq 1 ]; then
    mv "$out" "$work/$tree-$name.first"
  elif ! cmp -s "$out" "$work/$tree-$name.first"; then
    say "$tree trails wrote a different dump in run $run of the $name schedule"
    exit 1
  fi
  read -r run_wall run_cpu <<<"$(awk '{ printf "%.3f %.3f\n", $1, $2 + $3 }' <<<"$times")"
}

body() {
  declare -A best_cpu best_wall
  echo "Tick+frame pair through trails dump ($mode): seed $seed, best of $runs runs, $pairs pairs"
  local turn=0
  for run_number in $(seq 1 "$runs"); do
    for name in short long; do
      # Alternate which tree goes first, so neither always runs second.
      local order=(baseline current)
      turn=$((turn + 1))
      [ $((turn % 2)) -eq 0 ] && order=(current baseline)
      for tree in "${order[@]}"; do
        run "$tree" "$name" "$run_number"
        local cpu=$run_cpu wall=$run_wall
        say "  run $run_number, $tree, $name schedule: cpu $cpu s, wall $wall s"
        local key=$tree-$name
        if [ -z "${best_cpu[$key]:-}" ] || awk "BEGIN { exit !($cpu < ${best_cpu[$key]}) }"; then
          best_cpu[$key]=$cpu
        fi
        if [ -z "${best_wall[$key]:-}" ] || awk "BEGIN { exit !($wall < ${best_wall[$key]}) }"; then
          best_wall[$key]=$wall
        fi
      done
    done
  done

  local dumps=identical
  for name in short long; do
    if ! cmp -s "$work/baseline-$name.first" "$work/current-$name.first"; then
      dumps=different
      echo "DUMPS DIFFER on the $name schedule: $(cmp "$work/baseline-$name.first" "$work/current-$name.first" | head -1)"
    fi
  done

  printf '%-10s %12s %12s %14s %14s\n' build "short (cpu)" "long (cpu)" "pair (cpu)" "pair (wall)"
  declare -A pair
  for tree in baseline current; do
    pair[$tree]=$(awk "BEGIN { printf \"%.9f\", (${best_cpu[$tree-long]} - ${best_cpu[$tree-short]}) / $pairs }")
    local pair_wall
    pair_wall=$(awk "BEGIN { printf \"%.9f\", (${best_wall[$tree-long]} - ${best_wall[$tree-short]}) / $pairs }")
    printf '%-10s %10.3f s %10.3f s %11.3f ms %11.3f ms\n' "$tree" "${best_cpu[$tree-short]}" \
      "${best_cpu[$tree-long]}" "$(awk "BEGIN { print ${pair[$tree]} * 1000 }")" \
      "$(awk "BEGIN { print $pair_wall * 1000 }")"
  done
  # A pair lost in the noise (a difference at or below zero) has no ratio:
  # more pairs or runs are needed.
  if awk "BEGIN { exit !(${pair[baseline]} > 0 && ${pair[current]} > 0) }"; then
    local ratio verdict=MISSED
    ratio=$(awk "BEGIN { printf \"%.3f\", ${pair[current]} / ${pair[baseline]} }")
    if [ "$dumps" = identical ] && awk "BEGIN { exit !($ratio <= 0.75) }"; then verdict=met; fi
    echo "current / baseline pair: $ratio (target <= 0.75: $verdict); dumps $dumps with the baseline's"
  else
    echo "current / baseline pair: not measurable, a pair cost came out at or below zero (noise: more PAIRS"
    echo "or RUNS); dumps $dumps with the baseline's"
  fi
  if [ "$mode" = wine ] && thirty_two_bit_emulated; then
    echo "NOTE: this machine runs 32-bit code only under QEMU user emulation: these times measure the"
    echo "emulator, not the scene. The dump comparison still holds."
  fi
  if [ -n "$report" ]; then
    {
      printf 'mode\t%s\n' "$mode"
      printf 'pair_seconds\tbaseline\t%s\n' "${pair[baseline]}"
      printf 'pair_seconds\tcurrent\t%s\n' "${pair[current]}"
      printf 'dumps\t%s\n' "$dumps"
    } >"$report"
  fi
  [ "$dumps" = identical ]
}

if [ "$mode" = wine ]; then
  # One Wine session (display, server) for every run, not one per run.
  export -f run body say thirty_two_bit_emulated
  export mode seed runs pairs short long work report
  export trails_baseline=${trails[baseline]} trails_current=${trails[current]}
  "$root/scripts/with-wine" bash -c 'declare -A trails=([baseline]=$trails_baseline [current]=$trails_current); body'
else
  body
fi
