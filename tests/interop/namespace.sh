# Sourced by the interop tests.  A test runs in a network namespace of its
# own, where port 111 and every address are its own and nothing outside is
# ever a target; a requirement that is missing skips it (exit 77).
skip() {
  echo "skipped: $*"
  exit 77
}
# Runs the script ("$0" "$@") again inside a new network namespace, once.
enter_namespace() {
  [ "${IN_NAMESPACE:-}" = 1 ] && return 0
  unshare --net true 2>/dev/null || skip "no network namespaces here (needs root)"
  IN_NAMESPACE=1 exec unshare --net bash "$@"
}
