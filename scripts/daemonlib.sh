# Sourced by the scripts that start an ostreld of their own (the demo, the package test): at their
# exit the daemon stops, and its log is shown when the script failed. They set daemon_pid and keep
# the log in $work/ostreld.log.

# stop_daemon STATUS
stop_daemon() {
  if [ -n "${daemon_pid:-}" ] && kill -0 "$daemon_pid" 2>/dev/null; then
    kill -TERM "$daemon_pid" 2>/dev/null || true
    wait "$daemon_pid" 2>/dev/null || true
  fi
  if [ "$1" -ne 0 ] && [ -s "$work/ostreld.log" ]; then
    echo "--- ostreld log ---" >&2
    cat "$work/ostreld.log" >&2
  fi
}
