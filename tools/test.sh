#!/usr/bin/env bash
# Everything CI does: installs what is missing, then the CMake workflow `test`, which configures and builds
# the x86_64 test build and, inside it, the 32-bit program we ship, and runs every test under Wine.
# Exits non-zero when anything fails or no test ran.
set -euo pipefail
cd "$(dirname "$0")/.."

bash tools/setup.sh
cmake --workflow --preset test
