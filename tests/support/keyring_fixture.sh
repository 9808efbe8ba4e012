#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# A throwaway desktop keyring for tests: a private session bus (socket inside a temp dir) and
# gnome-keyring-daemon on it, serving the Secret Service with an unlocked "login" keyring whose
# files live in that dir too. Nothing of the user's own keyring or bus is touched.
#
#   keyring_fixture.sh start              print export lines for the fixture (see the end)
#   keyring_fixture.sh stop DIR           stop everything and remove DIR
#   keyring_fixture.sh stop-service DIR   stop the keyring daemon only; the bus stays
#   keyring_fixture.sh start-service DIR  start it again on the same bus and keyring files
#   keyring_fixture.sh freeze DIR         SIGSTOP the daemon: on the bus, answering nothing
#   keyring_fixture.sh thaw DIR           let it run again
#   keyring_fixture.sh lookup DIR ATTR VALUE...   secret-tool lookup on the fixture's bus
#
# Knobs: KEYRING_FIXTURE_OWNER_PID (stop by itself once that process is gone),
#   KEYRING_FIXTURE_MAX_SECONDS (stop by itself after this long; default 600),
#   KEYRING_FIXTURE_TIMEOUT (seconds for each wait; default 20).

set -u
TIMEOUT=${KEYRING_FIXTURE_TIMEOUT:-20}
SELF=$(readlink -f "${BASH_SOURCE[0]}")
SERVICE=org.freedesktop.secrets

say() { printf 'keyring_fixture: %s\n' "$*" >&2; }
# shellcheck source=private_bus.sh
. "$(dirname "$SELF")/private_bus.sh"

service_on_bus() { name_on_bus "$SERVICE"; }

start_service() {
    local i
    mkdir -p "$D/home" "$D/data" "$D/run" && chmod 700 "$D/run"
    # --unlock reads the keyring's password from stdin and makes the login keyring on first use.
    printf 'fixture' | env HOME="$D/home" XDG_DATA_HOME="$D/data" XDG_RUNTIME_DIR="$D/run" \
        DBUS_SESSION_BUS_ADDRESS="$BUS" gnome-keyring-daemon --foreground --unlock --components=secrets \
        >>"$D/keyring.log" 2>&1 &
    echo $! >"$D/keyring.pid"
    for ((i = 0; i < $(rounds); i++)); do
        service_on_bus && return 0
        alive "$(cat "$D/keyring.pid")" || break
        sleep 0.05
    done
    say "gnome-keyring-daemon did not come on the bus: $(cat "$D/keyring.log")"
    return 1
}

stop_service() {
    local i
    stop_pid "$D/keyring.pid"
    for ((i = 0; i < $(rounds); i++)); do
        service_on_bus || return 0
        sleep 0.05
    done
    say "the Secret Service stayed on the bus"
    return 1
}

stop_all() {
    [ -n "$D" ] && [ -d "$D" ] || return 0
    stop_pid "$D/keyring.pid"
    stop_pid "$D/dbus.pid"
    stop_pid "$D/watchdog.pid"
    rm -rf "$D"
}

start() {
    local t
    for t in dbus-daemon gdbus gnome-keyring-daemon secret-tool setsid; do
        command -v "$t" >/dev/null || { say "$t is not installed"; return 1; }
    done
    D=$(mktemp -d "${TMPDIR:-/tmp}/velmora-keyring.XXXXXX") || return 1
    local deadline=$(($(date +%s) + ${KEYRING_FIXTURE_MAX_SECONDS:-600}))
    setsid bash "$SELF" watch "$D" "${KEYRING_FIXTURE_OWNER_PID:-}" "$deadline" </dev/null >/dev/null 2>&1 &
    start_bus || return 1
    printf 'BUS=%q\n' "$BUS" >"$D/fixture.env"
    start_service
}

D=
case ${1:-} in
start)
    if start; then
        echo "export DBUS_SESSION_BUS_ADDRESS=$(quote "$BUS")"
        echo "export KEYRING_FIXTURE_DIR=$(quote "$D")"
    else
        stop_all
        exit 1
    fi
    ;;
stop) D=${2:?usage: $0 stop DIR}; stop_all ;;
stop-service) load "${2:?}" && stop_service ;;
start-service) load "${2:?}" && start_service ;;
freeze) load "${2:?}" && kill -STOP "$(cat "$D/keyring.pid")" ;;
thaw) load "${2:?}" && kill -CONT "$(cat "$D/keyring.pid")" ;;
lookup) load "${2:?}" && shift 2 && DBUS_SESSION_BUS_ADDRESS=$BUS timeout 10 secret-tool lookup "$@" ;;
watch) watch "${2:?}" "${3:-}" "${4:?}" ;;
*)
    echo "usage: $0 start | stop DIR | {stop,start}-service DIR | freeze DIR | thaw DIR | lookup DIR ATTR VALUE..." >&2
    exit 2
    ;;
esac
