#!/usr/bin/env bash
# Installs the Debian 12 packages Kestrova needs. Idempotent and non-interactive: packages
# already present are left alone; apt runs only when one is missing, with its output in
# build/packages.log (one line says so; a failure shows the end of it).
#   install-deps.sh run    what building and running Kestrova need
#   install-deps.sh test   that, plus what the tests, the fuzzers and the benchmarks need
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/quiet.sh

run_packages=(
    build-essential cmake ninja-build pkg-config
    libcurl4-openssl-dev libplist-dev qt6-base-dev libxcb1-dev libcpp-httplib-dev
)
test_packages=(
    libgtest-dev libgmock-dev libbenchmark-dev zlib1g-dev
    clang libclang-rt-14-dev curl wget aria2
    # desktop end-to-end tests: a display, a session bus and the tools a desktop would use
    xvfb xauth dbus dbus-x11 xclip xdotool x11-utils python3 python3-dbus python3-gi
    # the package's desktop file and metainfo are validated
    desktop-file-utils appstream
)

case "${1:-test}" in
    run) packages=("${run_packages[@]}") ;;
    test) packages=("${run_packages[@]}" "${test_packages[@]}") ;;
    *) echo "usage: $0 [run|test]" >&2; exit 2 ;;
esac

missing=()
for p in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
        missing+=("$p")
    fi
done

# Every menu title is Japanese: a machine without a Japanese font gets a small one.
if [ "${1:-test}" = run ] && ! fc-list :lang=ja 2>/dev/null | grep -q .; then
    missing+=(fonts-vlgothic)
fi

if [ ${#missing[@]} -eq 0 ]; then
    exit 0
fi

SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
export DEBIAN_FRONTEND=noninteractive
install_missing() {
    $SUDO apt-get update -q && $SUDO apt-get install -y -q --no-install-recommends "${missing[@]}"
}
phase "Installing packages: ${missing[*]}" build/packages.log install_missing
