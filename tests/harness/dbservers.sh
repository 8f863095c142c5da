#!/usr/bin/env bash
# Throw-away database servers for the test suite.
#
#   dbservers.sh start DIR     start a PostgreSQL and a MariaDB server, each on a free loopback port
#                              with its data under /tmp, each with the database "ostrel_test" and a
#                              user "ostrel" with a password; write their connect strings to
#                              DIR/pg.conn and DIR/mysql.conn
#   dbservers.sh stop DIR      stop both and remove their data; succeeds whatever state start left
#   dbservers.sh restart DIR postgresql|mysql
#                              restart one server on the same port and data (drops every session)
#   dbservers.sh halt DIR postgresql|mysql, dbservers.sh resume DIR postgresql|mysql
#                              the two halves of restart, for a test that needs the server away a while
#
# The "ostrel" user may create and drop databases named ostrel... (MariaDB), and schemas in
# ostrel_test and databases (PostgreSQL), so each test can work in a scratch database of its own.
# The PostgreSQL templates that tests copy their databases from (TestDatabases.h) go with the server.
set -uo pipefail

die() {
  echo "dbservers.sh: $*" >&2
  exit 1
}

usage() {
  die "usage: dbservers.sh start|stop DIR, or dbservers.sh restart|halt|resume DIR postgresql|mysql"
}

