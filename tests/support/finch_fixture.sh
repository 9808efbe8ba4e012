#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# A throwaway libpurple client for tests, reachable on loopback only:
#   a private session bus (socket inside a temp dir), ngircd on 127.0.0.1 at a free port,
#   an IRC peer "buddy" that answers PING and logs what it hears, and finch with one
#   prpl-irc account and that buddy in its list, running in its own tmux (finch wants a tty).
#
#   finch_fixture.sh start              print export lines for the fixture (see the end)
#   finch_fixture.sh stop DIR           stop everything and remove DIR
#   finch_fixture.sh stop-client DIR    stop finch only; the bus, server and buddy stay
#   finch_fixture.sh start-client DIR   start finch again on the same bus
#   finch_fixture.sh freeze-client DIR  SIGSTOP finch: on the bus, but answering nothing
#   finch_fixture.sh thaw-client DIR    let it run again
#
# Knobs: PURPLE_FIXTURE_BASE (parent of the temp dir; default $TMPDIR or /tmp),
#   PURPLE_FIXTURE_TIMEOUT (seconds for each wait; default 20),
#   PURPLE_FIXTURE_OWNER_PID (stop by itself once that process is gone),
#   PURPLE_FIXTURE_MAX_SECONDS (stop by itself after this long; default 900),
#   PURPLE_FIXTURE_KEEP=1 (leave the dir and its logs behind on stop).
#
# finch starts with -n: every account offline until someone activates an online saved status.

set -u
PATH=$PATH:/usr/sbin:/sbin # ngircd lives there, off an ordinary user's PATH

NICK=fixtureme
BUDDY=buddy
TIMEOUT=${PURPLE_FIXTURE_TIMEOUT:-20}
SELF=$(readlink -f "${BASH_SOURCE[0]}")

say() { printf 'finch_fixture: %s\n' "$*" >&2; }
# shellcheck source=private_bus.sh
. "$(dirname "$SELF")/private_bus.sh"

port_open() { (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null; }

purple() { # Method [args...]
    local m=$1
    shift
    bus_call im.pidgin.purple.PurpleService /im/pidgin/purple/PurpleObject \
        "im.pidgin.purple.PurpleInterface.$m" "$@"
}

purple_on_bus() { name_on_bus im.pidgin.purple.PurpleService; }

start_ircd() {
    local try i
    for ((try = 0; try < 5; try++)); do
        PORT=$((20000 + RANDOM % 30000))
        port_open "$PORT" && continue
        cat >"$D/ngircd.conf" <<EOF
[Global]
Name = irc.fixture.test
Info = Velmora test server
AdminInfo1 = test
AdminInfo2 = test
AdminEMail = test@localhost
Listen = 127.0.0.1
Ports = $PORT
MotdPhrase = test server
[Options]
PAM = no
Ident = no
DNS = no
IncludeDir = $D/ircd.d
[Limits]
MaxNickLength = 30
EOF
        ngircd --nodaemon --config "$D/ngircd.conf" </dev/null >"$D/ngircd.log" 2>&1 &
        echo $! >"$D/ngircd.pid"
        for ((i = 0; i < $(rounds); i++)); do
            port_open "$PORT" && return 0
            alive "$(cat "$D/ngircd.pid")" || break
            sleep 0.05
        done
        stop_pid "$D/ngircd.pid" # most likely lost the port to someone else; try another
    done
    say "ngircd did not listen: $(cat "$D/ngircd.log")"
    return 1
}

start_buddy() {
    (
        exec 3<>"/dev/tcp/127.0.0.1/$PORT" || exit 1
        printf 'NICK %s\r\nUSER %s 0 * :Buddy\r\n' "$BUDDY" "$BUDDY" >&3
        while IFS= read -r line <&3; do
            line=${line%$'\r'}
            printf '%s\n' "$line"
            case $line in PING*) printf 'PONG %s\r\n' "${line#PING }" >&3 ;; esac
        done
    ) </dev/null >"$D/buddy.log" 2>&1 &
    echo $! >"$D/buddy.pid"
    # Until it is registered, a WHOIS or a message for it would find no one.
    local i
    for ((i = 0; i < $(rounds); i++)); do
        grep -q " 001 $BUDDY " "$D/buddy.log" 2>/dev/null && return 0
        sleep 0.05
    done
    say "the IRC peer did not register: $(cat "$D/buddy.log")"
    return 1
}

write_purple_config() {
    mkdir -p "$D/purple" "$D/home" && chmod 700 "$D/purple"
    cat >"$D/purple/accounts.xml" <<EOF
<?xml version='1.0' encoding='UTF-8' ?>
<account version='1.0'>
 <account>
  <protocol>prpl-irc</protocol>
  <name>$ACCOUNT</name>
  <alias>Fixture Me</alias>
  <settings>
   <setting name='port' type='int'>$PORT</setting>
   <setting name='ssl' type='bool'>0</setting>
   <setting name='encoding' type='string'>UTF-8</setting>
   <setting name='realname' type='string'>Fixture Me</setting>
  </settings>
  <settings ui='gnt-purple'>
   <setting name='auto-login' type='bool'>1</setting>
  </settings>
 </account>
</account>
EOF
    cat >"$D/purple/blist.xml" <<EOF
<?xml version='1.0' encoding='UTF-8' ?>
<purple version='1.0'>
 <blist>
  <group name='Buddies'>
   <contact>
    <buddy account='$ACCOUNT' proto='prpl-irc'>
     <name>$BUDDY</name>
     <alias>Buddy</alias>
    </buddy>
   </contact>
  </group>
 </blist>
</purple>
EOF
}

