#!/usr/bin/env bash
# Wire traces read back by Debian's tshark with the project's dissector: a whole update's trace
# holds every datagram the simulator saw, in order; the dissector reads Program, Verify and the
# management reply, flags a bad frame CRC and a cut datagram and goes on after them; a trace
# that cannot be made stops the console before anything is sent; a full disk cuts the trace,
# not the update; a fleet writes one file; the window writes one too. Loopback only.
#   trace-with-tshark.sh <ostrel-cli> <vexa-sim> <source dir> [<ostrel>]
set -euo pipefail
cli=$1 sim=$2 source=$3 window=${4:-}
dissector=$source/packaging/wireshark/vexa.lua
firmware=$source/examples/sample-firmware.hex
work=$(mktemp -d)
sims=()
cleanup() {
    for pid in "${sims[@]}"; do kill "$pid" 2>/dev/null || true; done
    for pid in "${sims[@]}"; do wait "$pid" 2>/dev/null || true; done
    rm -rf "$work"
}
trap cleanup EXIT
export OSTREL_LEDGER=off XDG_CONFIG_HOME=$work
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

# A simulator on 127.0.47.<n> that logs into $work/sim<n>.log.
start_sim() {
    "$sim" --address "127.0.47.$1" --log "$work/sim$1.log" --stop-with-parent "${@:2}" >"$work/sim$1.out" &
    sims+=($!)
    for _ in $(seq 50); do grep -q listening "$work/sim$1.out" && return; sleep 0.1; done
    echo "vexa-sim did not start"; exit 1
}
shark() { tshark -X "lua_script:$dissector" "$@" 2>/dev/null; }

start_sim 1
start_sim 2 --short-reply
start_sim 3

echo "a whole update: every datagram the simulator saw, in order, in a readable file"
"$cli" --quiet --trace "$work/one.pcapng" update "$firmware" --ip 127.0.47.1
capinfos "$work/one.pcapng" >"$work/capinfos.txt" || fail "capinfos cannot read the trace"
grep -q "Strict time order:   True" "$work/capinfos.txt" || fail "stamps out of order"
grep -q "Capture comment: *whole: " "$work/capinfos.txt" || fail "the trace does not say it is whole"
sent=$(shark -r "$work/one.pcapng" -Y "ip.dst == 127.0.47.1" -T fields -e udp.length | awk '{print $1 - 8}')
seen=$(sed -E 's/.* bytes=([0-9]+).*/\1/' "$work/sim1.log")
[ -n "$sent" ] && [ "$sent" = "$seen" ] || fail "the trace's datagrams to the module are not the simulator's"
checksums=$(tshark -r "$work/one.pcapng" -o ip.check_checksum:TRUE -o udp.check_checksum:TRUE -T fields \
    -e ip.checksum.status -e udp.checksum.status 2>/dev/null | sort -u)
[ "$checksums" = $'1\t1' ] || fail "IPv4 or UDP checksums not good: $checksums"
first=$(shark -r "$work/one.pcapng" -T fields -e frame.time_epoch -c 1 | cut -d. -f1)
[ $((first - $(date +%s))) -le 0 ] && [ $(($(date +%s) - first)) -lt 120 ] || fail "implausible time $first"

echo "the dissector: Program records, Verify, the reply and its checks"
program=$(shark -r "$work/one.pcapng" -Y 'vexaboot.command == 3 && vexaboot.direction == "to the module"' \
    -T fields -e vexaboot.records -e vexaboot.record.type -e vexaboot.record.data -e vexaboot.crc.status | sed -n 1p)
[[ $program == 11$'\t'4,0,0* ]] && [[ $program == *$'\t'1d00,*$'\t'good ]] || fail "Program frame read as: $program"
verify=$(shark -r "$work/one.pcapng" -Y 'vexaboot.verify.start' -T fields \
    -e vexaboot.verify.start -e vexaboot.verify.length -e vexaboot.verify.crc)
[ "$verify" = $'0x9d000000\t24576\t0x7791' ] || fail "Verify read as: $verify"
[ "$(shark -r "$work/one.pcapng" -Y vexaboot.reply.crc -T fields -e vexaboot.reply.crc)" = 0x7791 ] ||
    fail "the Verify reply's CRC"
reply=$(shark -r "$work/one.pcapng" -Y 'vexamgmt.kind == "reply"' -T fields -e vexamgmt.name \
    -e vexamgmt.version -e vexamgmt.address -e vexamgmt.mac -e vexamgmt.pid -e vexamgmt.port)
