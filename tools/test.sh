#!/usr/bin/env bash
# Everything CI does: installs what is missing, builds the product (32-bit) and the x86_64 build with its
# tests, and runs every test under Wine: first the x86_64 ones, then the cases that run the 32-bit program.
# Exits non-zero when anything fails or no test ran.
set -euo pipefail
cd "$(dirname "$0")/.."

bash tools/setup.sh
cmake --preset win32
cmake --build --preset win32
cmake --preset win64
cmake --build --preset win64
ctest --preset win64 --label-exclude win32
ctest --preset win64 --label-regex win32
