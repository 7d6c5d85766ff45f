#!/usr/bin/env bash
# Runs the console's discovery tests where their broadcasts cannot leave this machine: the
# program's namespace has two interfaces, eth0 on 10.71.1.1/24 and eth1 on 10.71.2.1/24, each
# cabled to a bridge of its own with simulated modules behind it.
#   two-subnets-in-namespaces.sh <vexa-sim> <test program> [test arguments...]
# Modules: M1 10.71.1.21 behind eth0; M2 10.71.2.22 and M3 reporting 10.71.2.22 too (another
# MAC) behind eth1; M4 behind eth0 reporting 10.99.0.4, outside eth0's subnet.
source "$(dirname "$0")/namespaces.sh" "$1"
program=$2
shift 2

tag="ostrelcli$$"
host="$tag-host"
bridges=("$tag-br1" "$tag-br2")
binds=(10.71.1.21 10.71.2.22 10.71.2.23 10.71.1.24)
reports=(10.71.1.21 10.71.2.22 10.71.2.22 10.99.0.4)
macs=(00-50-C2-00-01-21 00-50-C2-00-02-22 00-50-C2-00-02-23 00-50-C2-00-01-24)
sides=(0 1 1 0)

make_namespace "$host"
make_bridge "${bridges[0]}"
make_bridge "${bridges[1]}"
set -e
cable "${bridges[0]}" "$host" 10.71.1.1/24 eth0 0
cable "${bridges[1]}" "$host" 10.71.2.1/24 eth1 10
for i in 0 1 2 3; do
    make_namespace "$tag-m$((i + 1))"
    cable "${bridges[${sides[$i]}]}" "$tag-m$((i + 1))" "${binds[$i]}/24" eth0 $((i + 1))
    start_module "$tag-m$((i + 1))" --ip "${reports[$i]}" --mac "${macs[$i]}" --name "M$((i + 1))"
done
set +e

await_modules
run_program "$host" "$program" "$@"
