# SPDX-License-Identifier: GPL-3.0-or-later
# What the test fixtures beside this file share: a private session bus in their temp dir D,
# waiting on processes and stopping them, and a watchdog. Sourced by them after they define
# say (for messages), TIMEOUT (seconds for each wait) and stop_all.

# Alive and not a zombie: daemons reparented to a PID 1 that never reaps stay zombies.
alive() {
    local st
    [ -n "${1:-}" ] && [ -r "/proc/$1/stat" ] || return 1
    st=$(sed 's/^.*) //' "/proc/$1/stat" 2>/dev/null) || return 1
    [ "${st%% *}" != Z ]
}

# Loops of 50 ms, so TIMEOUT seconds is TIMEOUT*20 rounds.
rounds() { echo $(("$TIMEOUT" * 20)); }

bus_call() { # dest path method [args...]
    local dest=$1 path=$2 method=$3
    shift 3
    DBUS_SESSION_BUS_ADDRESS=$BUS gdbus call --session --timeout 2 --dest "$dest" \
        --object-path "$path" --method "$method" "$@"
}

name_on_bus() { # name
    bus_call org.freedesktop.DBus /org/freedesktop/DBus org.freedesktop.DBus.NameHasOwner "$1" 2>/dev/null |
        grep -q true
}

load() { # dir: read what start wrote down
    D=$1
    [ -f "$D/fixture.env" ] || { say "no fixture in $D"; return 1; }
    # shellcheck disable=SC1091
    . "$D/fixture.env"
}

stop_pid() { # pidfile
    local f=$1 p i
    [ -s "$f" ] || return 0
    p=$(cat "$f")
    [ "$p" = "$$" ] && return 0
    kill -TERM "$p" 2>/dev/null || { rm -f "$f"; return 0; }
    kill -CONT "$p" 2>/dev/null # a stopped process would sit on the TERM
    for ((i = 0; i < 60; i++)); do
        alive "$p" || break
        sleep 0.05
    done
    alive "$p" && kill -KILL "$p" 2>/dev/null
    rm -f "$f"
}

start_bus() {
    cat >"$D/bus.conf" <<EOF
<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>session</type>
  <listen>unix:path=$D/bus</listen>
  <auth>EXTERNAL</auth>
  <policy context="default">
    <allow send_destination="*" eavesdrop="true"/>
    <allow eavesdrop="true"/>
    <allow own="*"/>
  </policy>
</busconfig>
EOF
    dbus-daemon --nofork --nopidfile --config-file="$D/bus.conf" </dev/null >"$D/dbus.log" 2>&1 &
    echo $! >"$D/dbus.pid"
    BUS="unix:path=$D/bus"
    local i
    for ((i = 0; i < $(rounds); i++)); do
        bus_call org.freedesktop.DBus /org/freedesktop/DBus org.freedesktop.DBus.GetId \
            >/dev/null 2>&1 && return 0
        alive "$(cat "$D/dbus.pid")" || break
        sleep 0.05
    done
    say "the private bus did not come up: $(cat "$D/dbus.log")"
    return 1
}

# Outlives neither its owner nor its time limit, so a crashed test leaves nothing behind.
watch() { # dir owner-pid deadline-epoch
    D=$1
    echo $$ >"$D/watchdog.pid"
    while [ "$(date +%s)" -lt "$3" ]; do
        if [ -n "$2" ] && ! alive "$2"; then break; fi
        [ -d "$D" ] || exit 0
        sleep 1
    done
    stop_all
}

quote() { printf "'%s'" "${1//\'/\'\\\'\'}"; }
