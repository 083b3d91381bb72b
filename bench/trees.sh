# Shell functions shared by side-by-side.sh, dump-pair.sh and halo-study.sh
# (sourced, not run): where the two trees are and how their parts get built.
#
#   root          this checkout (the current tree)
#   baseline_src  the baseline's sources: $BASELINE_SRC, or by default a git
#                 worktree of commit 24c5995 in build/baseline-src, added on
#                 first use
#
# Each tree is built with its own CMake presets (build/native, build/windows
# inside it), and only the targets asked for.

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
baseline_commit=24c5995
baseline_src=${BASELINE_SRC:-$root/build/baseline-src}
jobs=${JOBS:-2}

say() { printf '%s\n' "$*" >&2; }

# Adds the baseline worktree when it is missing, and checks that whatever is
# there is that commit.
ensure_baseline_source() {
  if [ ! -e "$baseline_src/plugin/entry_points.h" ]; then
    if [ -n "${BASELINE_SRC:-}" ]; then
      say "BASELINE_SRC=$BASELINE_SRC holds no Chaos Trails tree"
      return 1
    fi
    say "adding a worktree of $baseline_commit in $baseline_src"
    git -C "$root" worktree add --detach "$baseline_src" "$baseline_commit" >&2
  fi
  local head
  head=$(git -C "$baseline_src" rev-parse HEAD)
  case $head in
    "$baseline_commit"*) ;;
    *) say "$baseline_src is at $head, not at $baseline_commit"; return 1 ;;
  esac
}

# ensure_built TREE PRESET TARGET...: configures the tree's preset when it has
# not been, then builds the targets (ninja does nothing when they are fresh).
ensure_built() {
  local tree=$1 preset=$2
  shift 2
  if [ ! -f "$tree/build/$preset/build.ninja" ]; then
    say "configuring $tree (preset $preset)"
    (cd "$tree" && cmake --preset "$preset" -G Ninja >/dev/null)
  fi
  (cd "$tree" && cmake --build --preset "$preset" -j "$jobs" --target "$@" >&2)
}

# The libraries (and trails) of a tree, for a preset.
ensure_tree_libraries() {
  local tree=$1 preset=$2
  local targets=(chaostrails_core chaostrails_softdevice trails)
  if [ -e "$tree/core/scene_state.h" ]; then
    targets+=(chaostrails_plugin)
  fi
  ensure_built "$tree" "$preset" "${targets[@]}"
}

# build_bench_against TREE PRESET OUT_DIR TARGET...: the programs of bench/
# built from this checkout's sources against TREE's libraries of PRESET.
build_bench_against() {
  local tree=$1 preset=$2 out=$3
  shift 3
  local toolchain=()
  if [ "$preset" = windows ]; then
    toolchain=(-DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-i686-w64-mingw32.cmake")
  fi
  if [ ! -f "$out/build.ninja" ]; then
    cmake -S "$root/bench/side-by-side" -B "$out" -G Ninja -DCMAKE_BUILD_TYPE=Release \
      -DCHAOSTRAILS_TREE="$tree" -DCHAOSTRAILS_TREE_BUILD="$tree/build/$preset" "${toolchain[@]}" >/dev/null
  fi
  cmake --build "$out" -j "$jobs" --target "$@" >&2
}

# True when 32-bit x86 code runs here only through QEMU's user emulation.
thirty_two_bit_emulated() {
  [ -e /proc/sys/fs/binfmt_misc/qemu-i386 ] && grep -q '^enabled' /proc/sys/fs/binfmt_misc/qemu-i386
}
