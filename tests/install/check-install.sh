#!/usr/bin/env bash
# check-install.sh BUILD_DIR PREFIX CONSUMER_SOURCE_DIR   (PREFIX: where BUILD_DIR is installed)
set -euo pipefail
build=$1
prefix=$2
consumer=$3
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
libs=$(cat "$build/ostrel-libraries.txt")
for lib in ${libs//;/ }; do
  [ -e "$prefix/lib/lib$lib.so" ] || { echo "missing $prefix/lib/lib$lib.so"; exit 1; }
done
[ -f "$prefix/lib/pkgconfig/ostrel.pc" ] || { echo "missing ostrel.pc"; exit 1; }
# The unit starts the daemon where it was installed, not where the build was configured to go.
grep -qxF "ExecStart=$prefix/bin/ostreld --config $prefix/etc/ostrel/ostreld.conf" \
  "$prefix/lib/systemd/system/ostreld.service" || { echo "the unit does not name $prefix"; exit 1; }
# The consumer is built with the same sanitizer flags as the tree it links.
flags=$(sed -n 's/^CMAKE_CXX_FLAGS:STRING=//p' "$build/CMakeCache.txt")
san=$(sed -n 's/^OSTREL_SANITIZE:STRING=//p' "$build/CMakeCache.txt")
[ -n "$san" ] && flags="$flags -fsanitize=$san"
cmake -S "$consumer" -B "$work/consumer" -DCMAKE_PREFIX_PATH="$prefix" -DOSTREL_TARGETS="$libs" \
  -DCMAKE_CXX_FLAGS="$flags" > "$work/configure.log" || { cat "$work/configure.log"; exit 1; }
cmake --build "$work/consumer" > "$work/build.log" || { cat "$work/build.log"; exit 1; }
"$work/consumer/consumer"
# pkg-config gives the same libraries to a plain compiler line.
PKG_CONFIG_PATH="$prefix/lib/pkgconfig" pkg-config --exists ostrel
g++ -std=c++17 $flags "$consumer/main.cpp" -o "$work/pc-consumer" \
  -DOSTREL_EXPECTED_VERSION="\"$(PKG_CONFIG_PATH="$prefix/lib/pkgconfig" pkg-config --modversion ostrel)\"" \
  $(PKG_CONFIG_PATH="$prefix/lib/pkgconfig" pkg-config --cflags --libs ostrel)
"$work/pc-consumer"
