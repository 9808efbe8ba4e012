#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# A per-user style install into a temporary prefix gives a program folder with
# a writable data/ beside the program, a launcher on PATH that finds it, a
# desktop entry and the icon.
set -euo pipefail
build=$1
prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT
cmake --install "$build" --prefix "$prefix" >/dev/null
fail() { echo "FAIL: $*"; exit 1; }
prog=$(find "$prefix" -type f -name velmora -path '*/velmora/velmora')
[ -x "$prog" ] || fail "no program in its own folder"
[ -d "$(dirname "$prog")/data" ] && [ -w "$(dirname "$prog")/data" ] || fail "no writable data/ beside the program"
[ -x "$prefix/bin/velmora" ] || fail "no launcher"
grep -q "^Exec=velmora$" "$prefix/share/applications/velmora.desktop" || fail "desktop entry"
[ -f "$prefix/share/icons/hicolor/32x32/apps/velmora.png" ] || fail "icon"
# The launcher must reach the program also through a symlink elsewhere on PATH.
mkdir "$prefix/elsewhere" && ln -s "$prefix/bin/velmora" "$prefix/elsewhere/velmora"
target=$(sed -n 's/^exec "\$(dirname "\$(readlink -f "\$0")")\/\.\.\/\(.*\)" "\$@"$/\1/p' "$prefix/bin/velmora")
[ -x "$prefix/$target" ] || fail "launcher points at $target"
echo "1 passed, 0 failed"
