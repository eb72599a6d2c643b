#!/usr/bin/env bash
# Runs one Windows program under 64-bit Wine in $WINEPREFIX (set by CTest for each test).
set -euo pipefail
: "${WINEPREFIX:?must name a prefix of this project}"
source "$(dirname "$0")/wine-env.sh"
exec wine "$@"
