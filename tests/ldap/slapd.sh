#!/usr/bin/env bash
# Throw-away OpenLDAP servers for the LDAP plug-in's tests.
#
#   slapd.sh start DIR      make a directory server in DIR (its configuration, data, throw-away CA and
#                           certificates) from tests/ldap/directory.ldif and start it on two free
#                           loopback ports: plain ldap:// (StartTLS offered) and ldaps://; writes
#                           DIR/ldap.port, DIR/ldaps.port, DIR/ca.pem (the CA that signed the server's
#                           certificate) and DIR/other-ca.pem (a CA that signed nothing of it)
#   slapd.sh stop DIR       stop it and remove DIR's contents; succeeds whatever state start left
#   slapd.sh halt DIR       stop the server only (data and ports kept)
#   slapd.sh resume DIR     start a halted server again on the same ports and data
#
# The server is a process of its own (never the system's slapd service), bound to 127.0.0.1 only.
# Suffix dc=example,dc=org; the administrator cn=admin,dc=example,dc=org with the password in
# DIR/admin.pw; a reader cn=reader,dc=example,dc=org (password reader-pw) that may read everything;
# a writer cn=writer,dc=example,dc=org (writer-pw) that may also change the users' cn and mail.
set -uo pipefail

here=$(cd "$(dirname "$0")" && pwd)

die() {
  echo "slapd.sh: $*" >&2
  exit 1
}

[ $# -ge 2 ] || die "usage: slapd.sh start|stop|halt|resume DIR"
# shellcheck source=../harness/serverlib.sh
. "$(dirname "${BASH_SOURCE[0]}")/../harness/serverlib.sh"
close_inherited_files
action=$1
dir=$2

slapd_bin() {
  local bin
  for bin in /usr/sbin/slapd "$(command -v slapd 2>/dev/null)"; do
    [ -n "$bin" ] && [ -x "$bin" ] && { echo "$bin"; return 0; }
  done
  die "slapd not found (Debian package slapd)"
}

server_pid() {
  [ -f "$dir/slapd.pid" ] && cat "$dir/slapd.pid" 2>/dev/null
}

halt_server() {
  local pid waited=0
  pid=$(server_pid)
  if [ -n "$pid" ]; then
    kill -CONT "$pid" 2>/dev/null
    if kill "$pid" 2>/dev/null; then
      while kill -0 "$pid" 2>/dev/null && [ $waited -lt 100 ]; do
        sleep 0.1
        waited=$((waited + 1))
      done
      kill -9 "$pid" 2>/dev/null
    fi
  fi
  rm -f "$dir/slapd.pid"
}

# Starts slapd on the ports in DIR and waits until it answers; 1 when it does not.
run_server() {
  local ldap ldaps waited=0
  ldap=$(cat "$dir/ldap.port")
  ldaps=$(cat "$dir/ldaps.port")
  "$(slapd_bin)" -f "$dir/slapd.conf" -h "ldap://127.0.0.1:$ldap/ ldaps://127.0.0.1:$ldaps/" \
    >>"$dir/slapd.log" 2>&1 </dev/null || return 1
  # Answering, and its pid written: a test that stops it by the pid must find this server's.
  until [ -s "$dir/slapd.pid" ] &&
    ldapsearch -x -LLL -H "ldap://127.0.0.1:$ldap" -b "" -s base -o nettimeout=2 namingContexts >/dev/null 2>&1; do
    [ $waited -lt 100 ] || return 1
    sleep 0.1
    waited=$((waited + 1))
  done
}

make_pki() {
  local pki=$dir/pki
  mkdir -p "$pki"
  (
    cd "$pki" || exit 1
    openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -days 2 -subj "/CN=Ostrel LDAP test CA" \
      -keyout ca.key -out ca.pem 2>/dev/null || exit 1
    openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -days 2 -subj "/CN=Some other CA" \
      -keyout other-ca.key -out other-ca.pem 2>/dev/null || exit 1
    openssl req -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -subj "/CN=localhost" \
      -keyout server.key -out server.csr 2>/dev/null || exit 1
    printf 'subjectAltName=IP:127.0.0.1,DNS:localhost\nbasicConstraints=CA:FALSE\nextendedKeyUsage=serverAuth\n' >server.ext
    openssl x509 -req -in server.csr -CA ca.pem -CAkey ca.key -CAcreateserial -days 2 -extfile server.ext \
      -out server.pem 2>/dev/null || exit 1
  ) || return 1
  cp "$pki/ca.pem" "$dir/ca.pem" && cp "$pki/other-ca.pem" "$dir/other-ca.pem"
}

# The LDIF with every "userPassword: TEXT" hashed as the directory would store it.
hashed_ldif() {
  local line pw
  while IFS= read -r line; do
    case "$line" in
      "userPassword: "*)
        pw=${line#userPassword: }
        case "$pw" in
          slow-*) echo "userPassword: $(slappasswd -h '{CRYPT}' -c '$6$rounds=50000$%.16s' -s "$pw")" ;;
          *) echo "userPassword: $(slappasswd -h '{SSHA}' -s "$pw")" ;;
        esac
        ;;
      *) echo "$line" ;;
    esac
  done <"$1"
}

