#!/bin/sh
# Runs one Windows program, 64-bit or 32-bit, under Wine in $WINEPREFIX. The 64-bit loader is started
# directly: Debian's `wine` wrapper would start the 32-bit loader first, which is emulated on machines that
# cannot run 32-bit code. (sh, not bash: bash warns when the caller's LC_ALL names no glibc locale.)
set -eu
: "${WINEPREFIX:?must name a prefix of this project}"
. "$(dirname "$0")/wine-env.sh"
exec /usr/lib/wine/wine64 "$@"
