#!/usr/bin/env bash
# Runs the discovery tests where their broadcasts cannot leave this machine: a bridge in a
# namespace of its own, one namespace per simulated module and one for the program, all made
# here and removed again, whatever happens.
#   discovery-in-namespaces.sh <vexa-sim> <test program> [test arguments...]
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

tag="ostrel$$"
bridge="$tag-br"
host="$tag-host"
names=("$tag-m1" "$tag-m2" "$tag-m3")
addresses=(192.168.2.21 192.168.2.22 192.168.2.23)
macs=(00-50-C2-00-00-21 00-50-C2-00-00-22 00-50-C2-00-00-23)
extra=("" "" "--duplicate")
work=$(mktemp -d)
pids=()

cleanup() {
    for pid in "${pids[@]}"; do
        kill "$pid" 2>/dev/null
        wait "$pid" 2>/dev/null
    done
    for ns in "$host" "${names[@]}" "$bridge"; do
        ip netns del "$ns" 2>/dev/null
    done
    rm -rf "$work"
}
trap cleanup EXIT

ip netns add "$bridge" 2>/dev/null || skip "cannot create network namespaces here"
ip -n "$bridge" link add br0 type bridge || skip "cannot create a bridge"
ip -n "$bridge" link set br0 up

# One end of each cable on the bridge, the other in the endpoint's namespace.
connect() {
    local ns=$1 address=$2 index=$3
    ip netns add "$ns"
    ip -n "$bridge" link add "p$index" type veth peer name "e$index"
    ip -n "$bridge" link set "p$index" master br0 up
    ip -n "$bridge" link set "e$index" netns "$ns"
    ip -n "$ns" link set lo up
    ip -n "$ns" link set "e$index" name eth0
    ip -n "$ns" addr add "$address/24" dev eth0
    ip -n "$ns" link set eth0 up
}

set -e
connect "$host" 192.168.2.10 0
# The limited broadcast needs a route; it exists only inside the program's namespace.
ip -n "$host" route add default dev eth0
logs=()
for i in 0 1 2; do
    connect "${names[$i]}" "${addresses[$i]}" $((i + 1))
    log="$work/module$((i + 1)).log"
    logs+=("$log")
    # shellcheck disable=SC2086
    ip netns exec "${names[$i]}" "$sim" --address 0.0.0.0 --port 6234 --ip "${addresses[$i]}" \
        --mac "${macs[$i]}" --name "IO-$((i + 1))" --log "$log" ${extra[$i]} >"$work/sim$i.out" 2>&1 &
    pids+=($!)
done
set +e

for i in 0 1 2; do
    for _ in $(seq 50); do
        grep -q listening "$work/sim$i.out" 2>/dev/null && break
        sleep 0.1
    done
    grep -q listening "$work/sim$i.out" || { echo "module $i did not start"; cat "$work/sim$i.out"; exit 1; }
done

OSTREL_OUTSIDE_NETNS=$(readlink /proc/self/ns/net) OSTREL_SIM_LOGS=$(IFS=:; echo "${logs[*]}") \
    QT_QPA_PLATFORM=offscreen \
    ip netns exec "$host" "$program" "$@"
