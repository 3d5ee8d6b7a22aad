#!/usr/bin/env bash
# Runs orvalinquist on an Android device the way VTS runs its Bluetooth HAL tests: as root from
# /data/local/tmp, with the Bluetooth stack off so that the HAL is free, and then puts the device
# back as it was found. Its own lines go to stderr, the tool's log lines to stdout and a file.
# shellcheck disable=SC2317  # on_exit, and the restore it calls, run from the EXIT trap
set -euo pipefail

readonly DEVICE_DIR=/data/local/tmp
readonly TOOL=orvalinquist  # the log tag is the binary's file name: keep it
readonly STATUS_FILE=$DEVICE_DIR/$TOOL.exit
readonly AIDL_HAL=android.hardware.bluetooth.IBluetoothHci/default

usage() {
    cat <<EOF
Usage: ${0##*/} [-s SERIAL] [--binary FILE] [--log FILE] COMMAND [OPTIONS]
Runs 'orvalinquist COMMAND [OPTIONS]' on an adb-attached userdebug or eng device as root, with
the Bluetooth stack turned off for the run and restored afterwards.
  -s SERIAL      the device (default: \$ANDROID_SERIAL, else the only one attached)
  --binary FILE  the tool to push (default: \$ANDROID_PRODUCT_OUT/system/bin/orvalinquist)
  --log FILE     where the tool's log lines are kept (default: orvalinquist.log)
With scan's -o FILE the tool writes $DEVICE_DIR/<name of FILE>, pulled to FILE after exit 0.
Exit status: the tool's (0 or 1), or 2 when the run could not be set up or the device restored.
EOF
}

say() { echo "device-run: $*" >&2; }
die() { say "$*"; ended=1; exit 2; }
pause() { sleep "$1" & wait $! || true; }  # in the background, so a Ctrl-C is handled at once
poll() {  # COMMAND...: until it succeeds, every 0.5 s for 10 s
    local tries
    for ((tries = 0; tries < 20; tries++)); do "$@" && return 0; pause 0.5; done
    return 1
}
sh_quote() { printf "'%s'" "${1//\'/\'\\\'\'}"; }
adb_s() { adb -s "$serial" "$@"; }
on_device() { adb_s shell "$@" </dev/null | tr -d '\r'; }
getprop() { on_device getprop "$1"; }

serial="" binary="" log=orvalinquist.log
tool_args=() output_local="" output_device=""
build_type="" api=0 hidl_1_1=0 was_on=0 old_scan_setting="" changed=0 reached=""
ended=0 interrupted=0 tool_pid="" follower="" shown=0 exit_status="" work=""

parse_options() {
    while (($#)); do
        case $1 in
            -h | --help) usage && exit 0 ;;
            -s) [[ -n ${2:-} ]] || die "-s needs a serial"; serial=$2 && shift 2 ;;
            --binary) [[ -n ${2:-} ]] || die "--binary needs a file"; binary=$2 && shift 2 ;;
            --binary=*) binary=${1#*=} && shift ;;
            --log) [[ -n ${2:-} ]] || die "--log needs a file"; log=$2 && shift 2 ;;
            --log=*) log=${1#*=} && shift ;;
            *) break ;;
        esac
    done
    (($#)) || { usage >&2 && exit 2; }
    # A mistyped command would cost the device a round of off and on for a usage text.
    case $1 in
        enable | scan | disable | help) ;;
        -*) die "unknown option '$1' (--help says which there are)" ;;
        *) die "unknown command '$1': the tool's are enable, scan, disable and help" ;;
    esac
    if [[ $1 == scan ]]; then rewrite_scan_options "$@"; else tool_args=("$@"); fi
}

