#!/bin/sh
# Builds the entry-point fuzzer (clang, libFuzzer, AddressSanitizer and
# UndefinedBehaviorSanitizer) into build/fuzz when needed and runs it for the
# given number of seconds on a copy of fuzz/corpus. Exits non-zero on any
# finding (crash, sanitizer report, leak, a violated check, an input slower
# than the timeout); the input that caused it is left in build/fuzz/findings,
# and build/fuzz/entry_points_fuzzer FILE runs that one input again.
#
#   fuzz/run-fuzz.sh SECONDS
set -eu

seconds=${1:?usage: fuzz/run-fuzz.sh SECONDS}
root=$(cd "$(dirname "$0")/.." && pwd)
build="$root/build/fuzz"
compiler=${CHAOSTRAILS_FUZZ_CXX:-clang++-14}
command -v "$compiler" >/dev/null 2>&1 || compiler=clang++

mkdir -p "$build"
log="$build/build.log"
if [ ! -f "$build/build.ninja" ]; then
    if ! cmake -S "$root/fuzz" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
        -DCMAKE_CXX_COMPILER="$compiler" >"$log" 2>&1; then
        cat "$log" >&2
        exit 1
    fi
fi
if ! cmake --build "$build" -j 2 >"$log" 2>&1; then
    cat "$log" >&2
    exit 1
fi

# The committed corpus stays as it is; new inputs go to the working copy.
work="$build/corpus-work"
findings="$build/findings"
rm -rf "$work"
mkdir -p "$work" "$findings"
cp "$root"/fuzz/corpus/* "$work/"

export ASAN_OPTIONS="${ASAN_OPTIONS:-abort_on_error=1:detect_leaks=1}"
export UBSAN_OPTIONS="${UBSAN_OPTIONS:-halt_on_error=1:print_stacktrace=1}"

# -timeout: one input must not take long (a frame is bounded work); the
# limits per input keep a normal one well under a second.
status=0
"$build/entry_points_fuzzer" -max_total_time="$seconds" -timeout=20 -rss_limit_mb=4096 -max_len=512 \
    -print_final_stats=1 -artifact_prefix="$findings/" "$work" || status=$?
if [ "$status" -ne 0 ]; then
    echo "run-fuzz.sh: the fuzzer found a fault (exit status $status); input in $findings" >&2
    exit 1
fi
echo "run-fuzz.sh: no finding in ${seconds} s"
