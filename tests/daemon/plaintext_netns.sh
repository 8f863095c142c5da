#!/bin/bash
# Passwords over the network end to end, between two network namespaces joined by a veth pair
# (addresses of the documentation range, which exist only inside them):
#   plaintext_netns.sh OSTRELD OSTREL_ADMIN OSTREL
# ostreld in one namespace, the ostrel command in the other. Over plain TCP beyond loopback the
# client sends no password, and the daemon takes none, each saying why; the same login over TLS
# succeeds; with --allow-plaintext-logins (and the client's OSTREL_ALLOW_PLAINTEXT_LOGINS=1) the
# plain one succeeds and the daemon warns at start.
# Exit 77 (skipped) where the machine gives no network namespaces.
set -u

OSTRELD=$1
ADMIN=$2
OSTREL=$3

[ "$(id -u)" -eq 0 ] && command -v ip >/dev/null && command -v openssl >/dev/null || exit 77
TAG=$$
NS_D=ostrel-d-$TAG
NS_C=ostrel-c-$TAG
WORK=$(mktemp -d /tmp/ostrel-netns-XXXXXX)
# ostrel login keeps its session in a file of the user's: here, in the test's own folder.
export HOME=$WORK
unset XDG_RUNTIME_DIR
DAEMON_PID=

cleanup() {
    if [ -n "$DAEMON_PID" ]; then
        kill "$DAEMON_PID" 2>/dev/null
        wait "$DAEMON_PID" 2>/dev/null
    fi
    ip netns del "$NS_D" 2>/dev/null
    ip netns del "$NS_C" 2>/dev/null
    rm -rf "$WORK"
}
trap cleanup EXIT

if ! ip netns add "$NS_D" 2>/dev/null || ! ip netns add "$NS_C" 2>/dev/null; then
    echo "no network namespaces here" >&2
    exit 77
fi
ip link add "od$TAG" netns "$NS_D" type veth peer name "oc$TAG" netns "$NS_C" || exit 77
ip -n "$NS_D" addr add 192.0.2.1/24 dev "od$TAG"
ip -n "$NS_C" addr add 192.0.2.2/24 dev "oc$TAG"
for ns in "$NS_D" "$NS_C"; do ip -n "$ns" link set lo up; done
ip -n "$NS_D" link set "od$TAG" up
ip -n "$NS_C" link set "oc$TAG" up

FAILURES=0
fail() {
    echo "FAIL: $*" >&2
    FAILURES=$((FAILURES + 1))
}

# A CA and a certificate for the daemon's address.
(
    cd "$WORK" &&
        openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -keyout ca.key -out ca.pem \
            -days 1 -subj "/CN=netns test CA" &&
        openssl req -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -keyout d.key -out d.csr -subj "/CN=d" &&
        printf 'subjectAltName=IP:192.0.2.1\n' >ext &&
        openssl x509 -req -in d.csr -CA ca.pem -CAkey ca.key -CAcreateserial -out d.pem -days 1 -extfile ext
) >/dev/null 2>&1 || { echo "cannot make certificates" >&2; exit 1; }

CONNECT="engine=sqlite;database=$WORK/o.db"
admin() { "$ADMIN" --connect "$CONNECT" "$@" >/dev/null || { echo "ostrel-admin $* failed" >&2; exit 1; }; }
admin init
admin customer add ACME Acme
admin domain add EAST ACME
echo "alice-pw" | admin user add EAST/alice --password-stdin
admin profile add default --default
: >"$WORK/sys"
: >"$WORK/user"

start_daemon() {
    rm -f "$WORK/address"
    ip netns exec "$NS_D" "$OSTRELD" --connect "$CONNECT" --listen 192.0.2.1:7420 --listen tls:192.0.2.1:7421 \
        --tls-cert "$WORK/d.pem" --tls-key "$WORK/d.key" --address-file "$WORK/address" "$@" \
        >"$WORK/daemon.log" 2>&1 &
    DAEMON_PID=$!
    # Key generation under the sanitizers takes a while.
    for _ in $(seq 1 1200); do
        [ -s "$WORK/address" ] && return 0
        sleep 0.05
    done
    echo "ostreld did not start:" >&2
    cat "$WORK/daemon.log" >&2
    exit 1
}
stop_daemon() {
    kill "$DAEMON_PID"
    wait "$DAEMON_PID"
    DAEMON_PID=
}
# login SERVICE [OPTIONS]: the ostrel command from the client's namespace; status in $STATUS.
login() {
    local service=$1
    shift
    echo "alice-pw" | ip netns exec "$NS_C" "$OSTREL" --system-config "$WORK/sys" --user-config "$WORK/user" \
        --service "$service" "$@" login EAST/alice --password-stdin >"$WORK/out" 2>&1
    STATUS=$?
}

start_daemon
grep -q "Plain TCP on 192.0.2.1:7420" "$WORK/daemon.log" || fail "no warning for the plain listener"
# The client does not send a password there in the first place...
login 192.0.2.1:7420
[ "$STATUS" -ne 0 ] || fail "a password was sent over plain TCP to 192.0.2.1"
grep -q "Not sending a password over plain TCP" "$WORK/out" || fail "the client does not say why: $(cat "$WORK/out")"
# ...and a client that would is refused by the daemon.
export OSTREL_ALLOW_PLAINTEXT_LOGINS=1
login 192.0.2.1:7420
[ "$STATUS" -ne 0 ] || fail "plain login from 192.0.2.2 was taken"
grep -q "are not taken over plain TCP" "$WORK/out" || fail "the refusal does not say why: $(cat "$WORK/out")"
unset OSTREL_ALLOW_PLAINTEXT_LOGINS
grep -q "audit: authenticate from 192.0.2.2:[0-9]*: refused: passwords and session ids are not taken" "$WORK/daemon.log" ||
    fail "no audit line for the refusal"
login tls:192.0.2.1:7421 --tls-ca "$WORK/ca.pem"
[ "$STATUS" -eq 0 ] || fail "TLS login refused: $(cat "$WORK/out")"
login tls:192.0.2.1:7421
[ "$STATUS" -ne 0 ] || fail "TLS login without trusting the CA was taken"
# The machine-wide trust holds when only a client certificate is given on the command line.
printf '<HKLM><Tessaly><Ostrel><TlsCAFile>%s</TlsCAFile></Ostrel></Tessaly></HKLM>\n' "$WORK/ca.pem" >"$WORK/sys"
login tls:192.0.2.1:7421 --tls-cert "$WORK/d.pem" --tls-key "$WORK/d.key"
[ "$STATUS" -eq 0 ] || fail "a client certificate option dropped the machine-wide CA: $(cat "$WORK/out")"
: >"$WORK/sys"
stop_daemon

start_daemon --allow-plaintext-logins
grep -q "passwords ARE taken there" "$WORK/daemon.log" || fail "no warning that plain logins are taken"
export OSTREL_ALLOW_PLAINTEXT_LOGINS=1
login 192.0.2.1:7420
[ "$STATUS" -eq 0 ] || fail "plain login refused with --allow-plaintext-logins: $(cat "$WORK/out")"
unset OSTREL_ALLOW_PLAINTEXT_LOGINS
stop_daemon

if [ "$FAILURES" -ne 0 ]; then
    cat "$WORK/daemon.log" >&2
    exit 1
fi
echo "plaintext_netns: all checks passed"
