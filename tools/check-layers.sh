#!/usr/bin/env bash
# Includes run downwards: Applications/ and tools/ on top, then flash/, ec/
# and platform/; sim/ beside them. Fails, naming each line, when a file of
# ec/, flash/, platform/ or sim/ includes from Applications/ or tools/, or a
# file of platform/ includes from sim/.
#   tools/check-layers.sh [SOURCE_ROOT]
set -u
root=${1:-$(dirname "$0")/..}
cd "$root" || exit 2

bad=0
check() {  # folders, pattern, what it breaks
  local found
  found=$(grep -rEn --include='*.h' --include='*.cpp' "^[[:space:]]*#[[:space:]]*include[[:space:]]*[\"<]($2)/" $1 2>/dev/null)
  if [ -n "$found" ]; then
    echo "$3:"
    echo "$found"
    bad=1
  fi
}
check "ec flash platform sim" 'Applications|tools' "includes from above its layer"
check "platform" 'sim' "platform/ includes from the simulator"
exit $bad
