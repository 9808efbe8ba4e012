#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Builds the Debian package velmora_<version>_amd64.deb into dist/ with CPack and checks it:
# its contents and dependencies, then lintian, desktop-file-validate and appstreamcli.
# Needs root or sudo the first time, to install the packaging tools.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/deps.sh

tools=(dpkg-dev lintian desktop-file-utils appstream)
missing=()
for p in "${tools[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  sudo=""
  [ "$(id -u)" -eq 0 ] || sudo="sudo"
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

# Debian's hardening flags, all of them; given each time, as CMake keeps the first ones it saw.
export DEB_BUILD_MAINT_OPTIONS=hardening=+all
cxxflags="$(dpkg-buildflags --get CXXFLAGS) $(dpkg-buildflags --get CPPFLAGS)"
ldflags=$(dpkg-buildflags --get LDFLAGS)
build=build-deb
rm -rf "$build/_CPack_Packages" "$build"/velmora_*.deb
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DVELMORA_WERROR=ON -DVELMORA_BUILD_TESTS=OFF \
  -DVELMORA_SYSTEM_INSTALL=ON -DCMAKE_INSTALL_PREFIX=/usr -DCMAKE_SKIP_INSTALL_ALL_DEPENDENCY=ON \
  -DCMAKE_CXX_FLAGS="$cxxflags" -DCMAKE_EXE_LINKER_FLAGS="$ldflags" >/dev/null
cmake --build "$build" -j2 --target velmora velmora_docs
(cd "$build" && cpack -G DEB >/dev/null)
mkdir -p dist
deb=$(ls "$build"/velmora_*_amd64.deb)
cp "$deb" dist/
deb=dist/$(basename "$deb")
echo "built $deb"

fail() { echo "FAIL: $*"; exit 1; }
contents=$(dpkg-deb --contents "$deb" | awk '{print $NF}')
for f in ./usr/bin/velmora ./usr/share/applications/velmora.desktop \
  ./usr/share/metainfo/com.example.Velmora.metainfo.xml ./usr/share/man/man1/velmora.1.gz \
  ./usr/share/icons/hicolor/48x48/apps/velmora.png ./usr/share/icons/hicolor/scalable/apps/velmora.svg \
  ./usr/share/doc/velmora/copyright ./usr/share/doc/velmora/changelog.gz; do
  grep -qx -- "$f" <<<"$contents" || fail "$f is not in the package"
done
# No contact folder of its own: each user's list goes to their data folder.
! grep -q '/data' <<<"$contents" || fail "the package ships a data folder"
depends=$(dpkg-deb --field "$deb" Depends)
for d in libqt6widgets6 libqt6keychain1 qt6-qpa-plugins qt6-wayland libqt6sql6-sqlite libsecret-1-0; do
  grep -q "$d" <<<"$depends" || fail "Depends lacks $d: $depends"
done
echo "contents and dependencies: ok"

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
dpkg-deb -x "$deb" "$tmp"
desktop-file-validate "$tmp/usr/share/applications/velmora.desktop"
echo "desktop-file-validate: ok"
appstreamcli validate --no-net "$tmp/usr/share/metainfo/com.example.Velmora.metainfo.xml"
lintian --fail-on error,warning --tag-display-limit 0 "$deb"
echo "lintian: ok"
