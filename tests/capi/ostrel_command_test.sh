#!/bin/bash
# The ostrel command end to end against the scripted service:
#   ostrel_command_test.sh OSTREL FAKE_DAEMON
# Settings files and HOME live in a temporary folder.
set -u

OSTREL=$1
FAKE_DAEMON=$2

WORK=$(mktemp -d /tmp/ostrel-command-XXXXXX)
export HOME=$WORK/home
mkdir -p "$HOME"
# Without a runtime directory login keeps the session in HOME.
unset XDG_RUNTIME_DIR OSTREL_SESSION
KEPT=$HOME/.ostrel-session
SOCKET=$WORK/ostreld.sock
SYS=$WORK/rcostrel
DAEMON_PID=

cleanup() {
    if [ -n "$DAEMON_PID" ]; then
        kill "$DAEMON_PID" 2>/dev/null
        wait "$DAEMON_PID" 2>/dev/null
    fi
    rm -rf "$WORK"
}
trap cleanup EXIT

FAILURES=0
fail() {
    echo "FAIL: $*" >&2
    FAILURES=$((FAILURES + 1))
}

# run EXPECTED_STATUS ARGS...: runs ostrel with the test's settings files;
# stdout in $OUT, stderr in $ERR.
run() {
    local expected=$1
    shift
    OUT=$("$OSTREL" --system-config "$SYS" "$@" 2>"$WORK/stderr" </dev/null)
    local status=$?
    ERR=$(cat "$WORK/stderr")
    if [ "$status" -ne "$expected" ]; then
        fail "ostrel $* exited $status, expected $expected; stderr: $ERR"
    fi
}

# login_with PASSWORD EXPECTED_STATUS ARGS...: login reading the password from stdin.
login_with() {
    local password=$1 expected=$2
    shift 2
    OUT=$(printf '%s\n' "$password" | "$OSTREL" --system-config "$SYS" login --password-stdin "$@" 2>"$WORK/stderr")
    local status=$?
    ERR=$(cat "$WORK/stderr")
    if [ "$status" -ne "$expected" ]; then
        fail "ostrel login $* exited $status, expected $expected; stderr: $ERR"
    fi
}

expect_in() {
    case "$2" in
        *"$1"*) ;;
        *) fail "expected '$1' in: $2" ;;
    esac
}

start_daemon() {
    "$FAKE_DAEMON" "$SOCKET" >"$WORK/daemon.out" &
    DAEMON_PID=$!
    for _ in $(seq 1 100); do
        grep -q ready "$WORK/daemon.out" 2>/dev/null && return 0
        sleep 0.1
    done
    echo "the scripted service did not start" >&2
    exit 1
}

# --- Help and bad command lines -------------------------------------------
run 0 --help
expect_in "ostrel login" "$OUT"
run 0 check --help
expect_in "--permission PRODUCT:PERMISSION" "$OUT"
run 2
run 2 frobnicate
run 2 check --session X --team 1 --role 3:2
run 2 check --session X --role three:2
run 2 login --no-such-option

# --- No settings, no service ----------------------------------------------
run 3 whoami --session S1
expect_in "no service host" "$ERR"
run 3 --service "unix:$WORK/none.sock" whoami --session S1
expect_in "cannot reach the service" "$ERR"

start_daemon

# --- Settings -------------------------------------------------------------
run 0 config --set-service "unix:$SOCKET"
expect_in "service host:    unix:$SOCKET" "$OUT"
[ -s "$SYS" ] || fail "the machine-wide settings were not written"
# A refused pin leaves every setting of the command unwritten.
run 3 config --set-service "unix:$WORK/other.sock" --set-tls-pin not-a-pin
grep -q other.sock "$SYS" && fail "a refused config command wrote the service host"
run 0 config --set-domain EAST --set-user alice --set-profile default
expect_in "default domain:  EAST" "$OUT"
expect_in "user id:         alice" "$OUT"
[ -s "$HOME/.rcostrel" ] || fail "the per-user settings were not written to HOME"
run 0 config
expect_in "known domains:   EAST" "$OUT"

# --- Login, check, logout -------------------------------------------------
login_with secret 0
SESSION=$OUT
[ -n "$SESSION" ] || fail "login printed no session id"
[ "$(stat -c %a "$KEPT" 2>&1)" = 600 ] || fail "session file not kept with mode 600: $(ls -l "$KEPT" 2>&1)"
[ "$(cat "$KEPT")" = "$SESSION" ] || fail "the session file does not hold the printed session"

