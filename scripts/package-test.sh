#!/usr/bin/env bash
# The Debian packages, end to end, as root on a machine without them: made with cpack from an existing
# build, checked by lintian (no error allowed), installed with dpkg, used (ostrel-admin init as the
# system user ostrel, /usr/bin/ostreld started as that user on a free loopback port, a login with the
# installed ostrel), then purged, after which nothing of them may be left: files, /etc/ostrel,
# /var/lib/ostrel, the user. Systemd need not run: the script starts and stops the daemon itself.
# Everything it made is removed whatever happens; a development install in /usr/local is left alone.
#
#   bash scripts/package-test.sh BUILD_DIR
set -euo pipefail
. "$(dirname "$0")/daemonlib.sh"

if [ $# -ne 1 ] || [ ! -f "$1/CPackConfig.cmake" ]; then
  echo "usage: package-test.sh BUILD_DIR (a configured and built tree)" >&2
  exit 2
fi
build=$(cd "$1" && pwd)
packages=(ostrel-tools ostreld libostrel-dev libostrel5 ostrel-common)

fail() { echo "package-test: $*" >&2; exit 1; }

[ "$(id -u)" -eq 0 ] || fail "must run as root (it installs and purges packages)"
# Purging would take an operator's installation and its database with it: only on a machine without.
# The package's state in dpkg: empty or "not-installed" when it has none here.
package_state() { dpkg-query -W -f='${db:Status-Status}' "$1" 2>/dev/null || true; }
for package in "${packages[@]}"; do
  case "$(package_state "$package")" in
    ''|not-installed) ;;
    *) fail "$package is installed here already; not touching it" ;;
  esac
done
if getent passwd ostrel >/dev/null || [ -e /etc/ostrel ] || [ -e /etc/ostreld ] || [ -e /var/lib/ostrel ]; then
  fail "the user ostrel, /etc/ostrel, /etc/ostreld or /var/lib/ostrel exists already; not touching it"
fi

