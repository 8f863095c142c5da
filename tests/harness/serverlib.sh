# Sourced by the scripts that start throw-away servers for the tests (dbservers.sh, ../ldap/slapd.sh).
# They define die() first.

# The servers outlive the script that starts them: they must not inherit what its caller had open
# (a lock a build holds, a pipe ctest reads), or they would hold it for their whole life.
close_inherited_files() {
  local fd
  for fd in /proc/$$/fd/*; do
    fd=${fd##*/}
    [ "$fd" -gt 2 ] 2>/dev/null && eval "exec $fd>&-" 2>/dev/null
  done
  return 0
}

# A loopback port nobody listens on. Ports are probed from a random start so that parallel
# harnesses (several build trees) rarely collide, below the range the system hands out to outgoing
# connections: a port an outgoing connection holds (or one just closed) cannot be bound either,
# and the suites make thousands of them.
free_port() {
  local port tries=0 low=32768
  read -r low _ </proc/sys/net/ipv4/ip_local_port_range 2>/dev/null || low=32768
  [ "$low" -gt 12000 ] || low=32768
  port=$((10000 + RANDOM % (low - 11000)))
  while [ $tries -lt 200 ]; do
    if ! (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null; then
      echo "$port"
      return 0
    fi
    port=$((port + 1))
    tries=$((tries + 1))
  done
  die "no free loopback port found"
}