[ $# -ge 2 ] || usage
# shellcheck source=serverlib.sh
. "$(dirname "${BASH_SOURCE[0]}")/serverlib.sh"
close_inherited_files
action=$1
dir=$2
mkdir -p "$dir" || die "cannot create $dir"
dir=$(cd "$dir" && pwd)

pg_bin() {
  local bin
  bin=$(ls -d /usr/lib/postgresql/*/bin 2>/dev/null | sort -V | tail -n 1)
  [ -n "$bin" ] && [ -x "$bin/initdb" ] || die "PostgreSQL server binaries not found (Debian package postgresql)"
  echo "$bin"
}

new_password() {
  head -c 18 /dev/urandom | od -An -tx1 | tr -d ' \n'
}

# Only directories this script made are ever removed.
remove_data() {
  case "$1" in
    /tmp/ostrel-pg.* | /tmp/ostrel-my.*) rm -rf -- "$1" ;;
    *) echo "dbservers.sh: not removing unexpected path '$1'" >&2 ;;
  esac
}

# SQLite scratch files (TestDatabases.h) whose test process is gone: a test that crashed or was
# killed never ran the destructor that removes them.
remove_sqlite_leftovers() {
  local file pid
  for file in /tmp/ostrel-sqlite-*; do
    [ -e "$file" ] || continue
    pid=${file#/tmp/ostrel-sqlite-}
    pid=${pid%%-*}
    case "$pid" in '' | *[!0-9]*) continue ;; esac
    kill -0 "$pid" 2>/dev/null || rm -f -- "$file"
  done
}

stop_postgresql() {
  [ -f "$dir/pg.datadir" ] || return 0
  local data pid
  data=$(cat "$dir/pg.datadir")
  if [ -f "$data/data/postmaster.pid" ]; then
    runuser -u postgres -- "$(pg_bin)/pg_ctl" -D "$data/data" -m immediate -w -t 30 stop >/dev/null 2>&1
    if [ -f "$data/data/postmaster.pid" ]; then
      pid=$(head -n 1 "$data/data/postmaster.pid")
      [ -n "$pid" ] && kill -9 "$pid" 2>/dev/null
      sleep 1
    fi
  fi
  remove_data "$data"
  rm -f "$dir/pg.datadir" "$dir/pg.conn" "$dir/pg.port"
}

stop_mysql() {
  [ -f "$dir/mysql.datadir" ] || return 0
  local data pid waited=0
  data=$(cat "$dir/mysql.datadir")
  if [ -f "$data/mariadbd.pid" ]; then
    pid=$(cat "$data/mariadbd.pid")
    if [ -n "$pid" ] && kill "$pid" 2>/dev/null; then
      while kill -0 "$pid" 2>/dev/null && [ $waited -lt 60 ]; do
        sleep 0.5
        waited=$((waited + 1))
      done
      kill -9 "$pid" 2>/dev/null
    fi
  fi
  remove_data "$data"
  rm -f "$dir/mysql.datadir" "$dir/mysql.conn" "$dir/mysql.port"
}

pg_server_start() {
  local data=$1 port=$2
  runuser -u postgres -- "$(pg_bin)/pg_ctl" -D "$data/data" -l "$data/server.log" -w -t 60 \
    -o "-p $port -k $data -c listen_addresses=127.0.0.1 -c fsync=off -c synchronous_commit=off -c full_page_writes=off -c shared_buffers=16MB -c max_connections=300" \
    start >/dev/null
}

start_postgresql() {
  local bin data port password
  bin=$(pg_bin)
  data=$(mktemp -d /tmp/ostrel-pg.XXXXXX) || die "cannot make a PostgreSQL data directory"
  echo "$data" >"$dir/pg.datadir"
  chown postgres:postgres "$data" && chmod 700 "$data" || die "cannot hand $data to the postgres user"
  # Sessions on the socket (the harness itself) are trusted; TCP sessions need the password.
  runuser -u postgres -- "$bin/initdb" -D "$data/data" -U postgres --auth-local=trust \
    --auth-host=scram-sha-256 -E UTF8 --no-locale >"$data/initdb.log" 2>&1 ||
    { cat "$data/initdb.log" >&2; die "PostgreSQL initdb failed"; }
  # A port free when probed may be taken before the server binds it: try another.
  local tries=0
  until port=$(free_port) && pg_server_start "$data" "$port"; do
    tries=$((tries + 1))
    [ $tries -lt 3 ] || { cat "$data/server.log" >&2; die "PostgreSQL did not start on port $port"; }
  done
  password=$(new_password)
  runuser -u postgres -- "$bin/psql" -h "$data" -p "$port" -U postgres -d postgres -q -v ON_ERROR_STOP=1 \
    -c "CREATE ROLE ostrel LOGIN CREATEDB PASSWORD '$password'" \
    -c "CREATE DATABASE ostrel_test OWNER ostrel ENCODING 'UTF8' TEMPLATE template0" >/dev/null ||
    die "cannot create the PostgreSQL user and database"
  echo "$port" >"$dir/pg.port"
  echo "engine=postgresql;host=127.0.0.1;port=$port;user=ostrel;password=$password;database=ostrel_test;sslmode=disable;connect_timeout=10" >"$dir/pg.conn"
}

my_server_start() {
  local data=$1 port=$2 waited=0
  setsid mariadbd --no-defaults --user=root --datadir="$data/data" --port="$port" --bind-address=127.0.0.1 \
    --socket="$data/mariadbd.sock" --pid-file="$data/mariadbd.pid" --log-error="$data/error.log" \
    --skip-log-bin --skip-name-resolve --innodb-buffer-pool-size=32M --innodb-flush-log-at-trx-commit=0 \
    --innodb-doublewrite=0 --max-connections=300 --character-set-server=utf8mb4 \
    --collation-server=utf8mb4_bin </dev/null >/dev/null 2>&1 &
  local pid=$!
  until mariadb-admin --no-defaults --socket="$data/mariadbd.sock" -uroot ping >/dev/null 2>&1; do
    if ! kill -0 "$pid" 2>/dev/null || [ $waited -ge 120 ]; then
      cat "$data/error.log" >&2 2>/dev/null
      return 1
    fi
    sleep 0.5
    waited=$((waited + 1))
  done
}

start_mysql() {
  local data port password
  data=$(mktemp -d /tmp/ostrel-my.XXXXXX) || die "cannot make a MariaDB data directory"
  echo "$data" >"$dir/mysql.datadir"
  mariadb-install-db --no-defaults --user=root --datadir="$data/data" --auth-root-authentication-method=socket \
    --skip-test-db >"$data/install.log" 2>&1 || { cat "$data/install.log" >&2; die "mariadb-install-db failed"; }
  local tries=0
  until port=$(free_port) && my_server_start "$data" "$port"; do
    tries=$((tries + 1))
    [ $tries -lt 3 ] || die "MariaDB did not start on port $port"
  done
  password=$(new_password)
  # Collation utf8mb4_bin: text compares case-sensitively, as on the other engines.
  mariadb --no-defaults --socket="$data/mariadbd.sock" -uroot -e "
    CREATE DATABASE ostrel_test CHARACTER SET utf8mb4 COLLATE utf8mb4_bin;
    CREATE USER 'ostrel'@'127.0.0.1' IDENTIFIED BY '$password';
    CREATE USER 'ostrel'@'localhost' IDENTIFIED BY '$password';
    GRANT ALL PRIVILEGES ON \`ostrel%\`.* TO 'ostrel'@'127.0.0.1';
    GRANT ALL PRIVILEGES ON \`ostrel%\`.* TO 'ostrel'@'localhost';" ||
    die "cannot create the MariaDB user and database"
  echo "$port" >"$dir/mysql.port"
  echo "engine=mysql;host=127.0.0.1;port=$port;user=ostrel;password=$password;database=ostrel_test;connect_timeout=10" >"$dir/mysql.conn"
}

case "$action" in
  start)
    command -v runuser >/dev/null || die "runuser not found"
    id postgres >/dev/null 2>&1 || die "no postgres user (Debian package postgresql)"
    command -v mariadbd >/dev/null || die "mariadbd not found (Debian package mariadb-server)"
    # Whatever an earlier run left behind goes first.
    stop_postgresql
    stop_mysql
    rm -rf -- "$dir/templates"
    # A server that fails takes the other one down too, so nothing is left running.
    (start_postgresql) || { stop_postgresql; stop_mysql; die "PostgreSQL failed to start"; }
    (start_mysql) || { stop_postgresql; stop_mysql; die "MariaDB failed to start"; }
    echo "PostgreSQL on port $(cat "$dir/pg.port"), MariaDB on port $(cat "$dir/mysql.port")"
    ;;
  stop)
    stop_postgresql
    stop_mysql
    rm -rf -- "$dir/templates"
    remove_sqlite_leftovers
    exit 0
    ;;
  restart | halt | resume)
    [ $# -eq 3 ] || usage
    case "$3" in
      postgresql)
        [ -f "$dir/pg.datadir" ] || die "no PostgreSQL server in $dir"
        data=$(cat "$dir/pg.datadir")
        if [ "$action" != resume ]; then
          runuser -u postgres -- "$(pg_bin)/pg_ctl" -D "$data/data" -m fast -w -t 60 stop >/dev/null ||
            die "PostgreSQL did not stop"
        fi
        if [ "$action" != halt ]; then
          pg_server_start "$data" "$(cat "$dir/pg.port")" || die "PostgreSQL did not start again"
        fi
        ;;
      mysql)
        [ -f "$dir/mysql.datadir" ] || die "no MariaDB server in $dir"
        data=$(cat "$dir/mysql.datadir")
        if [ "$action" != resume ]; then
          mariadb-admin --no-defaults --socket="$data/mariadbd.sock" -uroot shutdown || die "MariaDB did not stop"
        fi
        if [ "$action" != halt ]; then
          my_server_start "$data" "$(cat "$dir/mysql.port")" || die "MariaDB did not start again"
        fi
        ;;
      *) usage ;;
    esac
    ;;
  *) usage ;;
esac
