#!/usr/bin/env bash
# Runs the console's discovery tests where their broadcasts cannot leave this machine: the
# program's namespace has two interfaces, eth0 on 10.71.1.1/24 and eth1 on 10.71.2.1/24, each
# cabled to a bridge of its own with simulated modules behind it; everything is made here and
# removed again, whatever happens.
#   two-subnets-in-namespaces.sh <vexa-sim> <test program> [test arguments...]
# Modules: M1 10.71.1.21 behind eth0; M2 10.71.2.22 and M3 reporting 10.71.2.22 too (another
# MAC) behind eth1; M4 behind eth0 reporting 10.99.0.4, outside eth0's subnet.
# Exits 77 (skipped) with a reason when namespaces cannot be made here.
set -uo pipefail

sim=$1
program=$2
shift 2

skip() {
    echo "SKIPPED: $*"
    exit 77
}
[ "$(id -u)" -eq 0 ] || skip "network namespaces need root"
command -v ip >/dev/null || skip "iproute2 (ip) is not installed"

tag="ostrelcli$$"
host="$tag-host"
bridges=("$tag-br1" "$tag-br2")
names=("$tag-m1" "$tag-m2" "$tag-m3" "$tag-m4")
binds=(10.71.1.21 10.71.2.22 10.71.2.23 10.71.1.24)
reports=(10.71.1.21 10.71.2.22 10.71.2.22 10.99.0.4)
macs=(00-50-C2-00-01-21 00-50-C2-00-02-22 00-50-C2-00-02-23 00-50-C2-00-01-24)
sides=(0 1 1 0)
work=$(mktemp -d)
pids=()

cleanup() {
    for pid in "${pids[@]}"; do
        kill "$pid" 2>/dev/null
        wait "$pid" 2>/dev/null
    done
    for ns in "$host" "${names[@]}" "${bridges[@]}"; do
        ip netns del "$ns" 2>/dev/null
    done
    rm -rf "$work"
}
trap cleanup EXIT

ip netns add "$host" 2>/dev/null || skip "cannot create network namespaces here"
ip -n "$host" link set lo up
for side in 0 1; do
    bridge=${bridges[$side]}
    ip netns add "$bridge"
    ip -n "$bridge" link add br0 type bridge || skip "cannot create a bridge"
    ip -n "$bridge" link set br0 up
done

# One end of a cable on the bridge of its side, the other in the namespace as the device named.
connect() {
    local ns=$1 side=$2 address=$3 device=$4 index=$5
    local bridge=${bridges[$side]}
    ip -n "$bridge" link add "p$index" type veth peer name "e$index"
    ip -n "$bridge" link set "p$index" master br0 up
    ip -n "$bridge" link set "e$index" netns "$ns"
    ip -n "$ns" link set "e$index" name "$device"
    ip -n "$ns" addr add "$address/24" dev "$device"
    ip -n "$ns" link set "$device" up
}

set -e
connect "$host" 0 10.71.1.1 eth0 0
connect "$host" 1 10.71.2.1 eth1 10
logs=()
for i in 0 1 2 3; do
    ip netns add "${names[$i]}"
    ip -n "${names[$i]}" link set lo up
    connect "${names[$i]}" "${sides[$i]}" "${binds[$i]}" eth0 $((i + 1))
    log="$work/module$((i + 1)).log"
    logs+=("$log")
    ip netns exec "${names[$i]}" "$sim" --address 0.0.0.0 --port 6234 --ip "${reports[$i]}" \
        --mac "${macs[$i]}" --name "M$((i + 1))" --log "$log" >"$work/sim$i.out" 2>&1 &
    pids+=($!)
done
set +e

for i in 0 1 2 3; do
    for _ in $(seq 50); do
        grep -q listening "$work/sim$i.out" 2>/dev/null && break
        sleep 0.1
    done
    grep -q listening "$work/sim$i.out" || { echo "module $i did not start"; cat "$work/sim$i.out"; exit 1; }
done

OSTREL_OUTSIDE_NETNS=$(readlink /proc/self/ns/net) OSTREL_SIM_LOGS=$(IFS=:; echo "${logs[*]}") \
    ip netns exec "$host" "$program" "$@"
