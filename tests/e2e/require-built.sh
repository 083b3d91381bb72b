# Sourced by the end-to-end scripts. require_built FILE... ends the script
# with 77 (skipped) when one of the Windows build's files is missing, and
# require_wine when Wine cannot run here (scripts/with-wine --check says why;
# any other status from it fails the test).
require_built() {
  local f
  for f in "$@"; do
    if [ ! -f "$f" ]; then
      echo "skipped: $f not built (make windows)"
      exit 77
    fi
  done
}
require_wine() {
  "$(dirname "${BASH_SOURCE[0]}")/../../scripts/with-wine" --check || exit $?
}
