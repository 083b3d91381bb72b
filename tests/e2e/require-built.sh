# Sourced by the end-to-end scripts. require_built FILE... ends the script
# with 77 (skipped) when one of the Windows build's files is missing.
require_built() {
  local f
  for f in "$@"; do
    if [ ! -f "$f" ]; then
      echo "skipped: $f not built (make windows)"
      exit 77
    fi
  done
}
