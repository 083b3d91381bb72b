# Sourced by scripts/install-deps, scripts/install-wine-32bit and
# scripts/with-wine: the Wine package list, the ways we ask dpkg and apt, and
# the block that says the Windows checks under Wine are not run.
#
# Every command and path that reaches outside the checkout comes from a
# variable, so tests/scripts/install-deps-test.sh can run the set-up against
# stubs without touching the machine.
APT_GET=${APT_GET:-apt-get}
DPKG=${DPKG:-dpkg}
DPKG_QUERY=${DPKG_QUERY:-dpkg-query}
APT_SOURCES_DIR=${APT_SOURCES_DIR:-/etc/apt}
BINFMT_MISC=${BINFMT_MISC:-/proc/sys/fs/binfmt_misc}
OS_RELEASE=${OS_RELEASE:-/etc/os-release}
WINESERVER32=${WINESERVER32:-/usr/lib/wine/wineserver32}
QEMU_I386=${QEMU_I386:-qemu-i386-static}
# A mirror in the middle of a sync serves an index of the wrong size for a
# minute or two; a few tries a little apart usually get past it.
APT_UPDATE_TRIES=${APT_UPDATE_TRIES:-3}
APT_RETRY_PAUSE=${APT_RETRY_PAUSE:-20}
# Why the Wine step last failed, in one line; absent once it succeeds.
CHAOSTRAILS_WINE_STATUS=${CHAOSTRAILS_WINE_STATUS:-$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)/build/wine-step-failed}

# Everything built for this machine's own architecture (the first step of
# scripts/install-deps).
native_packages=(
  # build
  cmake ninja-build g++ make pkg-config git
  # unit tests and benchmarks; MPFR checks the exact functions and derives
  # their tables
  googletest libgtest-dev libgmock-dev libbenchmark-dev libmpfr-dev
  # trails render / view
  libpng-dev ffmpeg libsdl2-dev
  # the Windows DLL, tool and host
  g++-mingw-w64-i686 binutils-mingw-w64-i686
  # fuzzing and sanitizers
  clang libclang-rt-14-dev
  # virtual display for the window tests and Wine
  xvfb xauth x11-utils
  # reading pictures back in tests
  python3
  # trails view through OpenGL and into other X windows, and its tests
  # (Mesa's llvmpipe under Xvfb)
  libgl-dev libx11-dev libgl1-mesa-dri libglx-mesa0
  # trails view --wallpaper on Wayland (EGL, the layer shell's code made by
  # wayland-scanner), and its tests: a headless Sway, grim for its
  # screenshots, Weston as a compositor without a layer shell
  libwayland-dev libwayland-bin wayland-protocols libegl-dev libegl-mesa0 sway grim weston
  # the Debian package of trails (cpack -G DEB)
  dpkg-dev
)

# What scripts/with-wine needs: Debian's Wine (32-bit loader plus the 64-bit
# wineserver), Mesa for i386, and a virtual display; XComposite for i386 lets
# Wine draw OpenGL into another program's child window (the screensaver's
# preview). The i386 packages are the ones a mirror out of step can leave
# uninstallable.
wine_packages=(wine wine32:i386 wine64 libgl1:i386 libglx0:i386 libgl1-mesa-dri:i386
               libglx-mesa0:i386 libxcomposite1:i386 xvfb xauth x11-utils)

is_installed() { "$DPKG_QUERY" -W -f='${Status}' "$1" 2>/dev/null | grep -q 'install ok installed'; }

# missing_packages NAME...: prints those not installed, one a line.
missing_packages() {
  local p
  for p in "$@"; do
    is_installed "$p" || echo "$p"
  done
}

# apt_update: the package lists, tried APT_UPDATE_TRIES times. An index that
# still fails is reported in one line (left in apt_update_failure) and we go
# on with what apt has: one bad index must not keep every other package out.
apt_update_failure=""
apt_update() {
  local try log
  log=$(mktemp)
  for try in $(seq 1 "$APT_UPDATE_TRIES"); do
    if "$APT_GET" update -q >"$log" 2>&1; then
      rm -f "$log"
      apt_update_failure=""
      return 0
    fi
    if [ "$try" -lt "$APT_UPDATE_TRIES" ]; then
      echo "${0##*/}: apt-get update failed (try $try of $APT_UPDATE_TRIES); again in ${APT_RETRY_PAUSE} s"
      sleep "$APT_RETRY_PAUSE"
    fi
  done
  apt_update_failure=$(sed -n -E 's/^[EW]: Failed to fetch ([^ ]+).*/\1/p' "$log" | paste -sd ' ')
  [ -n "$apt_update_failure" ] || apt_update_failure=$(grep -m1 '^E: ' "$log" | sed 's/^E: //')
  [ -n "$apt_update_failure" ] || apt_update_failure="apt-get update failed"
  rm -f "$log"
  echo "${0##*/}: package index not downloaded, going on with what apt has: $apt_update_failure"
}

# apt_install [APT OPTION...] PACKAGE...: one transaction. On failure returns
# non-zero with apt's own words in apt_errors (its unmet dependencies and
# errors, one a line) and apt_reason (the gist in one line).
apt_errors="" apt_reason=""
apt_install() {
  local log status=0
  log=$(mktemp)
  DEBIAN_FRONTEND=noninteractive "$APT_GET" install -y -q --no-install-recommends "$@" >"$log" 2>&1 || status=$?
  if [ "$status" -eq 0 ]; then
    rm -f "$log"
    return 0
  fi
  apt_errors=$( { sed -n '/unmet dependencies:/,$p' "$log" | grep '^ ' ; grep '^E: ' "$log"; } |
                sed -E 's/^ +//; s/ +/ /g' || true)
  [ -n "$apt_errors" ] || apt_errors="apt-get install exited $status: $(tail -n 1 "$log")"
  # In one line the unmet dependencies say it; apt's closing error adds nothing.
  apt_reason=$(grep -v '^E: ' <<<"$apt_errors" || true)
  [ -n "$apt_reason" ] || apt_reason=$apt_errors
  apt_reason=$(awk 'NR > 1 { printf "; " } { printf "%s", $0 }' <<<"$apt_reason")
  if [ -n "$apt_update_failure" ]; then
    apt_reason+=" (package index not downloaded: $apt_update_failure)"
  fi
  rm -f "$log"
  return "$status"
}

has_i386() { "$DPKG" --print-foreign-architectures | grep -qx i386; }

# print_wine_block LINE: the one block that tells a reader the Windows checks
# under Wine did not run, and why; make check shows it first and last.
print_wine_block() {
  local rule='!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!'
  printf '\n%s\n!! %s\n' "$rule" "$1"
  printf '!! %s\n' \
    "Everything else is built and run, the Windows build and its export and" \
    "import table checks included; the tests that need Wine report as skipped." \
    "Once apt can install the Wine packages, run make check again."
  printf '%s\n\n' "$rule"
}
