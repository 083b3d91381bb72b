#!/usr/bin/env bash
# Why the HaloArithmetic benchmark of 24c5995 did not measure the work of a
# frame's glow: builds halo_study (halo_study_baseline.cpp) against the
# baseline's native libraries and runs it; see that file for the variants.
#
#   bench/halo-study.sh [ARGUMENTS FOR GOOGLE BENCHMARK]
#
# By default every variant runs ten times, the runs of all variants shuffled
# together so that load falls on all alike, and keeps its least CPU time.
# Environment: BASELINE_SRC, JOBS (see trees.sh).
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/trees.sh"

ensure_baseline_source
ensure_tree_libraries "$baseline_src" native
out=$root/build/side-by-side/native-baseline
build_bench_against "$baseline_src" native "$out" halo_study
if [ $# -eq 0 ]; then
  set -- --benchmark_repetitions=10 --benchmark_enable_random_interleaving=true --benchmark_min_time=0.2
fi
"$out/halo_study" "$@"
