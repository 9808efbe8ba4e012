#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Installs what is missing, builds Velmora and runs every test: once as
# built for users, once under AddressSanitizer and UndefinedBehaviorSanitizer.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/deps.sh
export QT_QPA_PLATFORM=offscreen

cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVELMORA_WERROR=ON >/dev/null
cmake --build build -j2
ctest --test-dir build --output-on-failure -j2
[ -n "${ESCARGOT_DIR:-}" ] && [ -n "${ESCARGOT_SHIM:-}" ] ||
  echo "test_escargot skipped: ESCARGOT_DIR and ESCARGOT_SHIM are not set (README, \"Against a real server\")"

if [ "${VELMORA_SKIP_SANITIZERS:-0}" != 1 ]; then
  cmake -S . -B build-sanitize -G Ninja -DCMAKE_BUILD_TYPE=Debug -DVELMORA_SANITIZE=ON -DVELMORA_WERROR=ON >/dev/null
  cmake --build build-sanitize -j2
  # Qt and fontconfig keep caches for the life of the process; leaks are
  # not what this run looks for.
  ASAN_OPTIONS=detect_leaks=0:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
    ctest --test-dir build-sanitize --output-on-failure -j2
fi
