#!/usr/bin/env bash
# scripts/install-deps (with scripts/install-wine-32bit and the probe in
# scripts/with-wine) run against stand-ins for apt-get, dpkg, dpkg-query,
# QEMU and the 32-bit wineserver, with apt's sources, binfmt_misc and the
# Wine status file in a scratch directory. Each case is a made-up machine: what
# is installed, which index the mirror serves wrong, which packages apt
# cannot install, whether the kernel runs 32-bit code. Nothing here changes
# the real machine or uses the network: the real apt-get, dpkg, dpkg-query
# and mount are shadowed on PATH by guards that record any call that gets
# past the variables.
set -uo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
work=$(mktemp -d "${TMPDIR:-/tmp}/chaostrails-setup.XXXXXX")
trap '[ -n "${KEEP:-}" ] || rm -rf "$work"' EXIT
failures=0
fail() { echo "FAIL [$case]: $*"; failures=$((failures + 1)); }
case=""

# --- the stand-ins; each reads and writes the machine in $MACHINE ---------
stubs=$work/stubs guard=$work/guard
mkdir -p "$stubs" "$guard"

cat >"$stubs/apt-get" <<'EOF'
#!/usr/bin/env bash
m=$MACHINE
echo "apt-get $*" >>"$m/calls"
case $1 in
  update)
    # A mirror in mid-sync: the next few updates fail, or (bad-index) every
    # update that includes the i386 security index does.
    failures=$(cat "$m/update-failures" 2>/dev/null || echo 0)
    if [ "$failures" -gt 0 ] || { [ -f "$m/bad-index" ] && grep -qx i386 "$m/archs"; }; then
      [ "$failures" -gt 0 ] && echo $((failures - 1)) >"$m/update-failures"
      echo "Hit:1 http://deb.debian.org/debian bookworm InRelease"
      echo "E: Failed to fetch http://deb.debian.org/debian-security/dists/bookworm-security/main/binary-i386/Packages.xz  File has unexpected size (374820 != 376004). Mirror sync in progress? [IP: 192.0.2.1 80]"
      echo "E: Some index files failed to download. They have been ignored, or old ones used instead."
      exit 100
    fi
    exit 0 ;;
  install)
    shift
    packages=()
    while [ $# -gt 0 ]; do
      case $1 in
        -t) shift ;;
        -*) ;;
        *) packages+=("$1") ;;
      esac
      shift
    done
    for p in "${packages[@]}"; do
      if [[ $p == *:i386 ]] && ! grep -qx i386 "$m/archs"; then
        echo "E: Unable to locate package $p"
        exit 100
      fi
    done
    unmet=""
    for p in "${packages[@]}"; do
      why=$(sed -n "s/^$p //p" "$m/uninstallable")
      [ -z "$why" ] || unmet+=" $p : $why"$'\n'
    done
    if [ -n "$unmet" ]; then
      echo "Some packages could not be installed. This may mean that you have"
      echo "requested an impossible situation or if you are using the unstable"
      echo "distribution that some required packages have not yet been created"
      echo "or been moved out of Incoming."
      echo "The following information may help to resolve the situation:"
      echo
      echo "The following packages have unmet dependencies:"
      printf '%s' "$unmet"
      echo "E: Error, pkgProblemResolver::Resolve generated breaks, this may be caused by held packages."
      exit 100
    fi
    printf '%s\n' "${packages[@]}" >>"$m/installed"
    if printf '%s\n' "${packages[@]}" | grep -qx qemu-user-static; then
      printf '#!/bin/sh\necho "qemu-i386 version 10.0.2 (Debian 1:10.0.2+ds-1~bpo12+1)"\n' >"$m/bin/qemu-i386-static"
      chmod +x "$m/bin/qemu-i386-static"
    fi
    exit 0 ;;
esac
echo "apt-get stand-in: unexpected command $*" >&2
exit 2
EOF

cat >"$stubs/dpkg" <<'EOF'
#!/usr/bin/env bash
echo "dpkg $*" >>"$MACHINE/calls"
case $1 in
  --print-foreign-architectures) cat "$MACHINE/archs" ;;
  --add-architecture) echo "$2" >>"$MACHINE/archs" ;;
  *) echo "dpkg stand-in: unexpected command $*" >&2; exit 2 ;;
esac
EOF

