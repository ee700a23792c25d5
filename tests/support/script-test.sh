# What the script tests share; sourced, never run. A script test prints what it checks, fails with the
# first check that does not hold, and skips (exit status 77, the reason on the line after
# "NAME: Skipped", as GoogleTest prints it) when this machine cannot run it.

test_name=$(basename "$0" .sh)

skip() {
  echo "$test_name: Skipped"
  echo "$*"
  exit 77
}

fail() {
  echo "$test_name: FAILED: $*" >&2
  exit 1
}

# check DESCRIPTION COMMAND [ARGS...]: runs the command and fails the test unless it succeeds.
check() {
  local what=$1
  shift
  if "$@"; then
    echo "ok: $what"
  else
    fail "$what"
  fi
}

# The lines of FILE, shown when a check on it fails.
contains() {
  local file=$1 text=$2
  grep -qF -- "$text" "$file" || {
    echo "--- $file:" >&2
    cat "$file" >&2
    return 1
  }
}

lacks() {
  local file=$1 text=$2
  ! grep -qF -- "$text" "$file" || {
    echo "--- $file:" >&2
    cat "$file" >&2
    return 1
  }
}

# A folder of the test's own, removed when the test ends.
scratch=$(mktemp -d "${TMPDIR:-/tmp}/velm-script-test.XXXXXX")
trap 'rm -rf "$scratch"' EXIT

# Skips unless a private namespace (see in_private_namespace) can be made here.
require_private_namespace() {
  [[ $(id -u) -eq 0 ]] || skip "a network namespace needs root"
  local tool
  for tool in ip unshare mount; do
    command -v "$tool" >/dev/null || skip "$tool is missing"
  done
}

# in_private_namespace SCRIPT [ARGS...]: runs SCRIPT with bash where nothing of this machine's own
# services or networks can be reached: a network namespace with only loopback (so multicast stays
# there), a /run of its own (a tmpfs, so neither the machine's system bus nor its daemons' pid files
# are seen), and a PID namespace of its own, whose processes all end when SCRIPT ends. The network
# namespace is removed afterwards; the status is SCRIPT's.
in_private_namespace() {
  local namespace=velm-script-$$
  ip netns add "$namespace" || fail "cannot make a network namespace"
  ip -n "$namespace" link set lo up
  local status=0
  # shellcheck disable=SC2016
  ip netns exec "$namespace" unshare --pid --fork --kill-child --mount-proc -- \
    bash -c 'mount -t tmpfs velm-test-run /run && exec bash "$@"' bash "$@" || status=$?
  ip netns delete "$namespace"
  return $status
}
