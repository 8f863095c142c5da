#!/usr/bin/env bash
# make demo: a new SQLite database with sample data made by ostrel-admin, a throw-away CA and a
# certificate for ostreld made with the openssl command, ostreld under TLS on a free loopback port, a
# sample user logged in through the C API (the ostrel command) over a verified TLS connection, his
# roles and permissions, and the daemon stopped again, whatever happens on the way.
#
#   bash scripts/demo.sh [BUILD_DIR]     (default: build)
set -euo pipefail
. "$(dirname "$0")/daemonlib.sh"

build=${1:-build}
bin=$build/bin
for program in ostrel-admin ostreld ostrel; do
  if [ ! -x "$bin/$program" ]; then
    echo "demo: $bin/$program is missing; build first (make build)" >&2
    exit 1
  fi
done

work=$(mktemp -d /tmp/ostrel-demo-XXXXXX)
daemon_pid=""
cleanup() {
  status=$?
  stop_daemon "$status"
  rm -rf "$work"
  exit "$status"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

connect="engine=sqlite;database=$work/ostrel.db"
admin() { "$bin/ostrel-admin" --connect "$connect" "$@"; }

echo "== A new database: $work/ostrel.db"
admin init
admin customer add ACME "Acme Ltd"
admin domain add EAST ACME --description "East office"
echo "alice-s3cret" | admin user add EAST/alice --name "Alice Example" --contact alice@example.org --password-stdin
echo "bob-s3cret" | admin user add EAST/bob --name "Bob Example" --contact bob@example.org --password-stdin
admin team add 7 ACME Operations
admin member add 7 EAST/alice --lead
admin member add 7 EAST/bob
admin product add Widgets --number 10 >/dev/null
admin role add 10 Operator --number 1 >/dev/null
admin role add 10 Auditor --number 2 >/dev/null
admin permission add 10 "Start the line" --number 1 >/dev/null
admin permission add 10 "Stop the line" --number 2 >/dev/null
admin permission add 10 "Read the audit log" --number 3 >/dev/null
admin rolepermission add 10 1 1
admin rolepermission add 10 1 2
admin rolepermission add 10 2 3
admin grant add team 7 10 role 1
admin grant add user EAST/alice 10 permission 2 --status revoked
admin profile add default --default
echo "customer ACME, domain EAST, users alice and bob in team 7, product 10 with 2 roles and 3 permissions"

echo "== A throw-away CA, and a certificate it signs for ostreld on 127.0.0.1"
(
  cd "$work"
  openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -keyout ca.key -out ca.pem -days 1 \
    -subj "/CN=Ostrel demo CA"
  openssl req -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -keyout ostreld.key -out ostreld.csr \
    -subj "/CN=localhost"
  printf 'subjectAltName=IP:127.0.0.1,DNS:localhost\n' >ostreld.ext
  openssl x509 -req -in ostreld.csr -CA ca.pem -CAkey ca.key -CAcreateserial -days 1 -extfile ostreld.ext \
    -out ostreld.pem
) >"$work/openssl.log" 2>&1 || { cat "$work/openssl.log" >&2; echo "demo: cannot make the certificates" >&2; exit 1; }
echo "$(openssl x509 -in "$work/ostreld.pem" -noout -subject), issued by the demo CA"

echo "== Starting ostreld"
# A configuration file of its own: an installed daemon's (/etc/ostrel/ostreld.conf) is not the demo's.
: >"$work/ostreld.conf"
"$bin/ostreld" --config "$work/ostreld.conf" --connect "$connect" --listen tls:127.0.0.1:0 --tls-cert "$work/ostreld.pem" \
  --tls-key "$work/ostreld.key" --address-file "$work/address" >"$work/ostreld.log" 2>&1 &
daemon_pid=$!
for _ in $(seq 1 300); do
  [ -s "$work/address" ] && break
  if ! kill -0 "$daemon_pid" 2>/dev/null; then
    echo "demo: ostreld ended at start" >&2
    exit 1
  fi
  sleep 0.1
done
[ -s "$work/address" ] || { echo "demo: ostreld did not start listening" >&2; exit 1; }
address=$(head -n 1 "$work/address")
echo "ostreld (pid $daemon_pid) listens on $address: TLS, its certificate checked against the demo CA"

: >"$work/rcostrel"
: >"$work/user-rcostrel"
# login keeps the session id in the runtime directory, for the commands after it: the demo's own,
# so that the operator's session, if any, is left alone.
mkdir -m 700 "$work/run"
ostrel() {
  XDG_RUNTIME_DIR="$work/run" "$bin/ostrel" --service "$address" --tls-ca "$work/ca.pem" \
    --system-config "$work/rcostrel" --user-config "$work/user-rcostrel" "$@"
}

echo "== EAST/alice logs in through the C API, over TLS"
echo "alice-s3cret" | ostrel login EAST/alice --password-stdin --quiet
ostrel whoami

# Whether the user of the session holds it: "held" or "not held"; any other answer is a failure.
check() {
  local answer status=0
  answer=$(ostrel check "$@") || status=$?
  if [ "$status" -gt 1 ]; then
    echo "demo: ostrel check $* failed" >&2
    exit 1
  fi
  echo "$answer"
}

echo "== His roles and permissions"
admin product list | while IFS=$'\t' read -r product description _; do
  # Product 0 is the framework's own administration; the sample user holds none of it.
  [ "$product" = 0 ] && continue
  echo "product $product ($description)"
  admin role list "$product" | while IFS=$'\t' read -r role _ name _; do
    printf '  role %-3s %-26s %s\n' "$role" "$name" "$(check --role "$product:$role")"
  done
  admin permission list "$product" | while IFS=$'\t' read -r permission _ name; do
    printf '  permission %-3s %-20s %s\n' "$permission" "$name" "$(check --permission "$product:$permission")"
  done
done

echo "== A wrong password is refused"
if echo "not-her-password" | ostrel login EAST/alice --password-stdin >/dev/null 2>&1; then
  echo "demo: a wrong password was accepted" >&2
  exit 1
fi
echo "refused"

echo "== She logs out"
ostrel logout
echo "session ended"

echo "== Stopping ostreld"
kill -TERM "$daemon_pid"
daemon_status=0
wait "$daemon_pid" || daemon_status=$?
daemon_pid=""
echo "ostreld stopped (exit status $daemon_status); the logins in its audit trail:"
grep -E "audit: .*login (succeeded|failed)" "$work/ostreld.log" | sed 's/^/  /'
[ "$daemon_status" -eq 0 ]