start_client() {
    local i p
    env -u TMUX tmux -S "$D/tmux.sock" -f /dev/null new-session -d -x 132 -y 43 -s finch \
        "exec env HOME='$D/home' DBUS_SESSION_BUS_ADDRESS='$BUS' TERM=xterm \
         finch -n -c '$D/purple' --debug 2>>'$D/finch.log'" || { say "tmux failed"; return 1; }
    env -u TMUX tmux -S "$D/tmux.sock" display-message -p -t finch '#{pane_pid}' >"$D/finch.pid"
    p=$(cat "$D/finch.pid")
    for ((i = 0; i < $(rounds); i++)); do
        purple PurpleAccountsGetAll >/dev/null 2>&1 && return 0
        alive "$p" || break
        sleep 0.05
    done
    say "finch did not answer on the bus; its log: $(tail -n 20 "$D/finch.log" 2>/dev/null)"
    return 1
}

# tmux wakes a pane's process that stops, so its server is held first.
freeze_client() {
    local i p
    p=$(cat "$D/finch.pid" 2>/dev/null)
    alive "$p" || { say "finch is not running"; return 1; }
    env -u TMUX tmux -S "$D/tmux.sock" display-message -p '#{pid}' >"$D/tmux.pid" || return 1
    kill -STOP "$(cat "$D/tmux.pid")" && kill -STOP "$p" || return 1
    for ((i = 0; i < $(rounds); i++)); do
        [ "$(sed 's/^.*) //; s/ .*//' "/proc/$p/stat" 2>/dev/null)" = T ] && return 0
        sleep 0.05
    done
    say "finch did not stop"
    return 1
}

thaw_client() {
    [ -s "$D/finch.pid" ] && kill -CONT "$(cat "$D/finch.pid")" 2>/dev/null
    [ -s "$D/tmux.pid" ] && kill -CONT "$(cat "$D/tmux.pid")" 2>/dev/null
    rm -f "$D/tmux.pid"
    return 0
}

stop_client() {
    local i
    thaw_client
    stop_pid "$D/finch.pid" # SIGTERM: PurpleCoreQuit over the bus does not end finch
    [ -S "$D/tmux.sock" ] && env -u TMUX tmux -S "$D/tmux.sock" kill-server 2>/dev/null
    for ((i = 0; i < $(rounds); i++)); do
        purple_on_bus || return 0
        sleep 0.05
    done
    say "finch's name stayed on the bus"
    return 1
}

stop_all() {
    local f
    [ -n "$D" ] && [ -d "$D" ] || return 0
    thaw_client
    stop_pid "$D/finch.pid"
    [ -S "$D/tmux.sock" ] && env -u TMUX tmux -S "$D/tmux.sock" kill-server 2>/dev/null
    for f in buddy ngircd dbus watchdog; do stop_pid "$D/$f.pid"; done
    [ "${PURPLE_FIXTURE_KEEP:-0}" = 1 ] || rm -rf "$D"
}

start() {
    local t
    for t in finch ngircd tmux dbus-daemon gdbus setsid; do
        command -v "$t" >/dev/null || { say "$t is not installed"; return 1; }
    done
    D=$(mktemp -d "${PURPLE_FIXTURE_BASE:-${TMPDIR:-/tmp}}/velmora-purple.XXXXXX") || return 1
    mkdir -p "$D/ircd.d"
    ACCOUNT="$NICK@127.0.0.1"
    local deadline=$(($(date +%s) + ${PURPLE_FIXTURE_MAX_SECONDS:-900}))
    setsid bash "$SELF" watch "$D" "${PURPLE_FIXTURE_OWNER_PID:-}" "$deadline" \
        </dev/null >/dev/null 2>&1 &

    start_bus && start_ircd && start_buddy || return 1
    write_purple_config
    printf 'BUS=%q\nPORT=%q\nACCOUNT=%q\n' "$BUS" "$PORT" "$ACCOUNT" >"$D/fixture.env"
    start_client
}

D=
case ${1:-} in
start)
    if start; then
        echo "export DBUS_SESSION_BUS_ADDRESS=$(quote "$BUS")"
        echo "export PURPLE_FIXTURE_DIR=$(quote "$D")"
        echo "export PURPLE_FIXTURE_IRC_PORT=$(quote "$PORT")"
        echo "export PURPLE_FIXTURE_ACCOUNT=$(quote "$ACCOUNT")"
        echo "export PURPLE_FIXTURE_BUDDY=$(quote "$BUDDY")"
    else
        stop_all
        exit 1
    fi
    ;;
stop) D=${2:?usage: $0 stop DIR}; stop_all ;;
stop-client) load "${2:?usage: $0 stop-client DIR}" && stop_client ;;
start-client) load "${2:?usage: $0 start-client DIR}" && start_client ;;
freeze-client) load "${2:?usage: $0 freeze-client DIR}" && freeze_client ;;
thaw-client) load "${2:?usage: $0 thaw-client DIR}" && thaw_client ;;
watch) watch "${2:?}" "${3:-}" "${4:?}" ;;
*)
    echo "usage: $0 start | stop DIR | {stop,start,freeze,thaw}-client DIR" >&2
    exit 2
    ;;
esac
