#!/usr/bin/env bash
# Installs every Debian package that the build, the tests and the demo need. Idempotent: packages that
# are already present are left alone, and apt is only asked when something is missing.
# Only the amd64 architecture is used: 64-bit Wine runs the x86_64 test build; the i686 product is
# compiled but never run here.
set -euo pipefail

packages=(
  cmake ninja-build python3
  g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix binutils-mingw-w64
  googletest
  wine wine64
  xvfb xdotool imagemagick fonts-wqy-zenhei
  icoutils file
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done

if ((${#missing[@]})); then
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

# The pristine Wine prefix that the tests copy; making one takes a while, so it is made once here.
"$(dirname "$0")/wine-prefix.sh" pristine "$(cd "$(dirname "$0")/.." && pwd)/build/win64/wine/pristine"