work=$(mktemp -d /tmp/ostrel-package-test-XXXXXX)
chmod 755 "$work"
daemon_pid=""
installed=""
cleanup() {
  status=$?
  stop_daemon "$status"
  if [ -n "$installed" ]; then
    dpkg --purge "${packages[@]}" >/dev/null 2>&1 || true
  fi
  rm -rf "$work"
  exit "$status"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

# What /usr/local holds of Ostrel, to show afterwards that it was not touched.
usr_local_state() {
  find /usr/local -xdev \( -iname '*ostrel*' -o -name 'libCorvel*' -o -name 'libVesk*' \) \
    -printf '%p %s %T@\n' 2>/dev/null | sort
}
usr_local_state >"$work/usr-local.before"

echo "== cpack -G DEB"
(cd "$build" && cpack -G DEB -B "$work/cpack") >"$work/cpack.log" 2>&1 || { cat "$work/cpack.log" >&2; fail "cpack failed"; }
debs=()
for package in "${packages[@]}"; do
  deb=$(ls "$work/cpack/${package}"_*.deb 2>/dev/null || true)
  [ -n "$deb" ] || fail "cpack made no package $package"
  debs+=("$deb")
  echo "$(basename "$deb"): $(dpkg-deb -f "$deb" Depends)"
done

echo "== lintian"
lintian --allow-root "${debs[@]}" >"$work/lintian.log" 2>&1 || true
sed 's/^/  /' "$work/lintian.log"
if grep -q '^E:' "$work/lintian.log"; then
  fail "lintian reports errors"
fi

echo "== dpkg -i"
# Every file and link the packages hold, to find none of them after the purge.
for deb in "${debs[@]}"; do
  dpkg-deb --fsys-tarfile "$deb" | tar -t | sed -e 's|^\./|/|' -e '/\/$/d'
done >"$work/files"
installed=yes
dpkg -i "${debs[@]}" >"$work/dpkg.log" 2>&1 || { cat "$work/dpkg.log" >&2; fail "dpkg -i failed"; }

getent passwd ostrel >/dev/null || fail "the user ostrel was not made"
[ "$(stat -c '%U:%G %a' /var/lib/ostrel)" = "ostrel:ostrel 750" ] \
  || fail "/var/lib/ostrel is $(stat -c '%U:%G %a' /var/lib/ostrel), not ostrel:ostrel 750"
grep -q '^ExecStart=/usr/bin/ostreld' /usr/lib/systemd/system/ostreld.service \
  || fail "the unit does not start /usr/bin/ostreld"
[ -f /etc/ostrel/ostreld.conf ] || fail "/etc/ostrel/ostreld.conf is missing"
dpkg-query -W -f='${Conffiles}' ostreld | grep -q '/etc/ostrel/ostreld.conf' \
  || fail "/etc/ostrel/ostreld.conf is not a conffile"
# It may come to hold a database password: the daemon's group reads it, other users do not.
[ "$(stat -c '%U:%G %a' /etc/ostrel/ostreld.conf)" = "root:ostrel 640" ] \
  || fail "/etc/ostrel/ostreld.conf is $(stat -c '%U:%G %a' /etc/ostrel/ostreld.conf), not root:ostrel 640"
dpkg-query -W -f='${Conffiles}' ostrel-common | grep -q '/etc/ostreld/rcostrel' \
  || fail "/etc/ostreld/rcostrel, the clients' machine-wide settings, is not a conffile"
[ -f /usr/lib/pkgconfig/ostrel.pc ] || fail "/usr/lib/pkgconfig/ostrel.pc is missing"
if grep -q rpath /usr/lib/pkgconfig/ostrel.pc; then fail "ostrel.pc gives programs a runpath"; fi
for program in /usr/bin/ostreld /usr/bin/ostrel /usr/bin/ostrel-admin; do
  if readelf -d "$program" | grep -qE 'R(UN)?PATH'; then fail "$program has a RUNPATH"; fi
done
# The installed programs must run on the packaged libraries, not on a development install that the
# loader's cache may list first; where one is there, the packaged directory is named explicitly.
libs=$(ldd /usr/bin/ostreld /usr/bin/ostrel-admin | awk '/lib(Corvel|Vesk|Ostrel)/ {print $3}' | sort -u)
if [ -z "$libs" ] || echo "$libs" | grep -qvE '^/(usr/)?lib/lib'; then
  echo "(a development install shadows /usr/lib; running with LD_LIBRARY_PATH=/usr/lib)"
  export LD_LIBRARY_PATH=/usr/lib
fi

echo "== ostrel-admin init, as the user ostrel, on the default database /var/lib/ostrel/ostrel.db"
as_ostrel() { (cd / && exec setpriv --reuid=ostrel --regid=ostrel --init-groups -- "$@"); }
unset OSTREL_CONNECT
admin() { as_ostrel /usr/bin/ostrel-admin "$@"; }
# The unit checks before every start, the first one before init too: that must not leave an empty
# database behind for init to find.
if as_ostrel /usr/bin/ostreld --check-config >"$work/check-config.log" 2>&1; then
  fail "ostreld --check-config accepts a database that is not there"
fi
grep -q "database file missing" "$work/check-config.log" || { cat "$work/check-config.log" >&2; fail "--check-config does not say the database is missing"; }
[ ! -e /var/lib/ostrel/ostrel.db ] || fail "ostreld --check-config made /var/lib/ostrel/ostrel.db"
admin init
admin customer add ACME "Acme Ltd"
admin domain add EAST ACME --description "East office"
echo "alice-s3cret" | admin user add EAST/alice --name "Alice Example" --password-stdin
admin product add Widgets --number 10 >/dev/null
admin permission add 10 "Start the line" --number 1 >/dev/null
admin grant add user EAST/alice 10 permission 1
[ "$(stat -c '%U %a' /var/lib/ostrel/ostrel.db)" = "ostrel 600" ] || fail "the database is not ostrel's alone"
admin library list | grep -q "/usr/lib/ostrel/libOstrelAuthSql.so" || fail "init did not register /usr/lib/ostrel's plug-in"

echo "== /usr/bin/ostreld as the user ostrel"
# The packaged configuration file and the database just made, as the unit checks them before a start.
as_ostrel /usr/bin/ostreld --check-config >"$work/check-config.log" 2>&1 \
  || { cat "$work/check-config.log" >&2; fail "ostreld --check-config refuses the packaged configuration"; }
mkdir -m 700 "$work/daemon"
chown ostrel:ostrel "$work/daemon"
# Not through a function: its subshell's pid would be the one in $!, not the daemon's.
(cd / && exec setpriv --reuid=ostrel --regid=ostrel --init-groups -- /usr/bin/ostreld --listen 127.0.0.1:0 \
  --address-file "$work/daemon/address") >"$work/ostreld.log" 2>&1 &
daemon_pid=$!
for _ in $(seq 1 300); do
  [ -s "$work/daemon/address" ] && break
  kill -0 "$daemon_pid" 2>/dev/null || fail "ostreld ended at start"
  sleep 0.1
done
[ -s "$work/daemon/address" ] || fail "ostreld did not start listening"
address=$(head -n 1 "$work/daemon/address")
[ "$(stat -c %U "/proc/$daemon_pid")" = ostrel ] || fail "ostreld does not run as ostrel"
echo "listening on $address"

echo "== a login with /usr/bin/ostrel"
: >"$work/rcostrel"
: >"$work/user-rcostrel"
mkdir -m 700 "$work/run"
ostrel() {
  XDG_RUNTIME_DIR="$work/run" /usr/bin/ostrel --service "$address" --system-config "$work/rcostrel" \
    --user-config "$work/user-rcostrel" "$@"
}
# The machine-wide settings as installed: read by anyone, and root sets the service in them.
XDG_RUNTIME_DIR="$work/run" /usr/bin/ostrel --user-config "$work/user-rcostrel" config --set-service "$address" \
  >/dev/null || fail "root cannot set the service in /etc/ostreld/rcostrel"
grep -q "<Connect>$address</Connect>" /etc/ostreld/rcostrel || fail "/etc/ostreld/rcostrel does not name the service"
install -o ostrel -g ostrel -m 600 /dev/null "$work/ostrel-rcostrel"
as_ostrel /usr/bin/ostrel --user-config "$work/ostrel-rcostrel" config | grep -q "^service host: *$address\$" \
  || fail "another user does not read the service from the machine-wide settings"
echo "alice-s3cret" | ostrel login EAST/alice --password-stdin --quiet
ostrel whoami | grep -q "alice" || fail "whoami does not name alice"
ostrel check --permission 10:1 >/dev/null || fail "alice does not hold permission 10:1"
if echo "wrong" | ostrel login EAST/alice --password-stdin >/dev/null 2>&1; then fail "a wrong password was taken"; fi
ostrel logout
echo "logged in, checked, logged out"

kill -TERM "$daemon_pid"
daemon_status=0
wait "$daemon_pid" || daemon_status=$?
daemon_pid=""
[ "$daemon_status" -eq 0 ] || fail "ostreld exited with $daemon_status on SIGTERM"
grep -q "audit: .*login succeeded" "$work/ostreld.log" || fail "ostreld logged no successful login"

echo "== dpkg --purge"
dpkg --purge "${packages[@]}" >"$work/dpkg.log" 2>&1 || { cat "$work/dpkg.log" >&2; fail "dpkg --purge failed"; }
installed=""
left=""
for package in "${packages[@]}"; do
  case "$(package_state "$package")" in ''|not-installed) ;; *) left+=" package:$package" ;; esac
done
while read -r file; do
  if [ -e "$file" ] || [ -L "$file" ]; then left+=" $file"; fi
done <"$work/files"
for path in /etc/ostrel /etc/ostreld /var/lib/ostrel /usr/lib/ostrel /usr/share/ostrel; do
  [ -e "$path" ] && left+=" $path"
done
getent passwd ostrel >/dev/null && left+=" user:ostrel"
getent group ostrel >/dev/null && left+=" group:ostrel"
[ -z "$left" ] || fail "left after the purge:$left"
usr_local_state >"$work/usr-local.after"
cmp -s "$work/usr-local.before" "$work/usr-local.after" || fail "/usr/local changed"
echo "nothing left"
echo "package-test: 1 passed, 0 failed"
