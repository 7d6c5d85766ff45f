#!/usr/bin/env bash
# Runs the discovery tests where their broadcasts cannot leave this machine: a bridge in a
# namespace of its own, one namespace per simulated module and one for the program.
#   discovery-in-namespaces.sh <vexa-sim> <test program> [test arguments...]
source "$(dirname "$0")/namespaces.sh" "$1"
program=$2
shift 2

tag="ostrel$$"
bridge="$tag-br"
host="$tag-host"
addresses=(192.168.2.21 192.168.2.22 192.168.2.23)
macs=(00-50-C2-00-00-21 00-50-C2-00-00-22 00-50-C2-00-00-23)
extra=("" "" "--duplicate")

make_bridge "$bridge"
set -e
make_namespace "$host"
cable "$bridge" "$host" 192.168.2.10/24 eth0 0
# The limited broadcast needs a route; it exists only inside the program's namespace.
ip -n "$host" route add default dev eth0
for i in 0 1 2; do
    make_namespace "$tag-m$((i + 1))"
    cable "$bridge" "$tag-m$((i + 1))" "${addresses[$i]}/24" eth0 $((i + 1))
    # shellcheck disable=SC2086
    start_module "$tag-m$((i + 1))" --ip "${addresses[$i]}" --mac "${macs[$i]}" \
        --name "IO-$((i + 1))" ${extra[$i]}
done
set +e

await_modules
QT_QPA_PLATFORM=offscreen run_program "$host" "$program" "$@"