start_server() {
  command -v ldapsearch >/dev/null || die "ldapsearch not found (Debian package ldap-utils)"
  [ -f /usr/lib/ldap/back_mdb.la ] || [ -f /usr/lib/ldap/back_mdb.so ] || die "back_mdb not found (Debian package slapd)"
  mkdir -p "$dir/data" || die "cannot create $dir"
  touch "$dir/.ostrel-slapd"
  make_pki || die "cannot make the test certificates"
  local admin_pw
  admin_pw=$(head -c 12 /dev/urandom | od -An -tx1 | tr -d ' \n')
  echo "$admin_pw" >"$dir/admin.pw"
  chmod 600 "$dir/admin.pw"
  cat >"$dir/slapd.conf" <<CONF
include /etc/ldap/schema/core.schema
include /etc/ldap/schema/cosine.schema
include /etc/ldap/schema/inetorgperson.schema
include /etc/ldap/schema/nis.schema
modulepath /usr/lib/ldap
moduleload back_mdb
moduleload memberof
moduleload ppolicy
pidfile $dir/slapd.pid
argsfile $dir/slapd.args
loglevel none
TLSCACertificateFile $dir/pki/ca.pem
TLSCertificateFile $dir/pki/server.pem
TLSCertificateKeyFile $dir/pki/server.key
sizelimit 500

database mdb
maxsize 67108864
suffix "dc=example,dc=org"
rootdn "cn=admin,dc=example,dc=org"
rootpw $admin_pw
directory $dir/data
index objectClass,member,uniqueMember,memberUid eq
index uid,cn eq,sub
overlay memberof
memberof-group-oc groupOfNames
memberof-member-ad member
memberof-memberof-ad memberOf
memberof-refint true
overlay ppolicy
access to attrs=userPassword
  by self write
  by anonymous auth
  by * none
access to dn.subtree="ou=people,dc=example,dc=org" attrs=cn,mail
  by dn.exact="cn=writer,dc=example,dc=org" write
  by users read
  by * none
access to *
  by users read
  by * none
CONF
  local tries=0
  until echo "$(free_port)" >"$dir/ldap.port" && echo "$(free_port)" >"$dir/ldaps.port" && run_server; do
    halt_server
    tries=$((tries + 1))
    [ $tries -lt 3 ] || { cat "$dir/slapd.log" >&2; die "slapd did not start"; }
  done
  # Online, so that the memberof overlay sees the groups.
  hashed_ldif "$here/directory.ldif" | ldapadd -x -H "ldap://127.0.0.1:$(cat "$dir/ldap.port")" \
    -D "cn=admin,dc=example,dc=org" -w "$admin_pw" >"$dir/load.log" 2>&1 ||
    { cat "$dir/load.log" >&2; halt_server; die "cannot load the directory"; }
  # A password an administrator set, which its user must change before anything else.
  ldappasswd -x -H "ldap://127.0.0.1:$(cat "$dir/ldap.port")" -D "cn=admin,dc=example,dc=org" -w "$admin_pw" \
    -s fresh-pw "uid=fresh,ou=people,dc=example,dc=org" >>"$dir/load.log" 2>&1 ||
    { cat "$dir/load.log" >&2; halt_server; die "cannot reset a password"; }
}

remove_dir() {
  # Only a folder this script made is emptied.
  [ -f "$dir/.ostrel-slapd" ] || return 0
  rm -rf -- "$dir/data" "$dir/pki"
  rm -f -- "$dir"/slapd.conf "$dir"/slapd.args "$dir"/slapd.log "$dir"/load.log "$dir"/*.port "$dir"/*.pem \
    "$dir/admin.pw" "$dir/.ostrel-slapd"
  rmdir "$dir" 2>/dev/null
  return 0
}

case "$action" in
  start)
    mkdir -p "$dir" || die "cannot create $dir"
    dir=$(cd "$dir" && pwd)
    halt_server
    remove_dir
    mkdir -p "$dir"
    start_server
    echo "slapd on ldap://127.0.0.1:$(cat "$dir/ldap.port") and ldaps://127.0.0.1:$(cat "$dir/ldaps.port")"
    ;;
  stop)
    [ -d "$dir" ] || exit 0
    halt_server
    remove_dir
    exit 0
    ;;
  halt)
    halt_server
    ;;
  resume)
    [ -f "$dir/ldap.port" ] || die "no server in $dir"
    run_server || { cat "$dir/slapd.log" >&2; die "slapd did not start again"; }
    ;;
  *) die "usage: slapd.sh start|stop|halt|resume DIR" ;;
esac
