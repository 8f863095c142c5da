#!/usr/bin/env bash
# A real ostreld on a fresh SQLite database, for the C interface tests:
#
#   real_daemon.sh start DIR ADMIN DAEMON PLUGIN SQL_DIR
#   real_daemon.sh stop DIR
#
# start makes DIR anew, fills DIR/ostrel.db through ostrel-admin and leaves the
# daemon running in the background; its address is the first line of
# DIR/address, its process id in DIR/pid, its output in DIR/ostreld.log.
# stop ends it and fails when it did not end cleanly or its log shows a
# sanitizer report, so that a fault on the service's side fails the run too.
set -euo pipefail

usage() {
    echo "usage: $0 start DIR ADMIN DAEMON PLUGIN SQL_DIR | stop DIR" >&2
    exit 2
}

[ $# -ge 2 ] || usage
action=$1
dir=$2

show_log() {
    if [ -s "$dir/ostreld.log" ]; then
        echo "--- ostreld log ---" >&2
        tail -n 200 "$dir/ostreld.log" >&2
    fi
}

# Whether the process is still there and not yet reaped as a zombie.
alive() {
    local state
    state=$(ps -o stat= -p "$1" 2>/dev/null) || return 1
    [ -n "$state" ] && [ "${state#Z}" = "$state" ]
}

stop() {
    [ -s "$dir/pid" ] || { echo "no daemon recorded in $dir" >&2; return 0; }
    local pid status=0
    pid=$(cat "$dir/pid")
    rm -f "$dir/pid"
    if alive "$pid"; then
        kill -TERM "$pid" 2>/dev/null || true
        for _ in $(seq 1 200); do
            alive "$pid" || break
            sleep 0.05
        done
        if alive "$pid"; then
            echo "ostreld (pid $pid) did not end on SIGTERM; killed" >&2
            kill -KILL "$pid" 2>/dev/null || true
            status=1
        fi
    else
        echo "ostreld (pid $pid) had already ended" >&2
        status=1
    fi
    if grep -qE "ERROR: AddressSanitizer|ERROR: LeakSanitizer|runtime error:" "$dir/ostreld.log" 2>/dev/null; then
        echo "ostreld reported a sanitizer error" >&2
        status=1
    fi
    [ "$status" -eq 0 ] || show_log
    return "$status"
}

start() {
    [ $# -eq 4 ] || usage
    local admin_program=$1 daemon_program=$2 plugin=$3 sql_dir=$4
    # A daemon left by an interrupted run would hold the old database.
    if [ -s "$dir/pid" ]; then
        stop || true
    fi
    rm -rf "$dir"
    mkdir -p "$dir"
    local connect="engine=sqlite;database=$dir/ostrel.db"
    admin() { "$admin_program" --connect "$connect" "$@" >/dev/null; }

    admin init --plugin "$plugin" --sql-dir "$sql_dir"
    # The cheapest hash, so that the logins cost little, and no lockout, so that
    # the cases refusing a password leave the accounts usable for the others.
    admin param set library 1 argon2_opslimit 1
    admin param set library 1 argon2_memlimit_kib 8
    admin param set library 1 lockout_threshold 0
    admin customer add ACME "Acme Ltd"
    admin domain add EAST ACME --description "East office"
    adduser() { printf '%s\n' "$2" | admin user add "$1" --name "$3" --contact "$4" --password-stdin; }
    adduser EAST/alice alice-s3cret "Alice Example" alice@example.org
    adduser EAST/bob bob-s3cret "Bob Example" bob@example.org
    adduser EAST/carol carol-s3cret "Carol Example" carol@example.org
    adduser EAST/dave dave-s3cret "Dave Example" dave@example.org
    adduser EAST/erin erin-s3cret "Erin Example" erin@example.org
    adduser EAST/frank frank-s3cret "Frank Example" frank@example.org
    adduser EAST/gina gina-s3cret "Gina Example" gina@example.org
    adduser EAST/hank hank-s3cret "Hank Example" hank@example.org
    admin team add 7 ACME Operations
    admin team add 8 ACME Audit
    admin member add 7 EAST/alice --lead
    admin member add 8 EAST/bob
    admin member add 7 EAST/erin
    admin member add 8 EAST/frank
    admin product add Widgets --number 10
    admin role add 10 Operator --number 1
    admin role add 10 Auditor --number 2
    admin permission add 10 "Start the line" --number 1
    admin permission add 10 "Stop the line" --number 2
    admin permission add 10 "Read the audit log" --number 3
    admin rolepermission add 10 1 1
    admin rolepermission add 10 1 2
    admin rolepermission add 10 2 3
    admin grant add team 7 10 role 1
    admin grant add team 8 10 role 2
    admin grant add user EAST/alice 10 permission 2 --status revoked
    admin profile add default --default
    admin profile add night

    # The daemon's own session, so that ctest does not wait on its output and
    # a signal to the test run does not reach it before the cleanup does.
    setsid "$daemon_program" --connect "$connect" --listen 127.0.0.1:0 --address-file "$dir/address" \
        </dev/null >"$dir/ostreld.log" 2>&1 &
    local pid=$!
    echo "$pid" >"$dir/pid"
    for _ in $(seq 1 600); do
        [ -s "$dir/address" ] && break
        if ! alive "$pid"; then
            echo "ostreld ended at start" >&2
            rm -f "$dir/pid"
            show_log
            return 1
        fi
        sleep 0.05
    done
    if [ ! -s "$dir/address" ]; then
        echo "ostreld did not start listening" >&2
        stop || true
        return 1
    fi
    echo "ostreld (pid $pid) listens on $(head -n 1 "$dir/address")"
}

case $action in
    start) shift 2; start "$@" ;;
    stop) [ $# -eq 2 ] || usage; stop ;;
    *) usage ;;
esac