cat >"$stubs/dpkg-query" <<'EOF'
#!/usr/bin/env bash
# dpkg-query -W -f='${Status}' PACKAGE
package=${!#}
if grep -qxF "$package" "$MACHINE/installed"; then
  printf 'install ok installed'
else
  echo "dpkg-query: no packages found matching $package" >&2
  exit 1
fi
EOF

# Runs when wine32 is installed and either the kernel runs 32-bit code or
# binfmt_misc hands it to a QEMU: an enabled entry, or one just registered.
cat >"$stubs/wineserver32" <<'EOF'
#!/usr/bin/env bash
m=$MACHINE
grep -qx wine32:i386 "$m/installed" || exit 127
[ -f "$m/native32" ] && exit 0
grep -q ':qemu-i386:' "$m/binfmt/register" && exit 0
[ -f "$m/binfmt/qemu-i386" ] && [ "$(head -1 "$m/binfmt/qemu-i386")" = enabled ] && exit 0
exit 1
EOF

for tool in apt-get dpkg dpkg-query mount; do
  printf '#!/bin/sh\necho "%s $*" >>"%s/escaped"\nexit 99\n' "$tool" "$work" >"$guard/$tool"
done
# Root, as far as the scripts can tell; nothing they reach is real.
printf '#!/bin/sh\n[ "$1" = -u ] && echo 0 || exec /usr/bin/id "$@"\n' >"$guard/id"
chmod +x "$stubs"/* "$guard"/*

# The package lists the scripts install, from the scripts themselves.
all_native=($(bash -c 'source "$1"; printf "%s\n" "${native_packages[@]}"' - "$root/scripts/setup-lib.sh"))
all_wine=($(bash -c 'source "$1"; printf "%s\n" "${wine_packages[@]}"' - "$root/scripts/setup-lib.sh" | grep ':i386$\|^wine'))

# new_machine NAME: nothing installed, no foreign architecture, a kernel that
# runs 32-bit code, apt sources naming a main and a security mirror.
new_machine() {
  case=$1
  m=$work/$1
  mkdir -p "$m/bin" "$m/binfmt" "$m/apt/sources.list.d"
  : >"$m/installed"; : >"$m/archs"; : >"$m/uninstallable"; : >"$m/calls"
  : >"$m/binfmt/register"
  touch "$m/native32"
  printf 'ID=debian\nVERSION_CODENAME=bookworm\n' >"$m/os-release"
  cat >"$m/apt/sources.list.d/debian.sources" <<'EOF'
Types: deb
URIs: http://mirror.example/debian-security
Suites: bookworm-security

Types: deb
URIs: http://mirror.example/debian
Suites: bookworm bookworm-updates
EOF
}
provisioned() { printf '%s\n' "${all_native[@]}" "${all_wine[@]}" >>"$m/installed"; echo i386 >"$m/archs"; }
no_native32() { rm -f "$m/native32"; }

# run SCRIPT [ARG...]: one of the scripts on the current machine; output in
# $m/out, exit status in $m/rc.
run() {
  local script=$1
  shift
  env MACHINE="$m" PATH="$guard:$PATH" \
    APT_GET="$stubs/apt-get" DPKG="$stubs/dpkg" DPKG_QUERY="$stubs/dpkg-query" \
    APT_SOURCES_DIR="$m/apt" BINFMT_MISC="$m/binfmt" OS_RELEASE="$m/os-release" \
    WINESERVER32="$stubs/wineserver32" QEMU_I386="$m/bin/qemu-i386-static" \
    CHAOSTRAILS_WINE_STATUS="$m/wine-status" APT_RETRY_PAUSE=0 APT_UPDATE_TRIES=3 TMPDIR="$work" \
    "$root/scripts/$script" "$@" >"$m/out" 2>&1
  echo $? >"$m/rc"
}

expect_rc() { [ "$(cat "$m/rc")" = "$1" ] || fail "exit status $(cat "$m/rc"), expected $1; output:"$'\n'"$(cat "$m/out")"; }
expect_nonzero() { [ "$(cat "$m/rc")" != 0 ] || fail "exit status 0, expected a failure"; }
expect_out() { grep -qF -- "$1" "$m/out" || fail "output lacks '$1'"; }
expect_no_out() { ! grep -qF -- "$1" "$m/out" || fail "output has '$1'"; }
count_out() { grep -cF -- "$1" "$m/out"; }
expect_installed() { local p; for p; do grep -qxF "$p" "$m/installed" || fail "$p not installed"; done; }
expect_not_installed() { local p; for p; do ! grep -qxF "$p" "$m/installed" || fail "$p installed"; done; }
count_calls() { grep -c -- "$1" "$m/calls"; }
# wine_check STATUS [TEXT...]: with-wine --check exits with STATUS and says each TEXT.
wine_check() { run with-wine --check; expect_rc "$1"; shift; local t; for t; do expect_out "$t"; done; }
install_calls() { grep '^apt-get install' "$m/calls"; }

# The native packages and the Wine packages never share a transaction, and
# the native ones go in before the i386 architecture is added.
expect_two_steps() {
  local first
  first=$(grep -n -m1 '^apt-get install' "$m/calls" | cut -d: -f1)
  local line p
  while read -r line; do
    [[ $line == *:i386* ]] || continue
    for p in "${all_native[@]}"; do
      if [[ " $line " == *" $p "* ]]; then fail "$p shares a transaction with i386 packages: $line"; fi
    done
  done < <(install_calls)
  if grep -q -- '--add-architecture' "$m/calls" &&
     [ "$(grep -n -m1 -- '--add-architecture' "$m/calls" | cut -d: -f1)" -lt "${first:-0}" ]; then
    fail "i386 added before the native packages were installed"
  fi
}

# --- everything available: both steps, nothing reported --------------------
new_machine all-available
run install-deps
expect_rc 0
expect_installed "${all_native[@]}" "${all_wine[@]}"
expect_two_steps
[ "$(cat "$m/archs")" = i386 ] || fail "i386 not added"
expect_no_out "not run"
[ ! -e "$m/wine-status" ] || fail "a Wine failure recorded"
[ ! -s "$m/binfmt/register" ] || fail "QEMU registered on a kernel that runs 32-bit code"
[ "$(count_calls '^apt-get install')" = 2 ] || fail "$(count_calls '^apt-get install') install transactions, expected 2"
wine_check 0

# --- the mirror out of step: the i386 security index fails, and the i386
# twins of installed libraries are not installable ---------------------------
new_machine mirror-out-of-step
touch "$m/bad-index"
echo 'wine32:i386 Depends: libexpat1:i386 (>= 2.1~beta3) but it is not installable' >"$m/uninstallable"
run install-deps
expect_rc 0
expect_installed "${all_native[@]}"
expect_not_installed wine32:i386
expect_two_steps
# Step 1 updates before i386 exists; step 2 tries three times, then says so
# in one line and still tries to install.
[ "$(count_calls '^apt-get update')" = 4 ] || fail "$(count_calls '^apt-get update') updates, expected 1 + 3 tries"
[ "$(count_out 'package index not downloaded, going on with what apt has')" = 1 ] || fail "the failed index is not reported in one line"
expect_out 'binary-i386/Packages.xz'
[ "$(count_out 'Windows checks under Wine not run: ')" = 1 ] || fail "no single Wine block"
expect_out 'libexpat1:i386 (>= 2.1~beta3) but it is not installable'
grep -q 'wine32:i386.*libexpat1:i386.*not installable' "$m/wine-status" 2>/dev/null ||
  fail "Wine status does not hold apt's reason: $(cat "$m/wine-status" 2>/dev/null)"
[ "$(wc -l <"$m/wine-status")" = 1 ] || fail "Wine status is not one line"
wine_check 77 "Windows checks under Wine not run: apt-get could not install" "libexpat1:i386"
run with-wine true
expect_rc 77
# The mirror catches up: the next run installs Wine and forgets the failure.
rm -f "$m/bad-index"; : >"$m/uninstallable"
run install-deps
expect_rc 0
expect_installed "${all_wine[@]}"
[ ! -e "$m/wine-status" ] || fail "the old Wine failure is still recorded"
expect_no_out "not run"
wine_check 0

# --- a native package that cannot be installed stops the run ---------------
new_machine native-unavailable
echo 'libsdl2-dev Depends: libdecor-0-dev but it is not going to be installed' >"$m/uninstallable"
run install-deps
expect_nonzero
expect_out "cannot install what the build needs"
expect_out "libsdl2-dev : Depends: libdecor-0-dev but it is not going to be installed"
expect_out "pkgProblemResolver::Resolve generated breaks"
grep -q -- '--add-architecture\|apt-get install.*wine' "$m/calls" && fail "went on to the Wine step"
# Wine was never installed, and with no recorded reason the probe says what is missing.
wine_check 77 "Windows checks under Wine not run: not installed: wine wine32:i386"

# --- i386 already added and its index failing must not stop the native step --
new_machine i386-already-there
echo i386 >"$m/archs"
touch "$m/bad-index"
run install-deps
expect_rc 0
expect_installed "${all_native[@]}" "${all_wine[@]}"
expect_out 'package index not downloaded'
expect_no_out "not run"

# --- a mirror that recovers on the second try: no complaint ------------------
new_machine update-retried
echo 1 >"$m/update-failures"
provisioned
sed -i '/^ffmpeg$/d' "$m/installed"
run install-deps
expect_rc 0
expect_installed ffmpeg
[ "$(count_calls '^apt-get update')" = 2 ] || fail "$(count_calls '^apt-get update') updates, expected 2"
expect_out "apt-get update failed (try 1 of 3)"
expect_no_out "package index not downloaded"

# --- the QEMU fallback cannot be installed ---------------------------------
new_machine qemu-unavailable
provisioned
no_native32
echo 'qemu-user-static Depends: libc6 (>= 2.38) but 2.36-9+deb12u10 is to be installed' >"$m/uninstallable"
run install-deps
expect_rc 0
grep -q 'apt-get install.*-t bookworm-backports qemu-user-static' "$m/calls" || fail "QEMU not asked for from bookworm-backports"
[ "$(cat "$m/apt/sources.list.d/chaostrails-backports.list" 2>/dev/null)" = "deb http://mirror.example/debian bookworm-backports main" ] ||
  fail "backports list: $(cat "$m/apt/sources.list.d/chaostrails-backports.list" 2>/dev/null)"
[ "$(count_out 'Windows checks under Wine not run: ')" = 1 ] || fail "no single Wine block"
expect_out "qemu-user-static"
grep -q 'qemu-user-static.*libc6' "$m/wine-status" 2>/dev/null || fail "Wine status: $(cat "$m/wine-status" 2>/dev/null)"
wine_check 77 "qemu-user-static from bookworm-backports"
# Run on its own, the script fails with the same reason.
run install-wine-32bit
expect_rc 1
expect_out "install-wine-32bit: apt-get could not install qemu-user-static"

# --- the QEMU fallback installs and is registered ---------------------------
new_machine qemu-installed
provisioned
no_native32
echo "apt-get could not install qemu-user-static: from an earlier run" >"$m/wine-status"
run install-deps
expect_rc 0
grep -q ":qemu-i386:M::.*:$m/bin/qemu-i386-static:POF" "$m/binfmt/register" || fail "QEMU not registered: $(cat "$m/binfmt/register")"
expect_out "32-bit binaries run through $m/bin/qemu-i386-static"
[ ! -e "$m/wine-status" ] || fail "the old Wine failure is still recorded"
expect_no_out "not run"

# --- already set up: nothing is asked of apt, nothing is written -------------
new_machine already-set-up
provisioned
no_native32
printf '#!/bin/sh\necho "qemu-i386 version 10.0.2"\n' >"$m/bin/qemu-i386-static"
chmod +x "$m/bin/qemu-i386-static"
printf 'enabled\ninterpreter %s\nflags: POF\n' "$m/bin/qemu-i386-static" >"$m/binfmt/qemu-i386"
cp "$m/binfmt/qemu-i386" "$work/entry-before"
run install-deps
expect_rc 0
grep -q '^apt-get\|--add-architecture' "$m/calls" && fail "apt or dpkg asked to change something: $(cat "$m/calls")"
[ ! -s "$m/binfmt/register" ] || fail "QEMU registered again"
cmp -s "$m/binfmt/qemu-i386" "$work/entry-before" || fail "the live binfmt_misc entry was touched"
[ ! -s "$m/out" ] || fail "output on a machine with nothing to do: $(cat "$m/out")"

case=guard
if [ -e "$work/escaped" ]; then
  fail "reached the real tools: $(cat "$work/escaped")"
fi
if [ "$failures" -eq 0 ]; then echo "install-deps: all cases passed"; fi
exit $((failures > 0))
