#!/usr/bin/env bash
# Runs the real-broadcast test inside private network namespaces:
#   app namespace:    veth0 10.77.0.1/24, default route via the gateway
#                     10.77.0.254 and no 169.254/16 route, as on an ordinary LAN
#   device namespace: veth1 10.77.0.2/24
# The search goes to 255.255.255.255:10024 and can only ever reach veth1.
# Root is not needed (a normal user's namespaces live in a user namespace of
# their own, tools/private-net.sh). Exits 77 (skipped) with one message when
# the namespaces cannot be made.
# Usage: netns-broadcast.sh <test_discovery_netns binary>
set -uo pipefail
BIN=${1:?test binary}

skip() { echo "skipped: $*"; exit 77; }
if [ "${FIELDMON_IN_NETNS:-}" != 1 ]; then
  # shellcheck source=tools/private-net.sh
  . "$(dirname "$0")/../../tools/private-net.sh"
  private_net_command netns-broadcast.sh
  exec env FIELDMON_IN_NETNS=1 "${PRIVATE_NET[@]}" "$0" "$@"
fi

# Inside the app namespace now. The device namespace lives as long as this
# holder process, which is bounded in time.
unshare --net sleep 60 &
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

FIELDMON_NETNS_DEVICE=/proc/$holder/ns/net timeout 30 "$BIN"
