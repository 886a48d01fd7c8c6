#!/usr/bin/env bash
# Installs the Debian 12 packages Kestrova needs to build, run and test. Idempotent and
# non-interactive: packages already present are left alone; apt runs only when one is missing.
set -euo pipefail

packages=(
    # build
    build-essential cmake ninja-build pkg-config
    # libraries
    libcurl4-openssl-dev libplist-dev qt6-base-dev libxcb1-dev zlib1g-dev
    # tests, fuzzing and benchmarks
    libgtest-dev libgmock-dev libbenchmark-dev libcpp-httplib-dev clang libclang-rt-14-dev
    curl wget aria2
    # desktop end-to-end tests: a display, a session bus and the tools a desktop would use
    xvfb xauth dbus dbus-x11 xclip xdotool x11-utils python3 python3-dbus python3-gi
)

missing=()
for p in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
        missing+=("$p")
    fi
done

if [ ${#missing[@]} -eq 0 ]; then
    exit 0
fi

echo "Installing: ${missing[*]}"
SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
