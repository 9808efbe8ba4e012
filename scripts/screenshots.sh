#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Regenerates docs/screenshots/*.png under Xvfb at 96 dpi.
set -euo pipefail
cd "$(dirname "$0")/.."
command -v xvfb-run >/dev/null || { echo "needs xvfb (apt-get install xvfb xauth)"; exit 1; }
cmake -S . -B build -G Ninja >/dev/null
cmake --build build -j2 --target velmora_screenshots
QT_QPA_PLATFORM=xcb QT_FONT_DPI=96 xvfb-run -a -s "-screen 0 1024x768x24 -dpi 96" \
  ./build/tests/velmora_screenshots docs/screenshots
ls docs/screenshots
