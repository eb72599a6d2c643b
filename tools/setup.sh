#!/usr/bin/env bash
# Installs every Debian package that the build, the tests and the demo need, makes sure that 32-bit Windows
# programs can run (Wine's 32-bit side, and QEMU's user-mode emulator where this machine cannot run 32-bit
# x86 code itself). Idempotent: apt is asked only when something is missing, and nothing is emulated where
# 32-bit code runs natively. The Wine prefixes are made by the tests and the demo themselves.
set -euo pipefail
export DEBIAN_FRONTEND=noninteractive

packages=(
  cmake ninja-build python3
  g++-mingw-w64-i686-win32 g++-mingw-w64-x86-64-posix binutils-mingw-w64 libz-mingw-w64-dev
  googletest
  clang libclang-rt-14-dev libfuzzer-14-dev zlib1g-dev
  wine wine64 wine32:i386
  xvfb xdotool imagemagick fonts-wqy-zenhei
  icoutils file
  openssl osslsigncode
  chromium
  libreoffice-calc-nogui python3-openpyxl gnumeric
)

install_missing() {
  local missing=() p
  for p in "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
  done
  if ((${#missing[@]})); then
    apt-get update -qq
    apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
  fi
}

# wine32 comes from the i386 architecture.
dpkg --print-foreign-architectures | grep -qx i386 || dpkg --add-architecture i386
install_missing "${packages[@]}"

# A 96-byte static i386 Linux program that exits with 42: does this machine run 32-bit x86 code?
probe=$(mktemp)
trap 'rm -f "$probe"' EXIT
printf '\177ELF\1\1\1\0\0\0\0\0\0\0\0\0\2\0\3\0\1\0\0\0\124\200\4\010\064\0\0\0\0\0\0\0\0\0\0\0\064\0\040\0\1\0\0\0\0\0\0\0\1\0\0\0\0\0\0\0\0\200\4\010\0\200\4\010\140\0\0\0\140\0\0\0\5\0\0\0\0\020\0\0\273\052\0\0\0\270\1\0\0\0\315\200' >"$probe"
chmod +x "$probe"
runs_32bit() { "$probe" 2>/dev/null; [[ $? == 42 ]]; }
if ! runs_32bit; then
  echo "setup: this machine cannot run 32-bit x86 programs itself; registering QEMU's emulator for them" >&2
  install_missing qemu-user-static
  binfmt=/proc/sys/fs/binfmt_misc
  [[ -e $binfmt/register ]] || mount -t binfmt_misc binfmt_misc "$binfmt" || true
  [[ -e $binfmt/qemu-i386 ]] ||
    echo ':qemu-i386:M::\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00:\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff:/usr/bin/qemu-i386-static:F' \
      >"$binfmt/register" || true
  if ! runs_32bit; then
    echo "setup: 32-bit x86 programs still cannot run: the kernel's ia32 emulation is off and the qemu-i386" >&2
    echo "setup: entry could not be registered in $binfmt (binfmt_misc needs root and a mountable" >&2
    echo "setup: /proc/sys/fs/binfmt_misc). The 32-bit program cannot be run or tested here." >&2
    exit 1
  fi
fi