# Without --session the commands use the kept session.
run 0 whoami
expect_in "user:     EAST/alice" "$OUT"
run 0 check --team 7

run 0 whoami --session "$SESSION"
expect_in "user:     EAST/alice" "$OUT"
expect_in "name:     Alice Example" "$OUT"

run 0 check --session "$SESSION" --team 7
run 1 check --session "$SESSION" --team 8
run 0 check --session "$SESSION" --role 3:2
run 1 check --session "$SESSION" --role 3:4
run 0 check --session "$SESSION" --permission 3:5
run 1 check --session "$SESSION" --permission 3:6
expect_in "not held" "$OUT"

run 0 session retrieve --session "$SESSION"
expect_in "EAST/alice" "$OUT"
run 0 session persist --session "$SESSION"

run 0 logout --session "$SESSION"
[ -e "$KEPT" ] && fail "logout left the session it ended in the session file"
run 2 whoami
expect_in "no session" "$ERR"
run 3 whoami --session "$SESSION"
expect_in "does not know the session" "$ERR"
case "$ERR" in *"$SESSION"*) fail "an error text shows the session id: $ERR" ;; esac
run 3 check --session "$SESSION" --team 7
run 3 session kill --session "$SESSION"

# --- Other ways of logging in ---------------------------------------------
login_with hunter2 0 EAST/bob
BOB=$OUT
run 1 check --session "$BOB" --team 7
# --session, then standard input, then OSTREL_SESSION go before the kept session (now alice's).
login_with secret 0 alice --quiet
[ -z "$OUT" ] || fail "login --quiet printed: $OUT"
OSTREL_SESSION=$BOB run 1 check --team 7
OUT=$(printf '%s\n' "$BOB" | OSTREL_SESSION=nonsense "$OSTREL" --system-config "$SYS" whoami --session-stdin 2>&1)
expect_in "user:     EAST/bob" "$OUT"
run 0 session kill --session "$BOB"
[ -e "$KEPT" ] || fail "ending another session removed the session file"
run 0 logout
[ -e "$KEPT" ] && fail "logout left the session file"
login_with secret 0 alice --profile night
run 0 logout --session "$OUT"
login_with wrong 3
expect_in "login failed for EAST/alice" "$ERR"
login_with secret 3 NOWHERE/alice
LONG=$(head -c 5000 /dev/zero | tr '\0' p)
login_with "$LONG" 3
expect_in "too long" "$ERR"
# Without a terminal and without --password-stdin there is nothing to read from.
OUT=$(setsid "$OSTREL" --system-config "$SYS" login </dev/null 2>&1)
[ $? -eq 3 ] || fail "login without a terminal did not fail"
expect_in "no terminal" "$OUT"

# --- Where the session is kept ---------------------------------------------
# A planted symbolic link is neither written through nor read.
ln -s "$WORK/elsewhere" "$KEPT"
login_with secret 0
SESSION=$OUT
[ -e "$WORK/elsewhere" ] && fail "login wrote the session through a symbolic link"
run 3 whoami
expect_in "symbolic link" "$ERR"
run 0 logout --session "$SESSION"
rm -f "$KEPT"
# With a runtime directory the session goes there, in a folder of the user's alone.
export XDG_RUNTIME_DIR=$WORK/run
mkdir -m 700 "$XDG_RUNTIME_DIR"
login_with secret 0 --quiet
[ "$(stat -c %a "$XDG_RUNTIME_DIR/ostrel" 2>&1)$(stat -c %a "$XDG_RUNTIME_DIR/ostrel/session" 2>&1)" = 700600 ] ||
    fail "runtime session file or folder has the wrong mode: $(ls -la "$XDG_RUNTIME_DIR/ostrel" 2>&1)"
run 0 logout
[ -e "$XDG_RUNTIME_DIR/ostrel/session" ] && fail "logout left the runtime session file"
unset XDG_RUNTIME_DIR

# --- The service overridden, then gone ------------------------------------
run 0 --service "unix:$SOCKET" --user-config "$WORK/other.rcostrel" config
login_with secret 0 --service "unix:$SOCKET" EAST/alice
kill "$DAEMON_PID"
wait "$DAEMON_PID" 2>/dev/null
DAEMON_PID=
run 3 whoami --session "$OUT"
expect_in "is ostreld running" "$ERR"

if [ "$FAILURES" -ne 0 ]; then
    echo "$FAILURES failure(s)" >&2
    exit 1
fi
echo "all ostrel command checks passed"
