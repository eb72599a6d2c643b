#!/usr/bin/env bash
# Builds the program we ship (the 32-bit preset) from scratch into build/release and prints its SHA-256.
# The build is reproducible: the same source gives the same bytes, so anyone can check that the exe they
# were handed is the one this source makes.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
bash "$root/tools/setup.sh" >&2
rm -rf "$root/build/release"
cmake -S "$root" --preset win32 -B "$root/build/release" >&2
cmake --build "$root/build/release" >&2
cd "$root/build/release" && sha256sum vestigia.exe
