# Sourced by the namespace launchers: what they share to build a network of namespaces, start
# simulated modules in it, run the test program in the program's namespace and remove it all
# again, whatever happens. Exits 77 (skipped) with a reason when namespaces cannot be made here.
#   source namespaces.sh <vexa-sim>
set -uo pipefail

sim=$1

skip() {
    echo "SKIPPED: $*"
    exit 77
}
[ "$(id -u)" -eq 0 ] || skip "network namespaces need root"
command -v ip >/dev/null || skip "iproute2 (ip) is not installed"

work=$(mktemp -d)
namespaces=()
pids=()
logs=()
outputs=()

cleanup() {
    for pid in "${pids[@]}"; do
        kill "$pid" 2>/dev/null
        wait "$pid" 2>/dev/null
    done
    for ns in "${namespaces[@]}"; do
        ip netns del "$ns" 2>/dev/null
    done
    rm -rf "$work"
}
trap cleanup EXIT

# A namespace with its loopback up. The first one tells whether namespaces can be made here at
# all; a later one that cannot be made is a failure.
make_namespace() {
    if [ ${#namespaces[@]} -eq 0 ]; then
        ip netns add "$1" 2>/dev/null || skip "cannot create network namespaces here"
    else
        ip netns add "$1" || exit 1
    fi
    namespaces+=("$1")
    ip -n "$1" link set lo up
}

# A namespace holding nothing but a bridge, br0.
make_bridge() {
    make_namespace "$1"
    ip -n "$1" link add br0 type bridge || skip "cannot create a bridge"
    ip -n "$1" link set br0 up
}

# A cable: one end on the bridge, the other in the namespace as the device, with the address.
#   cable <bridge namespace> <namespace> <address/prefix> <device> <index unique per bridge>
cable() {
    local bridge=$1 ns=$2 address=$3 device=$4 index=$5
    ip -n "$bridge" link add "p$index" type veth peer name "e$index"
    ip -n "$bridge" link set "p$index" master br0 up
    ip -n "$bridge" link set "e$index" netns "$ns"
    ip -n "$ns" link set "e$index" name "$device"
    ip -n "$ns" addr add "$address" dev "$device"
    ip -n "$ns" link set "$device" up
}

# A simulated module on the module port of every address of its namespace, logging to a file of
# its own; the rest of the arguments go to the simulator.
#   start_module <namespace> [simulator options...]
start_module() {
    local ns=$1
    shift
    local n=$((${#logs[@]} + 1))
    logs+=("$work/module$n.log")
    outputs+=("$work/sim$n.out")
    ip netns exec "$ns" "$sim" --address 0.0.0.0 --port 6234 --log "$work/module$n.log" "$@" \
        >"$work/sim$n.out" 2>&1 &
    pids+=($!)
}

# Waits until every module started says it listens (5 s each at most).
await_modules() {
    local output
    for output in "${outputs[@]}"; do
        for _ in $(seq 50); do
            grep -q listening "$output" 2>/dev/null && break
            sleep 0.1
        done
        grep -q listening "$output" || { echo "a module did not start"; cat "$output"; exit 1; }
    done
}

# Runs the test program in the namespace; it learns the machine's own namespace (to refuse to
# run there) and the modules' logs.
#   run_program <namespace> <program> [arguments...]
run_program() {
    local ns=$1
    shift
    OSTREL_OUTSIDE_NETNS=$(readlink /proc/self/ns/net) OSTREL_SIM_LOGS=$(IFS=:; echo "${logs[*]}") \
        ip netns exec "$ns" "$@"
}
