# What the sandbox scripts share; sourced, never run. Every process is ended by the id that was
# recorded when it was launched, and only while it is still that program.

usage() {
  echo "usage: $0 start|stop STATE_DIR" >&2
  exit 2
}

# Runs the script's own start or stop on STATE_DIR (the global `state` they use); a start that fails
# is undone by stop.
run_sandbox() {
  [[ $# -eq 2 ]] || usage
  state=$2
  case "$1" in
    start) start || { stop; exit 1; } ;;
    stop) stop ;;
    *) usage ;;
  esac
}

# True when the process is alive and still the program we launched (ids get reused).
is_ours() {
  local pid=$1 program=$2
  [[ -n "$pid" && -r /proc/$pid/cmdline ]] || return 1
  tr '\0' '\n' </proc/"$pid"/cmdline | head -n 1 | grep -q "$program"
}

end_process() {
  local file=$1 program=$2
  [[ -f "$file" ]] || return 0
  local pid
  pid=$(cat "$file")
  if is_ours "$pid" "$program"; then
    kill -TERM "$pid" 2>/dev/null || true
    for _ in $(seq 50); do
      is_ours "$pid" "$program" || break
      sleep 0.1
    done
    is_ours "$pid" "$program" && kill -KILL "$pid" 2>/dev/null || true
  fi
  rm -f "$file"
}

wait_for() {
  local what=$1 test=$2
  for _ in $(seq 100); do
    eval "$test" && return 0
    sleep 0.1
  done
  echo "$(basename "$0" .sh): $what did not come up" >&2
  return 1
}
