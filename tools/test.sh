#!/usr/bin/env bash
# Everything CI does: installs what is missing, builds the product (32-bit, compiled only) and the
# x86_64 build, and runs every test under Wine. Exits non-zero when anything fails or no test ran.
set -euo pipefail
cd "$(dirname "$0")/.."

bash tools/setup.sh
cmake --preset win32
cmake --build --preset win32
cmake --workflow --preset test