[ "$reply" = $'VEXA-IO\t1.06\t127.0.47.1\t00:50:c2:12:34:56\t0x0b71\t6234' ] || fail "reply read as: $reply"
protocols=$(shark -r "$work/one.pcapng" -T fields -e _ws.col.Protocol | sort -u | tr '\n' ' ')
[ "$protocols" = "VexaBoot VexaMgmt " ] || fail "the Protocol column: $protocols"

echo "a bad frame CRC and a cut datagram are flagged, and the next packet still dissects"
{
    echo "0000 01 02 42 21 04"                   # Erase with its CRC's high byte wrong
    echo "0000 ca fe 20 03 00 44 00 00 00 7f 00" # a reply cut after 11 bytes
    echo "0000 01 05 a5 50 04"                   # Run
} >"$work/frames.txt"
text2pcap -q -4 127.0.0.1,127.0.47.9 -u 40000,6234 "$work/frames.txt" "$work/frames.pcap"
info=$(shark -r "$work/frames.pcap" -T fields -e _ws.col.Info -e _ws.expert.message)
[[ $(sed -n 1p <<<"$info") == "Erase [bad CRC]"*"does not match"* ]] || fail "bad CRC: $info"
[[ $(sed -n 2p <<<"$info") == "Malformed reply (11 of 65 bytes)"* ]] || fail "cut reply: $info"
[[ $(sed -n 3p <<<"$info") == Run* ]] || fail "after them: $info"

echo "the simulator's cut reply reads as malformed in a real trace"
"$cli" --quiet --trace "$work/short.pcapng" settings get --ip 127.0.47.2 || true
short=$(shark -r "$work/short.pcapng" -Y vexamgmt.malformed -T fields -e _ws.col.Info)
[[ $short == "Malformed reply (60 of 65 bytes)"* ]] || fail "the simulator's short reply: $short"

echo "a trace that cannot be made: exit 1, a message, and nothing sent"
before=$(wc -l <"$work/sim3.log")
status=0
"$cli" --trace "$work/no/such/dir/t.pcapng" update "$firmware" --ip 127.0.47.3 2>"$work/err.txt" || status=$?
[ "$status" = 1 ] || fail "exit $status for an unwritable trace"
grep -q "cannot write the trace $work/no/such/dir/t.pcapng" "$work/err.txt" || fail "message: $(cat "$work/err.txt")"
sleep 0.2
[ "$(wc -l <"$work/sim3.log")" = "$before" ] || fail "something was sent"

echo "a full disk cuts the trace, not the update"
status=0
(trap '' XFSZ; ulimit -f 16; exec "$cli" --trace "$work/cut.pcapng" update "$firmware" --ip 127.0.47.3 >/dev/null) \
    2>"$work/err.txt" || status=$?
[ "$status" = 0 ] || fail "the update failed when its trace could not be written on ($status)"
[ "$(grep -c "the trace could not be written on" "$work/err.txt")" = 1 ] || fail "warnings: $(cat "$work/err.txt")"
cut=$(capinfos "$work/cut.pcapng") || fail "capinfos cannot read the cut trace"
grep -q "Capture comment: *cut: .* after [0-9]* datagrams" <<<"$cut" || fail "the cut trace: $cut"

echo "a fleet writes one file for all its modules"
"$cli" --quiet --trace "$work/fleet.pcapng" verify "$firmware" --ip 127.0.47.1 --ip 127.0.47.3
modules=$(shark -r "$work/fleet.pcapng" -Y vexaboot.verify.start -T fields -e ip.dst | sort -u | tr '\n' ' ')
[ "$modules" = "127.0.47.1 127.0.47.3 " ] || fail "the fleet's trace holds Verify to: $modules"

if [ -n "$window" ]; then
    echo "the window writes a trace too, and goes on without one it cannot write"
    QT_QPA_PLATFORM=offscreen OSTREL_TRACE=$work/window.pcapng "$window" -A -I127.0.47.3 "-F$firmware"
    [ "$(shark -r "$work/window.pcapng" -Y 'vexaboot.command == 5' -T fields -e ip.dst)" = 127.0.47.3 ] ||
        fail "the window's trace has no Run"
    QT_QPA_PLATFORM=offscreen OSTREL_TRACE=$work/no/dir/w.pcapng "$window" -A -I127.0.47.3 "-F$firmware" \
        2>"$work/err.txt" || fail "the window's update failed without its trace"
    grep -q "^ostrel: The trace $work/no/dir/w.pcapng cannot be written" "$work/err.txt" ||
        fail "the window's message: $(cat "$work/err.txt")"
fi

echo "$failures failures"
[ "$failures" -eq 0 ]
