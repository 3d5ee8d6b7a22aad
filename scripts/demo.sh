#!/usr/bin/env bash
# Builds the tool, starts BlueZ's emulated controllers (btvirt) with a few simulated LE devices
# on the virtual air, runs "orvalinquist scan -t 5 -o scan.csv" against one of them with an HCI
# capture, and shows what it found; then replays that capture and the hand-made sample capture
# (tests/data) with the replay transport. Everything started here is stopped on exit, and
# btvirt's sockets in /tmp are removed.
#
# Run as root on Debian (missing packages are installed). BUILD_DIR overrides the build tree.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/deps.sh
ensure_packages

BUILD_DIR=${BUILD_DIR:-build}
DEMO_DIR="$BUILD_DIR/demo"
SOCKET=/tmp/bt-server-bredrle
LOCK=/tmp/orvalinquist-btvirt.lock

echo "== Building"
cmake -S . -B "$BUILD_DIR" -G Ninja >/dev/null
cmake --build "$BUILD_DIR" -j"$(nproc)" --target orvalinquist hci_peer btvirt-run btvirt_alg_shim
TOOL="$PWD/$BUILD_DIR/src/orvalinquist"
PEER="$PWD/$BUILD_DIR/tools/hci_peer"
BTVIRT_RUN="$PWD/$BUILD_DIR/tools/btvirt-run"
SAMPLE="$PWD/tests/data/sample_capture.btsnoop"
mkdir -p "$DEMO_DIR"
rm -f "$DEMO_DIR"/*.log "$DEMO_DIR"/*.out "$DEMO_DIR"/*.csv "$DEMO_DIR"/*.btsnoop

STARTED=()
# btvirt -s leaves its five sockets behind when it ends, killed or crashed.
BTVIRT_SOCKETS=(/tmp/bt-server-bredrle /tmp/bt-server-bredr /tmp/bt-server-amp /tmp/bt-server-le
    /tmp/bt-server-mon)
OWN_SOCKETS=false  # true once this run holds the btvirt lock: the sockets are then its own
cleanup() {
    local pid i
    for pid in "${STARTED[@]}"; do
        kill "$pid" 2>/dev/null || true
    done
    # The processes are disowned, so "wait" would not wait for them.
    for pid in "${STARTED[@]}"; do
        for ((i = 0; i < 50; i++)); do
            kill -0 "$pid" 2>/dev/null || continue 2
            sleep 0.1
        done
        kill -KILL "$pid" 2>/dev/null || true
    done
    if $OWN_SOCKETS; then
        rm -f "${BTVIRT_SOCKETS[@]}"
    fi
}
trap cleanup EXIT
trap 'exit 129' HUP
trap 'exit 130' INT
trap 'exit 143' TERM

# btvirt's socket path is fixed: one user at a time (the end-to-end tests take this lock too).
exec 9>"$LOCK"
if ! flock -w 300 9; then
    echo "Another btvirt user holds $LOCK" >&2
    exit 1
fi
OWN_SOCKETS=true

wait_for() {  # FILE TEXT SECONDS
    local i
    for ((i = 0; i < $3 * 10; i++)); do
        grep -q -- "$2" "$1" 2>/dev/null && return 0
        sleep 0.1
    done
    echo "Timed out waiting for '$2' in $1" >&2
    return 1
}

# The tool's log without the lines it writes for each event it receives and decodes: the
# event's headline and its fields. The fields are indented and carry no address, so once the
# headline is gone they seem to belong to whatever line is above; every line left can be read on
# its own.
summary() {  # LOG
    local prefix='^[^ ]+ [A-Z] [^ ]+ [^ ]+ +[0-9]+ +[0-9]+ '  # tag, priority, date, time, pid, tid
    grep -v -E -e "$prefix( |Received HCI event|Processing event data|Parsing event)" \
        -e "$prefix(LE Meta Event|LE Advertising Report|Report [0-9]+:|Command (Complete|Status):)" \
        -e "$prefix(Inquiry Result:|Response [0-9]+:|Extended Inquiry Result:)" \
        "$1" || true
    echo "   ($(grep -c 'Received HCI event' "$1") events received, $(grep -c \
        'Processing event data' "$1") decoded; their lines are left out here: the whole log is $1)"
}

scan_results() {  # TITLE LOG CSV STATUS
    echo "== $1: the tool's log (Android log; on a Linux host liblog writes it to stderr)"
    summary "$2"
    echo "== $3"
    cat "$3" 2>/dev/null || echo "(no results file)"
    echo "== orvalinquist exited with status $4"
}

echo "== Starting btvirt (emulated BR/EDR + LE controllers on $SOCKET)"
rm -f "${BTVIRT_SOCKETS[@]}"
"$BTVIRT_RUN" -s >"$DEMO_DIR/btvirt.log" 2>&1 &
STARTED+=($!)
# btvirt 5.66 crashes shortly after a controller leaves during an inquiry, which a scan shorter
# than 13 s does; keep the shell from reporting that at the end.
disown $!
for ((i = 0; i < 50; i++)); do
    [ -S /tmp/bt-server-mon ] && break
    sleep 0.1
done
if [ ! -S /tmp/bt-server-mon ]; then
    cat "$DEMO_DIR/btvirt.log" >&2
    exit 1
fi

start_peer() {  # LABEL ARGS...
    local label=$1
    shift
    "$PEER" --transport "unix:$SOCKET" "$@" >"$DEMO_DIR/$label.out" 2>"$DEMO_DIR/$label.log" &
    STARTED+=($!)
    disown $!
    wait_for "$DEMO_DIR/$label.out" ready 10
    printf '   %-8s %s  (%s)\n' "$label" "$(cut -d' ' -f2 "$DEMO_DIR/$label.out")" "$*"
}

echo "== Running: orvalinquist scan -t 5 -o scan.csv" \
    "  (BT_HCI_TRANSPORT=unix:$SOCKET BT_HCI_SNOOP=scan.btsnoop)"
(cd "$DEMO_DIR" && BT_HCI_TRANSPORT="unix:$SOCKET" BT_HCI_SNOOP=scan.btsnoop \
    exec "$TOOL" scan -t 5 -o scan.csv) 2>"$DEMO_DIR/orvalinquist.log" &
TOOL_PID=$!
STARTED+=($TOOL_PID)
wait_for "$DEMO_DIR/orvalinquist.log" "Scanning for" 20

echo "== A watch aims directed advertising (no name in it) at the tool, which asks for its name"
start_peer watch --name "Watch" --le directed --direct-to Orvalinquist --page-scan on \
    --interval 1000
# The name's answer is one event: the busier air comes once it has been taken.
wait_for "$DEMO_DIR/orvalinquist.log" "Updated device name" 5
echo "== Devices that appear while it scans; each restarts its advertising every 100-110 ms"
start_peer lamp --name "Lamp" --le connectable
start_peer tag --name "Tag" --le scannable --name-in scan-response
start_peer sensor --name "Heart Rate" --le nonconnectable --uuid 180d --uuid 180f

status=0
wait "$TOOL_PID" || status=$?
scan_results "Scan against btvirt" "$DEMO_DIR/orvalinquist.log" "$DEMO_DIR/scan.csv" "$status"

replay() {  # TITLE CAPTURE NAME
    echo "== Running: orvalinquist scan -t 5 -o $3.csv   (BT_HCI_TRANSPORT=replay:$2)"
    local rc=0
    (cd "$DEMO_DIR" && BT_HCI_TRANSPORT="replay:$2" exec "$TOOL" scan -t 5 -o "$3.csv") \
        2>"$DEMO_DIR/$3.log" || rc=$?
    scan_results "$1" "$DEMO_DIR/$3.log" "$DEMO_DIR/$3.csv" "$rc"
    [ "$rc" -eq 0 ] || status=$rc
}
replay "The scan's own capture, replayed" scan.btsnoop replay
replay "The hand-made sample capture with classic devices, replayed" "$SAMPLE" sample
cat <<'EOF'
Notes: btvirt reports RSSI 127 ("not available") and reports an advertiser only when the
advertiser or the scanner starts; the peers restart their advertising as real devices repeat
theirs. The tool keeps one pending event, and one that arrives before the previous one was taken
replaces it: repeats are what bring each device's name and connectable answer through (a device
first heard by its empty scan response shows "Connectable: No" until its next advertisement).
btvirt sends classic inquiry results once, 100 ms after the Inquiry, before the tool's event
thread listens, so no classic device is listed from btvirt. The replay transport plays a capture
with its recorded spacing: tests/data/sample_capture.btsnoop, written by hand, holds classic
inquiry results and name requests (see docs/linux.md); "btmon -r FILE" shows every packet of a
capture.
EOF
exit "$status"
