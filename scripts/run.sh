#!/usr/bin/env bash
# Builds Kestrova (release) and runs it. Extra arguments go to kestrova, e.g. --headless.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh run
cmake --preset release >/dev/null
cmake --build --preset release --target kestrova
exec ./build/release/src/kestrova "$@"
