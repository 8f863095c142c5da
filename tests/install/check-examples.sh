#!/usr/bin/env bash
# check-examples.sh BUILD_DIR PREFIX EXAMPLES_DIR   (PREFIX: where BUILD_DIR is installed)
#
# Builds each example as a separate project against the installed package and runs it against the
# installed ostreld on a fresh SQLite database of the sample organisation (tests/capi/real_daemon.sh).
# Each must log alice in, find role 1 of product 10 held and permission 2 (revoked for her alone) not
# held, keep, resume and end her session; and refuse a wrong password with its own message and exit
# status 1, without showing the password.
set -euo pipefail
build=$1
prefix=$2
examples=$3
real_daemon=$(dirname "$0")/../capi/real_daemon.sh
work=$(mktemp -d)

finish() {
  local status=$?
  if [ -s "$work/daemon/pid" ]; then
    bash "$real_daemon" stop "$work/daemon" || status=1  # fails on a sanitizer report in its log
  fi
  rm -rf "$work"
  exit "$status"
}
trap finish EXIT
trap 'exit 143' INT TERM

# The tree's sanitizers, whose runtime its libraries need, and its warnings as errors.
san=$(sed -n 's/^OSTREL_SANITIZE:STRING=//p' "$build/CMakeCache.txt")
flags="-Wall -Wextra -Werror${san:+ -fsanitize=$san}"
for example in c cpp; do
  { cmake -S "$examples/$example" -B "$work/$example" -DCMAKE_PREFIX_PATH="$prefix" \
      -DCMAKE_C_FLAGS="$flags" -DCMAKE_CXX_FLAGS="$flags" --no-warn-unused-cli &&
    cmake --build "$work/$example"; } >"$work/$example.log" 2>&1 || { cat "$work/$example.log"; exit 1; }
done
# The README's pkg-config lines build them too.
libs=$(PKG_CONFIG_PATH="$prefix/lib/pkgconfig" pkg-config --cflags --libs ostrel)
g++ -std=c++17 $flags "$examples/cpp/main.cpp" -o "$work/cpp-pkg-config" $libs
cc $flags "$examples/c/main.c" -o "$work/c-pkg-config" $libs

plugin=$(find "$prefix" -name libOstrelAuthSql.so | head -n 1)
sql=$(find "$prefix" -name sqlite.sql | head -n 1)
[ -n "$plugin" ] && [ -n "$sql" ] || { echo "the password plug-in or the schema is not installed"; exit 1; }
bash "$real_daemon" start "$work/daemon" "$prefix/bin/ostrel-admin" "$prefix/bin/ostreld" "$plugin" \
  "$(dirname "$sql")" >/dev/null
address=$(head -n 1 "$work/daemon/address")

# The settings files as the README shows them.
cat >"$work/rcostrel" <<EOF
<HKLM><Tessaly><Ostrel>
  <Connect>$address</Connect>
</Ostrel></Tessaly></HKLM>
EOF
cat >"$work/user-rcostrel" <<EOF
<HKCU><Tessaly><Ostrel>
  <Domain>EAST</Domain>
  <UserId>alice</UserId>
  <Profile>default</Profile>
</Ostrel></Tessaly></HKCU>
EOF

expected="logged in: EAST/alice (Alice Example): role 1 held, permission 2 not held
resumed: EAST/alice (Alice Example): role 1 held, permission 2 not held
signed off"

# check NAME COMMAND...
check() {
  local name=$1 status=0
  shift
  echo alice-s3cret | "$@" >"$work/out" 2>"$work/err" || status=$?
  if [ "$status" -ne 0 ] || [ "$(cat "$work/out")" != "$expected" ]; then
    echo "$name: exit status $status, printed:"; cat "$work/out" "$work/err"; exit 1
  fi
  status=0
  echo not-her-password | "$@" >"$work/out" 2>"$work/err" || status=$?
  if [ "$status" -ne 1 ] || [ -s "$work/out" ] || ! grep -q "^$name: " "$work/err" ||
     grep -q not-her-password "$work/out" "$work/err"; then
    echo "$name, wrong password: exit status $status, printed:"; cat "$work/out" "$work/err"; exit 1
  fi
  echo "$name: ok"
}
check c-example "$work/c/c-example" "$address" EAST/alice
check cpp-example "$work/cpp/cpp-example" "$work/rcostrel" "$work/user-rcostrel"
