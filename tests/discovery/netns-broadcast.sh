#!/usr/bin/env bash
# Runs the real-broadcast test inside private network namespaces:
#   app namespace:    veth0 10.77.0.1/24, default route via the gateway
#                     10.77.0.254 and no 169.254/16 route, as on an ordinary LAN
#   device namespace: veth1 10.77.0.2/24
# The search goes to 255.255.255.255:10024 and can only ever reach veth1.
# Exits 77 (skipped) when the namespaces cannot be made.
# Usage: netns-broadcast.sh <test_discovery binary>
set -uo pipefail
BIN=${1:?test binary}

skip() { echo "skipped: $*"; exit 77; }
[ "$(id -u)" -eq 0 ] || skip "needs root to make network namespaces"
for tool in unshare ip; do
  command -v "$tool" >/dev/null || skip "$tool is not installed"
done
unshare -n true 2>/dev/null || skip "unshare -n is not permitted here"

if [ "${FIELDMON_IN_NETNS:-}" != 1 ]; then
  exec env FIELDMON_IN_NETNS=1 unshare -n "$0" "$@"
fi

# Inside the app namespace now. The device namespace lives as long as this
# holder process, which is bounded in time.
unshare -n sleep 60 &
holder=$!
trap 'kill $holder 2>/dev/null' EXIT
# Wait until the holder is in its own namespace (bounded).
for _ in $(seq 50); do
  [ "$(readlink /proc/$holder/ns/net 2>/dev/null)" != "$(readlink /proc/$$/ns/net)" ] && break
  sleep 0.1
done
[ "$(readlink /proc/$holder/ns/net 2>/dev/null)" != "$(readlink /proc/$$/ns/net)" ] || skip "the device namespace did not come up"

ip link set lo up
ip link add veth0 type veth peer name veth1 || skip "veth links are not available"
ip link set veth1 netns "$holder"
ip addr add 10.77.0.1/24 dev veth0
ip link set veth0 up
ip route add default via 10.77.0.254 dev veth0
nsenter -t "$holder" -n sh -c 'ip link set lo up && ip addr add 10.77.0.2/24 dev veth1 && ip link set veth1 up'

# Both ends must carry traffic before the first search goes out (bounded).
for _ in $(seq 50); do
  ip -o link show veth0 | grep -q 'state UP' &&
    nsenter -t "$holder" -n ip -o link show veth1 | grep -q 'state UP' && break
  sleep 0.1
done

FIELDMON_NETNS_DEVICE=/proc/$holder/ns/net timeout 30 "$BIN" --gtest_filter='BroadcastNamespace.*'