# The results file's name, as the tool writes it on the device.
note_output() {
    local name=${1##*/}
    [[ -n $name && $name != . && $name != .. ]] || die "-o needs a file name, not '$1'"
    output_local=$1 output_device=$DEVICE_DIR/$name
}

# Walks scan's options as the tool's getopt_long("t:o:fc") does, and points -o in any of its
# forms (-o F, -oF, -fo F, --output F, --output=F, --out=F) at the device's directory.
rewrite_scan_options() {
    local -a words=("$@")
    local i j word name letter
    tool_args=(scan)
    for ((i = 1; i < ${#words[@]}; i++)); do
        word=${words[i]}
        case $word in
            --) tool_args+=("${words[@]:i}") && break ;;
            --?*=*)
                name=${word#--} && name=${name%%=*}
                if [[ output == "$name"* ]]; then
                    note_output "${word#*=}" && word=--$name=$output_device
                fi ;;
            --?*)
                name=${word#--}
                if [[ output == "$name"* || timeout == "$name"* ]] && ((i + 1 < ${#words[@]})); then
                    tool_args+=("$word") && i=$((i + 1)) && word=${words[i]}
                    if [[ output == "$name"* ]]; then note_output "$word" && word=$output_device; fi
                fi ;;
            -?*)  # a cluster such as -cfo: the first t or o takes the rest, or the next word
                for ((j = 1; j < ${#word}; j++)); do
                    letter=${word:j:1}
                    [[ $letter == [to] ]] || continue
                    if ((j + 1 < ${#word})); then
                        if [[ $letter == o ]]; then
                            note_output "${word:j+1}" && word=${word:0:j+1}$output_device
                        fi
                    elif ((i + 1 < ${#words[@]})); then
                        tool_args+=("$word") && i=$((i + 1)) && word=${words[i]}
                        if [[ $letter == o ]]; then note_output "$word" && word=$output_device; fi
                    fi
                    break
                done ;;
        esac
        tool_args+=("$word")
    done
}

pick_device() {
    command -v adb >/dev/null || die "adb not found on PATH"
    serial=${serial:-${ANDROID_SERIAL:-}}
    [[ -n $serial ]] && return 0
    local -a serials
    mapfile -t serials < <(adb devices | awk 'NR > 1 && $2 == "device" { print $1 }')
    case ${#serials[@]} in
        0) die "no device attached (adb devices lists none ready)" ;;
        1) serial=${serials[0]} ;;
        *) die "${#serials[@]} devices attached (${serials[*]}): name one with -s or ANDROID_SERIAL" ;;
    esac
}

# A user build has no root, and without root neither HAL will serve the tool: stop there.
become_root() {
    local type
    type=$(adb_s shell getprop ro.build.type 2>&1 </dev/null | tr -d '\r') ||
        die "cannot reach device $serial (${type##*$'\n'})"
    [[ -n $type ]] || die "cannot read ro.build.type from $serial"
    [[ $type != user ]] || die "$serial runs a user build: no adb root, so no HAL access; nothing changed"
    adb_s root >/dev/null || die "adb root failed on $serial"
    adb_s wait-for-device
    [[ $(on_device id -u) == 0 ]] || die "adb root gave no root shell on $serial"
    build_type=$type
}

# The tool takes HIDL first, then AIDL; say which one it will meet.
find_hal() {
    local release hal hidl
    release=$(getprop ro.build.version.release) && api=$(getprop ro.build.version.sdk)
    [[ $api =~ ^[0-9]+$ ]] || die "cannot read the API level of $serial"
    hidl=$(on_device lshal 2>/dev/null | grep -o 'android\.hardware\.bluetooth@1\.[01]::IBluetoothHci/default' || true)
    if [[ $hidl == *@1.1::* ]]; then
        hal="HIDL ${hidl%%$'\n'*} (the tool talks 1.0 to it)" hidl_1_1=1
    elif [[ -n $hidl ]]; then
        hal="HIDL $hidl"
    elif on_device service list | grep -qF "$AIDL_HAL"; then
        hal="AIDL $AIDL_HAL"
    else
        die "no Bluetooth HCI HAL (HIDL @1.x or $AIDL_HAL) on $serial; nothing changed"
    fi
    say "Android $release (API $api), $build_type, HAL: $hal"
}

# Pushed before any state changes, so a failed push leaves the device as it was.
push_tool() {
    local reason
    reason=$(adb_s push "$binary" "$DEVICE_DIR/$TOOL" 2>&1) ||
        die "cannot push $binary (${reason##*$'\n'}); nothing changed"
    local stale=$STATUS_FILE
    [[ -z $output_device ]] || stale+=" $(sh_quote "$output_device")"
    on_device "chmod 755 $DEVICE_DIR/$TOOL && rm -f $stale" >/dev/null ||
        die "cannot prepare $DEVICE_DIR/$TOOL; nothing changed"
}

bluetooth_state() { on_device dumpsys bluetooth_manager | sed -n 's/^  state: //p' | head -n 1; }
state_is() { reached=$(bluetooth_state) && [[ $reached == "$1" ]]; }

# 34+: the manager waits itself (4 s, then -1); older: poll its dump.
wait_for_state() {
    if ((api >= 34)); then
        on_device cmd bluetooth_manager "wait-for-state:STATE_$1" >/dev/null 2>&1 || state_is "$1"
    else
        poll state_is "$1"
    fi
}

set_bluetooth() {  # enable | disable; `svc bluetooth` is the same command on 13+
    if ((api >= 33)); then on_device cmd bluetooth_manager "$1"; else on_device svc bluetooth "$1"; fi
}

# VTS's set-up: no BLE scanning allowed, so the stack goes to OFF and not to BLE_ON.
stack_off() {
    was_on=0
    on_device dumpsys bluetooth_manager | grep -q '^  enabled: true' && was_on=1
    old_scan_setting=$(on_device settings get global ble_scan_always_enabled)
    changed=1
    on_device settings put global ble_scan_always_enabled 0 >/dev/null ||
        die "cannot put ble_scan_always_enabled to 0; restoring"
    set_bluetooth disable >/dev/null || die "cannot turn Bluetooth off; restoring"
    wait_for_state OFF || die "the Bluetooth stack stayed in ${reached:-an unknown state}, not OFF; restoring"
}

# The AOSP HIDL 1.1 HAL never notices that a 1.0 client died, and keeps the controller until
# its service restarts. stop and start go in one command, so start always follows.
restart_hal_service() {
    local service=vendor.bluetooth-1-1
    if [[ -z $(getprop "init.svc.$service") ]]; then
        service=$(on_device getprop | sed -n 's/^\[init\.svc\.\([^]]*bluetooth[^]]*\)\]:.*/\1/p')
        [[ -n $service && $service != *$'\n'* ]] ||
            { say "WARNING: no single Bluetooth HAL service found: restart it yourself (stop; start)" && return 1; }
    fi
    on_device "stop $(sh_quote "$service"); start $(sh_quote "$service")" >/dev/null
    poll service_running "$service" || { say "the HAL service $service is not running again" && return 1; }
}
service_running() { [[ $(getprop "init.svc.$1") == running ]]; }

# Teardown in VTS's order: HAL free, stack on again, the setting back last. Each step is tried.
restore() {
    local ok=0
    if ((hidl_1_1)); then restart_hal_service || ok=1; fi
    if ((was_on)); then
        if ! set_bluetooth enable >/dev/null; then
            say "Bluetooth could not be turned back on" && ok=1
        elif ! wait_for_state ON; then
            say "Bluetooth did not come back on: it stayed in ${reached:-an unknown state}" && ok=1
        fi
    fi
    if [[ $old_scan_setting == null ]]; then  # unset before: unset again, the platform's default
        on_device settings delete global ble_scan_always_enabled >/dev/null
    else
        on_device settings put global ble_scan_always_enabled "$old_scan_setting" >/dev/null
    fi || { say "ble_scan_always_enabled not put back to $old_scan_setting" && ok=1; }
    return "$ok"
}

show_new_lines() {
    local total
    total=$(wc -l <"$log")
    if ((total > shown)); then tail -n "+$((shown + 1))" "$log" | head -n "$((total - shown))"; fi
    shown=$total
}

# The streamed copy may lag behind logd; once the tool has exited, logd has all its lines.
# The final dump replaces the streamed copy when it extends it (the usual case); when the buffer
# wrapped during the run, the dump's lines after the last streamed one are added to it.
finish_log() {
    [[ -z $follower ]] || { kill "$follower" 2>/dev/null; wait "$follower" || true; follower=""; }
    adb_s logcat -d -v threadtime --pid="$tool_pid" >"$work/dump" || { say "no final log dump" && return 0; }
    local lines last  # complete ones: a follower killed mid-line may have left half of one
    lines=$(wc -l <"$log") && head -n "$lines" "$log" >"$work/streamed"
    last=$(tail -n 1 "$work/streamed")
    if head -n "$lines" "$work/dump" | cmp -s - "$work/streamed"; then
        cp "$work/dump" "$log"
    else
        say "the device's log wrapped during the run; lines may be missing"
        awk -v last="$last" \
            '$0 == last { n = 0; next } { kept[++n] = $0 } END { for (i = 1; i <= n; i++) print kept[i] }' \
            "$work/dump" >>"$work/streamed" && cp "$work/streamed" "$log"
    fi
    show_new_lines
}

# The tool's status from the device; after a Ctrl-C the local adb is gone, but the device's sh
# (which ignores the hang-up) still writes it down.
status_written() { exit_status=$(on_device "cat $STATUS_FILE 2>/dev/null" || true) && [[ -n $exit_status ]]; }

stop_tool() {  # adb shell without a pty does not pass the Ctrl-C on: send it on the device
    say "interrupted: stopping the tool (pid $tool_pid) on the device"
    on_device kill -INT "$tool_pid" >/dev/null || true
}

run_tool() {
    local quoted="" word shell_job tries stop_sent=0 deadline=0
    for word in "${tool_args[@]}"; do quoted+=" $(sh_quote "$word")"; done
    : >"$work/shell"  # before the job starts, which may open it later than the first read
    adb -s "$serial" shell "cd $DEVICE_DIR && trap '' HUP && { ./$TOOL$quoted & p=\$!;" \
        "echo \"pid \$p\"; wait \$p; s=\$?; echo \$s >$STATUS_FILE; echo \"exit \$s\"; }" \
        </dev/null >"$work/shell" &
    shell_job=$!
    for ((tries = 0; tries < 100; tries++)); do  # a Ctrl-C now still needs the pid
        tool_pid=$(sed -n 's/^pid //p' "$work/shell")
        [[ -n $tool_pid ]] || ! kill -0 "$shell_job" 2>/dev/null && break
        pause 0.1
    done
    [[ -n $tool_pid ]] || die "the tool did not start on the device"
    # adb itself in the background (not a function's subshell), so that killing $! ends it
    adb -s "$serial" logcat -v threadtime --pid="$tool_pid" </dev/null >"$log" &
    follower=$!
    while kill -0 "$shell_job" 2>/dev/null; do
        show_new_lines
        if ((interrupted && !stop_sent)); then stop_tool && stop_sent=1 deadline=$((SECONDS + 10)); fi
        if ((stop_sent && SECONDS > deadline)); then
            say "the tool did not stop within 10 s: killing it" && deadline=$((SECONDS + 10))
            on_device kill -KILL "$tool_pid" >/dev/null || true
        fi
        pause 0.2
    done
    if ((interrupted && !stop_sent)); then stop_tool; fi
    wait "$shell_job" || true
    exit_status=$(sed -n 's/^exit //p' "$work/shell")
    [[ -n $exit_status ]] || poll status_written || die "the tool did not exit on the device"
    finish_log
    [[ $exit_status == [01] ]] || die "the tool ended with status $exit_status (killed on the device?)"
}

pull_results() {  # into a scratch name first, so a failed pull leaves FILE as it was
    local scratch
    scratch=$(dirname -- "$output_local")/.${output_local##*/}.device-run.$$
    if ! adb_s pull "$output_device" "$scratch" >/dev/null || ! mv -f -- "$scratch" "$output_local"; then
        rm -f -- "$scratch" && die "could not pull $output_device to $output_local"
    fi
}

# Whatever ended the run, the device is restored; a failed restore turns any status into 2.
on_exit() {
    local status=$?
    trap '' INT TERM
    [[ -z $follower ]] || kill "$follower" 2>/dev/null || true
    if ((!ended)); then say "stopped unexpectedly (status $status)" && status=2; fi
    if ((changed)); then restore || status=2; fi
    [[ -z $work ]] || rm -rf "$work"
    exit "$status"
}

main() {
    parse_options "$@"
    binary=${binary:-${ANDROID_PRODUCT_OUT:-}/system/bin/$TOOL}
    [[ -f $binary ]] || die "no binary at $binary (use --binary FILE or set ANDROID_PRODUCT_OUT)"
    if [[ -n $output_local ]]; then  # a results file that could not be pulled is a wasted run
        [[ ! -d $output_local ]] || die "-o $output_local is a directory, not a file name"
        [[ -d $(dirname -- "$output_local") && -w $(dirname -- "$output_local") ]] ||
            die "-o $output_local: its directory does not exist or cannot be written"
    fi
    trap 'interrupted=1' INT TERM
    trap on_exit EXIT
    work=$(mktemp -d)
    # Checked before the device is touched; appending leaves an old log as it was until the run.
    { : >>"$log"; } 2>/dev/null || die "cannot write the log file $log"
    pick_device
    become_root
    find_hal
    push_tool
    ((!interrupted)) || die "interrupted; nothing changed"
    stack_off
    ((!interrupted)) || die "interrupted before the tool ran; restoring"
    run_tool
    [[ $exit_status == 0 && -n $output_local ]] && pull_results
    ended=1
    exit "$exit_status"
}

main "$@"
