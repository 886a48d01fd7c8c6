#!/usr/bin/env bash
# Builds Kestrova (release) and runs it. Extra arguments go to kestrova, e.g. --headless.
# One line per phase; the packages' and the build's output are kept in build/packages.log and
# build/run-build.log.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/quiet.sh
bash scripts/install-deps.sh run
build() { cmake --preset release && cmake --build --preset release --target kestrova; }
what="Building Kestrova"
[ -x build/release/src/kestrova ] || what+=", about a minute on two cores"
phase "$what" build/run-build.log build || exit 1
echo "Starting…"
exec ./build/release/src/kestrova "$@"
