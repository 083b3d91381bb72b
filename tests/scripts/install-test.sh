#!/usr/bin/env bash
# trails installed as a desktop program: `cmake --install` into a temporary
# prefix, then `cpack -G DEB`, each checked for exactly the files a user
# needs (the program and its chaos-trails name, the XScreenSaver hack and its
# description, the menu entry, the manual page), links that lead to the
# program, and a program that runs from where it was put.
#
#   tests/scripts/install-test.sh BUILD_DIR
set -euo pipefail
build=$1
for tool in cpack dpkg-deb; do
  command -v "$tool" >/dev/null || { echo "install-test: $tool is not installed; skipped"; exit 77; }
done
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
fail() { echo "install-test: FAIL: $*"; failures=$((failures + 1)); }

expected="bin/chaos-trails
bin/trails
libexec/xscreensaver/chaos-trails
share/applications/chaos-trails.desktop
share/man/man1/trails.1
share/xscreensaver/config/chaos-trails.xml"

# --- cmake --install into a prefix of our own
prefix=$work/prefix
cmake --install "$build" --prefix "$prefix" >"$work/install.log"
installed=$(cd "$prefix" && find . ! -type d | sed 's|^\./||' | sort)
[ "$installed" = "$expected" ] || fail "cmake --install put: $(echo $installed), expected: $(echo $expected)"
for link in bin/chaos-trails libexec/xscreensaver/chaos-trails; do
  [ -L "$prefix/$link" ] || fail "$link is not a link"
  [ "$(readlink -f "$prefix/$link")" = "$(readlink -f "$prefix/bin/trails")" ] || fail "$link does not lead to bin/trails"
done
# Under its hack name the program is `trails view`, as XScreenSaver runs it.
# (Read whole before grep looks: grep -q leaving early would break the pipe.)
hack_help=$("$prefix/libexec/xscreensaver/chaos-trails" -help)
[[ $hack_help == "usage: trails view"* ]] || fail "the installed hack does not run as trails view"
view_help=$("$prefix/bin/trails" view --help)
[[ $view_help == *--wallpaper* ]] || fail "the installed trails knows no --wallpaper"
grep -q '^Exec=trails view$' "$prefix/share/applications/chaos-trails.desktop" || fail "the menu entry does not run trails view"
if command -v desktop-file-validate >/dev/null; then
  desktop-file-validate "$prefix/share/applications/chaos-trails.desktop" || fail "desktop-file-validate"
fi
if command -v groff >/dev/null; then
  warnings=$(groff -man -Tutf8 -ww -z "$prefix/share/man/man1/trails.1" 2>&1 || true)
  [ -z "$warnings" ] || fail "the manual page: $warnings"
fi

# --- cpack -G DEB: the same files under /usr
(cd "$build" && cpack -G DEB -B "$work/package" >"$work/cpack.log" 2>&1) || { cat "$work/cpack.log"; fail "cpack -G DEB"; }
deb=$(ls "$work"/package/*.deb 2>/dev/null | head -n 1)
if [ -z "$deb" ]; then
  fail "cpack made no .deb"
else
  listed=$(dpkg-deb -c "$deb" | awk '$1 !~ /^d/ { print $6 }' | sed 's|^\./usr/||' | sort)
  [ "$listed" = "$expected" ] || fail "the package holds: $(echo $listed), expected: $(echo $expected)"
  [ "$(dpkg-deb -f "$deb" Package)" = chaos-trails ] || fail "package name $(dpkg-deb -f "$deb" Package)"
  depends=$(dpkg-deb -f "$deb" Depends)
  for library in libsdl2 libwayland-client0 libegl1; do
    grep -q "$library" <<<"$depends" || fail "the package does not depend on $library: $depends"
  done
  contents=$(dpkg-deb -c "$deb")
  [[ $contents == *"usr/libexec/xscreensaver/chaos-trails -> ../../bin/trails"* ]] ||
    fail "the package's hack link does not lead to ../../bin/trails"
fi

if [ "$failures" -ne 0 ]; then
  echo "install-test: $failures failed"
  exit 1
fi
echo "install-test: cmake --install and the Debian package hold the $(wc -l <<<"$expected") files, as expected"
