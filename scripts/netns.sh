#!/usr/bin/env bash
# Creates (once) the network namespace "tarvolin-e2e" in which the end-to-end tests run: only a
# loopback interface, and a hosts file of its own (ip netns exec mounts it over /etc/hosts) that
# maps the two download hosts to 127.0.0.1, so the servers of the tests answer them and no packet
# leaves the machine. Idempotent: safe to run before every test run. An optional argument names
# another namespace of the same make, for a second bench that must not share port 443.
set -euo pipefail
ns=${1:-tarvolin-e2e}
hosts_dir=/etc/netns/$ns

mkdir -p "$hosts_dir"
hosts_text="127.0.0.1 localhost
::1 localhost ip6-localhost ip6-loopback
127.0.0.1 get.tarvolin.example
127.0.0.1 test.tarvolin.example
127.0.0.1 other.tarvolin.example"
if [ ! -f "$hosts_dir/hosts" ] || [ "$(cat "$hosts_dir/hosts")" != "$hosts_text" ]; then
  printf '%s\n' "$hosts_text" >"$hosts_dir/hosts"
fi

if ! ip netns list | awk '{print $1}' | grep -qx "$ns"; then
  ip netns add "$ns"
fi
ip -n "$ns" link set lo up

# Check: the names resolve to loopback inside the namespace.
ip netns exec "$ns" getent hosts get.tarvolin.example | grep -q '^127\.0\.0\.1 ' || {
  echo "netns.sh: get.tarvolin.example does not resolve to 127.0.0.1 in $ns" >&2
  exit 1
}
