#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Installs what building, running and testing Velmora need on Debian 12;
# does nothing when everything is there already.
set -euo pipefail

packages=(
  # build
  cmake ninja-build g++ qt6-base-dev qt6-base-dev-tools libgl-dev qtkeychain-qt6-dev
  # run and look: Qt's Wayland plugin and SQLite driver, Tahoma-metric and look-alike fonts
  qt6-wayland libqt6sql6-sqlite fonts-wine fonts-dejavu-core fonts-liberation
  # tests: a real messenger client on a private bus, and a local IRC server
  finch ngircd tmux dbus libglib2.0-bin
  # tests: a real keyring (Secret Service) on a private bus, and secret-tool to look into it
  gnome-keyring libsecret-tools
  # tests: a real Wayland compositor, run headless
  weston
  # tests: the desktop's own link handlers (xdg-mime, xdg-open)
  xdg-utils
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
echo "Installing: ${missing[*]}"
$sudo apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
