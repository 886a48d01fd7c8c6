#!/usr/bin/env bash
# Builds the Debian package from the release build (cpack -G DEB) and checks it: the desktop file
# and the AppStream metainfo pass their validators, the package holds the program, its desktop
# file, icon, metainfo and default lists, depends on the libraries the binary uses and recommends
# a Japanese font. One line says so (the validators' and the build's output are in
# build/package.log); the package's path is printed last.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/quiet.sh

build_package() {
    desktop-file-validate resources/kestrova.desktop &&
        appstreamcli validate --no-net resources/net.kestrova.Kestrova.metainfo.xml &&
        cmake --preset release && cmake --build --preset release -j "$(nproc)" &&
        (cd build/release && cpack -G DEB)
}
phase "Building the Debian package" build/package.log build_package || exit 1
package=$(ls -t build/release/kestrova_*.deb | head -n1)

contents=$(dpkg-deb -c "$package")
for file in usr/bin/kestrova usr/share/applications/kestrova.desktop \
    usr/share/icons/hicolor/scalable/apps/kestrova.svg \
    usr/share/metainfo/net.kestrova.Kestrova.metainfo.xml usr/share/kestrova/dlst.plist; do
    grep -q "\./$file\$" <<<"$contents" || { echo "package.sh: $file missing from $package"; exit 1; }
done
dpkg-deb -f "$package" Depends | grep -q libcurl || { echo "package.sh: no computed Depends"; exit 1; }
dpkg-deb -f "$package" Recommends | grep -q fonts-noto-cjk || { echo "package.sh: no font"; exit 1; }
echo "$package"
