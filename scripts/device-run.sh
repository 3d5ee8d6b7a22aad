#!/usr/bin/env bash
# Runs orvalinquist on an Android device the way VTS runs its Bluetooth HAL tests: as root from
# /data/local/tmp, with the Bluetooth stack off so that the HAL is free, and then puts the device
# back as it was found. Its own lines go to stderr, the tool's log lines to stdout and a file.
# shellcheck disable=SC2317  # on_exit, and the restore it calls, run from the EXIT trap
set -euo pipefail

readonly DEVICE_DIR=/data/local/tmp
readonly TOOL=orvalinquist  # the log tag is the binary's file name: keep it
readonly STATUS_FILE=$DEVICE_DIR/$TOOL.exit
readonly DEVICE_LOG=$DEVICE_DIR/$TOOL.logcat  # the tool's log lines, kept on the device
readonly AIDL_HAL=android.hardware.bluetooth.IBluetoothHci/default
readonly TOOL_WAIT=120  # the longest a run of the tool takes (a 15 s scan), with room to spare
answer_wait=${DEVICE_RUN_ANSWER_WAIT:-30}
reconnect_wait=${DEVICE_RUN_RECONNECT_WAIT:-60}

usage() {
    cat <<EOF
Usage: ${0##*/} [-s SERIAL] [--binary FILE] [--log FILE] COMMAND [OPTIONS]
       ${0##*/} -s SERIAL -s SERIAL... | --all [--binary FILE] [--log FILE] COMMAND [OPTIONS]
Runs 'orvalinquist COMMAND [OPTIONS]' on adb-attached userdebug or eng devices as root, with
the Bluetooth stack turned off for the run and restored afterwards.
  -s SERIAL      the device (default: \$ANDROID_SERIAL, else the only one attached); given
                 more than once, each of them, all at once
  --all          every device that adb devices lists as ready, all at once
  --binary FILE  the tool to push (default: \$ANDROID_PRODUCT_OUT/system/bin/orvalinquist)
  --log FILE     where the tool's log lines are kept (default: orvalinquist.log)
With scan's -o FILE the tool writes $DEVICE_DIR/<name of FILE>, pulled to FILE after exit 0.
With two devices or more, each one's log and results file carry its serial (NAME-SERIAL.log,
scan-SERIAL.csv), each line it prints starts with [SERIAL], and one line a device ends the run.
Exit status: the tool's (0 or 1), or 2 when the run could not be set up or the device restored;
with several devices 0 when all ran with 0, 2 when any had 2, else 1.
Every wait is bounded: DEVICE_RUN_ANSWER_WAIT (default 30) seconds for one answer of the
device, DEVICE_RUN_RECONNECT_WAIT (default 60) for a device whose link dropped to come back.
EOF
}

say() { echo "device-run: $*" >&2; }
die() { say "$*"; failure=$*; ended=1; exit 2; }
pause() { sleep "$1" & wait $! || true; }  # in the background, so a Ctrl-C is handled at once
poll() {  # COMMAND...: until it succeeds, every 0.5 s for 10 s
    local tries
    for ((tries = 0; tries < 20; tries++)); do "$@" && return 0; pause 0.5; done
    return 1
}
sh_quote() { printf "'%s'" "${1//\'/\'\\\'\'}"; }

# LIMIT COMMAND...: the command, ended after LIMIT seconds (status 124). adb has no bound of
# its own: a device that stops answering would hold the run, and the device, for ever.
bounded() {
    local limit=$1 job ticks=0
    shift
    "$@" </dev/null &
    job=$!
    while kill -0 "$job" 2>/dev/null; do
        if ((ticks++ >= limit * 50)); then kill "$job" 2>/dev/null; wait "$job"; return 124; fi
        sleep 0.02
    done
    wait "$job"
}

# adb -s SERIAL ARGS..., bounded by LIMIT: what it printed in $answer (whole, however it came
# and however large), its last error line in $reason.
ask() {
    local limit=$1 status=0
    shift
    bounded "$limit" adb -s "$serial" "$@" >"$work/answer" 2>"$work/reason" || status=$?
    answer=$(tr -d '\r' <"$work/answer")
    reason=$(tail -n 1 "$work/reason" | tr -d '\r')
    if ((status == 124)); then reason="no answer to 'adb $*' within $limit s"; fi
    [[ -n $reason ]] || reason="adb $1 exited with $status"
    return "$status"
}
on_device() { ask "$answer_wait" shell "$@"; }
getprop() { on_device getprop "$1" && prop=$answer; }
# The first "  NAME: " field of the manager's block in the last dumpsys: the stack's own dump
# after it has fields of the same names.
manager_field() {
    awk -v field="  $1: " '/^Bluetooth Status$/ { block = 1; next } block && /^$/ { exit }
        block && index($0, field) == 1 { print substr($0, length(field) + 1); exit }' <<<"$answer"
}

serial="" binary="" log=orvalinquist.log all=0
serials=() user_args=() tool_args=() output_local="" output_device=""
# Set for one device's run within a station: where that run writes its pid and its summary.
readonly member=${DEVICE_RUN_STATION_MEMBER:-}
build_type="" release="" api=0 hidl_1_1=0 hal_service="" was_on=0 old_scan_setting="" changed=0
reached="" answer="" reason="" prop="" ended=0 interrupted=0 lost=0 tool_pid="" shown=0
exit_status="" work="" hal_kind="" failure="" restored=""

parse_options() {
    while (($#)); do
        case $1 in
            -h | --help) usage && exit 0 ;;
            -s) [[ -n ${2:-} ]] || die "-s needs a serial"; serials+=("$2") && shift 2 ;;
            --all) all=1 && shift ;;
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
    user_args=("$@")
    ((!all || ${#serials[@]} == 0)) || die "-s and --all do not go together"
    if ((${#serials[@]} == 1)) || [[ -n $member ]]; then serial=${serials[0]}; fi
    [[ -z $member ]] || log=$(with_serial "$log")
    if [[ $1 == scan ]]; then rewrite_scan_options "$@"; else tool_args=("$@"); fi
}

# PATH with this run's serial in its name, before the extension: one device's files in a
# station are its own.
with_serial() {
    local name=${1##*/} dir=""
    [[ $1 != */* ]] || dir=${1%/*}/
    if [[ $name == ?*.* ]]; then echo "$dir${name%.*}-$serial.${name##*.}"; else echo "$dir$name-$serial"; fi
}

# The results file's name, as the tool writes it on the device.
note_output() {
    local name=${1##*/}
    [[ -n $name && $name != . && $name != .. ]] || die "-o needs a file name, not '$1'"
    output_local=$1 output_device=$DEVICE_DIR/$name
    [[ -z $member ]] || output_local=$(with_serial "$1")
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
    bounded "$answer_wait" adb devices >"$work/devices" 2>&1 ||
        die "adb devices failed ($(tail -n 1 "$work/devices"))"
    mapfile -t serials < <(awk 'NR > 1 && $2 == "device" { print $1 }' "$work/devices")
    case ${#serials[@]} in
        0) die "no device attached (adb devices lists none ready)" ;;
        1) serial=${serials[0]} ;;
        *) die "${#serials[@]} devices attached (${serials[*]}): name one with -s or ANDROID_SERIAL" ;;
    esac
}

# A user build has no root, and without root neither HAL will serve the tool: stop there.
# adb root restarts adbd: the link drops at once, and commands fail until it is back as root.
become_root() {
    getprop ro.build.type || die "cannot reach device $serial ($reason)"
    [[ -n $prop ]] || die "cannot read ro.build.type from $serial"
    [[ $prop != user ]] || die "$serial runs a user build: no adb root, so no HAL access; nothing changed"
    build_type=$prop
    ask "$answer_wait" root || die "adb root failed on $serial (${answer:-$reason})"
    local deadline=$((SECONDS + reconnect_wait))
    until on_device id -u && [[ $answer == 0 ]]; do
        [[ $answer != 2000 ]] || reason="its shell runs as uid 2000, not root"
        ((SECONDS < deadline)) ||
            die "adbd on $serial did not come back as root within $reconnect_wait s of adb root ($reason); nothing changed"
        ((!interrupted)) || die "interrupted; nothing changed"
        pause 0.5
    done
}

# The tool takes HIDL first, then AIDL; say which one it will meet.
find_hal() {
    local hal hidl
    getprop ro.build.version.release || die "cannot read the release of $serial ($reason)"
    release=$prop
    getprop ro.build.version.sdk || die "cannot read the API level of $serial ($reason)"
    api=$prop
    [[ $api =~ ^[0-9]+$ ]] || die "cannot read the API level of $serial"
    on_device lshal || true  # none on a device without HIDL
    hidl=$(grep -o 'android\.hardware\.bluetooth@1\.[01]::IBluetoothHci/default' <<<"$answer" || true)
    if [[ $hidl == *@1.1::* ]]; then
        find_hal_service
        hal_kind="HIDL 1.1"
        hal="HIDL ${hidl##*$'\n'} (the tool talks 1.0 to it; its service: $hal_service)" hidl_1_1=1
    elif [[ -n $hidl ]]; then
        hal="HIDL $hidl" hal_kind="HIDL 1.0"
    else
        on_device service list || die "cannot list the services of $serial ($reason)"
        grep -qF "	$AIDL_HAL: " <<<"$answer" ||
            die "no Bluetooth HCI HAL (HIDL @1.x or $AIDL_HAL) on $serial; nothing changed"
        hal="AIDL $AIDL_HAL" hal_kind=AIDL
    fi
    say "Android $release (API $api), $build_type, HAL: $hal"
}

# The AOSP HIDL 1.1 HAL never notices that a 1.0 client died, and keeps the controller until
# its service restarts; a vendor names its service otherwise.
find_hal_service() {
    local services
    hal_service=vendor.bluetooth-1-1
    getprop "init.svc.$hal_service" || die "cannot read the properties of $serial ($reason)"
    [[ -z $prop ]] || return 0
    on_device getprop || die "cannot read the properties of $serial ($reason)"
    services=$(sed -n 's/^\[init\.svc\.\([^]]*bluetooth[^]]*\)\]:.*/\1/p' <<<"$answer")
    [[ -n $services && $services != *$'\n'* ]] ||
        die "no single Bluetooth HAL service among init's (${services//$'\n'/, }): the HAL could not be freed after the run; nothing changed"
    hal_service=$services
}

# Pushed before any state changes, so a failed push leaves the device as it was.
push_tool() {
    ask "$TOOL_WAIT" push "$binary" "$DEVICE_DIR/$TOOL" || die "cannot push $binary ($reason); nothing changed"
    local stale=$STATUS_FILE
    [[ -z $output_device ]] || stale+=" $(sh_quote "$output_device")"
    on_device "chmod 755 $DEVICE_DIR/$TOOL && rm -f $stale" ||
        die "cannot prepare $DEVICE_DIR/$TOOL ($reason); nothing changed"
}

state_is() {
    on_device dumpsys bluetooth_manager || { reached="unreachable: $reason" && return 1; }
    reached=$(manager_field state) && [[ $reached == "$1" ]]
}

# 34+: the manager waits itself (4 s, then -1); older: poll its dump.
wait_for_state() {
    if ((api >= 34)); then
        on_device cmd bluetooth_manager "wait-for-state:STATE_$1" || state_is "$1"
    else
        poll state_is "$1"
    fi
}

set_bluetooth() {  # enable | disable; `svc bluetooth` is the same command on 13+
    if ((api >= 33)); then on_device cmd bluetooth_manager "$1"; else on_device svc bluetooth "$1"; fi
}
manager_command() { if ((api >= 33)); then echo "cmd bluetooth_manager $1"; else echo "svc bluetooth $1"; fi; }

# VTS's set-up: no BLE scanning allowed, so the stack goes to OFF and not to BLE_ON.
stack_off() {
    on_device dumpsys bluetooth_manager || die "cannot read Bluetooth's state on $serial ($reason); nothing changed"
    was_on=0
    [[ $(manager_field enabled) == true ]] && was_on=1
    on_device settings get global ble_scan_always_enabled ||
        die "cannot read ble_scan_always_enabled on $serial ($reason); nothing changed"
    [[ -n $answer ]] || die "ble_scan_always_enabled read empty on $serial; nothing changed"
    old_scan_setting=$answer
    changed=1
    on_device settings put global ble_scan_always_enabled 0 ||
        die "cannot put ble_scan_always_enabled to 0 ($reason); restoring"
    set_bluetooth disable || die "cannot turn Bluetooth off ($reason); restoring"
    wait_for_state OFF || die "the Bluetooth stack stayed in ${reached:-an unknown state}, not OFF; restoring"
}

restart_hal_service() {  # stop and start in one command, so that start always follows
    on_device "stop $(sh_quote "$hal_service"); start $(sh_quote "$hal_service")" ||
        { say "the HAL service $hal_service could not be restarted ($reason)" && return 1; }
    poll service_running ||
        { say "the HAL service $hal_service is not running again (${prop:-$reason})" && return 1; }
}
service_running() { getprop "init.svc.$hal_service" && [[ $prop == running ]]; }

setting_command() {
    if [[ $old_scan_setting == null ]]; then  # unset before: unset again, the platform's default
        echo "settings delete global ble_scan_always_enabled"
    else
        echo "settings put global ble_scan_always_enabled $(sh_quote "$old_scan_setting")"
    fi
}

# Teardown in VTS's order: HAL free, stack on again, the setting back last. Each step is tried.
restore() {
    if ((!lost)) && ! reachable; then
        wait_for_return "lost $serial before restoring it ($reason)" || lost=1
    fi
    ((!lost)) || { tell_restore_by_hand && return 1; }
    local ok=0
    if ((hidl_1_1)); then restart_hal_service || ok=1; fi
    if ((was_on)); then
        if ! set_bluetooth enable; then
            say "Bluetooth could not be turned back on ($reason)" && ok=1
        elif ! wait_for_state ON; then
            say "Bluetooth did not come back on: it stayed in ${reached:-an unknown state}" && ok=1
        fi
    fi
    # shellcheck disable=SC2046  # the command's words, quoted for the device's shell
    on_device $(setting_command) ||
        { say "ble_scan_always_enabled not put back to $old_scan_setting ($reason)" && ok=1; }
    return "$ok"
}

# What puts the device back once it is attached again, in the order restore() takes.
tell_restore_by_hand() {
    local adb
    adb="adb -s $(sh_quote "$serial")"
    say "$serial is not restored. Once it is attached again, put it back as it was with:"
    {
        echo "  $adb root"
        echo "  $adb shell cat $STATUS_FILE   # the tool's exit status once it has ended: wait for it"
        echo "  $adb pull $DEVICE_LOG $(sh_quote "$log")   # the tool's whole log"
        [[ -z $output_device ]] || echo "  $adb pull $(sh_quote "$output_device") $(sh_quote "$output_local")"
        ((!hidl_1_1)) || echo "  $adb shell $(sh_quote "stop $hal_service; start $hal_service")"
        ((!was_on)) || echo "  $adb shell $(manager_command enable)"
        echo "  $adb shell $(setting_command)"
    } >&2
}

reachable() { ask 10 get-state && [[ $answer == device ]]; }

# A device whose link dropped (WHY): up to reconnect_wait seconds for it to be back.
wait_for_return() {
    local start=$SECONDS
    say "$1: waiting up to $reconnect_wait s for it to come back"
    while ((SECONDS - start < reconnect_wait)); do
        pause 1
        reachable && { say "$serial is back after $((SECONDS - start)) s" && return 0; }
    done
    say "$serial did not come back within $reconnect_wait s ($reason)"
    return 1
}

show_new_lines() {
    local total
    total=$(wc -l <"$log")
    if ((total > shown)); then tail -n "+$((shown + 1))" "$log" | head -n "$((total - shown))"; fi
    shown=$total
}

# The device's log file from where the local copy ends. Its bytes go to a file, not through a
# variable, so the copy stays byte for byte; a piece cut short by a dropped link is not kept.
fetch_log() {
    local have
    have=$(wc -c <"$log")
    bounded "$answer_wait" adb -s "$serial" shell "tail -c +$((have + 1)) $DEVICE_LOG" \
        >"$work/piece" 2>/dev/null && cat "$work/piece" >>"$log"
}

status_written() {
    on_device "cat $STATUS_FILE 2>/dev/null" && [[ -n $answer ]] && exit_status=$answer
}

stop_tool() {  # adb shell without a pty does not pass the Ctrl-C on: send it on the device
    say "$1: stopping the tool (pid $tool_pid) on the device"
    on_device kill -INT "$tool_pid" || true
}

# The tool runs in the background of one shell that ignores a hang-up, beside a logcat that
# writes its lines to a file on the device: neither a dropped link nor logd's ring loses one.
# Once the tool has exited, that reader is let catch up with logd before the status is written.
run_tool() {
    local quoted="" word shell_job tries stop_sent=0 deadline
    for word in "${tool_args[@]}"; do quoted+=" $(sh_quote "$word")"; done
    : >"$work/shell"  # before the job starts, which may open it later than the first read
    : >"$log"
    adb -s "$serial" shell "cd $DEVICE_DIR && trap '' HUP && : >$DEVICE_LOG && { ./$TOOL$quoted &" \
        "p=\$!; logcat -v threadtime --pid=\$p >>$DEVICE_LOG 2>/dev/null & l=\$!; echo \"pid \$p\";" \
        "wait \$p; s=\$?; e=\$(logcat -d -v threadtime --pid=\$p | tail -n 1); i=0;" \
        "while [ \$i -lt 50 ] && [ \"\$(tail -n 1 $DEVICE_LOG)\" != \"\$e\" ]; do sleep 0.1; i=\$((i+1)); done;" \
        "kill \$l; echo \$s >$STATUS_FILE; echo \"exit \$s\"; }" </dev/null >"$work/shell" 2>"$work/shell.err" &
    shell_job=$!
    for ((tries = 0; tries < 100; tries++)); do  # a Ctrl-C now still needs the pid
        tool_pid=$(sed -n 's/^pid //p' "$work/shell")
        [[ -n $tool_pid ]] || ! kill -0 "$shell_job" 2>/dev/null && break
        pause 0.1
    done
    [[ -n $tool_pid ]] || die "the tool did not start on the device"
    deadline=$((SECONDS + TOOL_WAIT))
    while :; do
        if ! kill -0 "$shell_job" 2>/dev/null; then
            exit_status=$(sed -n 's/^exit //p' "$work/shell")
            [[ -n $exit_status ]] && break
            status_written && break
            if ! reachable; then
                wait_for_return "lost $serial while the tool ran ($reason), which runs on there" ||
                    { lost=1 && die "the log so far is in $log"; }
            fi
        fi
        fetch_log || true
        show_new_lines
        if ((interrupted && !stop_sent)); then stop_tool interrupted && stop_sent=1 deadline=$SECONDS; fi
        if ((SECONDS > deadline + 10)); then
            if ((stop_sent)); then
                say "the tool did not stop within 10 s: killing it"
                on_device kill -KILL "$tool_pid" || true
            else
                stop_tool "the tool has not ended within $TOOL_WAIT s" && stop_sent=1
            fi
            deadline=$SECONDS
        fi
        pause 0.5
    done
    wait "$shell_job" || true
    fetch_log || say "the end of the log could not be fetched ($reason): pull $DEVICE_LOG for it"
    show_new_lines
    # The tool itself writes nothing there: this is the linker's word or the shell's.
    head -n 5 "$work/shell.err" | tr -d '\r' | while IFS= read -r line; do say "on the device: $line"; done
    [[ $exit_status == [01] ]] || die "the tool ended with status $exit_status (killed on the device?)"
}

pull_results() {  # into a scratch name first, so a failed pull leaves FILE as it was
    local scratch
    scratch=$(dirname -- "$output_local")/.${output_local##*/}.device-run.$$
    if ! ask "$TOOL_WAIT" pull "$output_device" "$scratch" || ! mv -f -- "$scratch" "$output_local"; then
        rm -f -- "$scratch" && die "could not pull $output_device to $output_local ($reason)"
    fi
}

# Whatever ended the run, the device is restored; a failed restore turns any status into 2.
on_exit() {
    local status=$?
    trap '' INT TERM
    if ((!ended)); then say "stopped unexpectedly (status $status)" && status=2; fi
    if ((changed)); then
        if restore; then restored=restored; else restored="NOT restored" status=2; fi
    fi
    [[ -z $member ]] || summarize "$status" >"$member.summary"
    [[ -z $work ]] || rm -rf "$work"
    exit "$status"
}

# One device's line at the end of a station's run: STATUS, a tab, then what became of it.
summarize() {
    local found="" count
    if [[ ${tool_args[0]:-} == scan ]]; then
        count=$(sed -n 's/^# Total devices: //p' "$output_local" 2>/dev/null | tail -n 1) || true
        [[ -n $count ]] ||
            count=$(sed -n 's/.* Discovered \([0-9]*\) devices:$/\1/p' "$log" 2>/dev/null | tail -n 1) || true
        if [[ -n $count ]]; then found=", $count devices found"; else found=", no device list"; fi
    fi
    printf '%s\t%s, %s: %s%s, %s\n' "$1" "Android ${release:-?} (API ${api:-?})" "${hal_kind:-HAL unknown}" \
        "$(if [[ -n $failure ]]; then echo "failed: ${failure%; nothing changed}"; else echo "tool exit $1"; fi)" \
        "$found" "${restored:-nothing changed}"
}

# Two devices or more: each one's whole run at once, by this script for that one device with
# its names and its lines marked with its serial. The runs ignore SIGINT, so that a Ctrl-C
# cannot end one (or its markers) before it has restored its device: it reaches them as a
# SIGTERM from here, which they take as one.
run_station() {
    local s pid status=0 code line pids=() said=0
    trap '((++interrupted))' INT TERM
    say "running on ${#serials[@]} devices at once: ${serials[*]}"
    for s in "${serials[@]}"; do
        station_member "$s" &
        pids+=("$!")
    done
    while :; do
        for pid in "${pids[@]}"; do kill -0 "$pid" 2>/dev/null && break; pid=""; done
        [[ -n $pid ]] || break
        if ((interrupted > said)); then
            if ((!said)); then say "interrupted: stopping the tool on every device, then restoring each"
            else say "interrupted again: each device is still restored before the run ends"; fi
            said=$interrupted
        fi
        ((!interrupted)) || for s in "${serials[@]}"; do
            [[ -e $work/$s.pid && ! -e $work/$s.stopped ]] || continue
            kill -TERM "$(cat "$work/$s.pid")" 2>/dev/null && : >"$work/$s.stopped"
        done
        pause 0.2
    done
    for pid in "${pids[@]}"; do wait "$pid" || true; done
    for s in "${serials[@]}"; do
        if [[ -e $work/$s.summary ]] && IFS=$'\t' read -r code line <"$work/$s.summary"; then
            say "[$s] $line"
        else
            code=2 && say "[$s] ended without a summary: the run was killed"
        fi
        if ((code == 2)); then status=2; elif ((code != 0 && status == 0)); then status=1; fi
    done
    ended=1
    exit "$status"
}
station_member() {  # in a subshell of its own: it and its markers outlive a Ctrl-C
    local s=$1
    trap '' INT
    {
        DEVICE_RUN_STATION_MEMBER="$work/$s" "$BASH" "$0" -s "$s" --binary "$binary" --log "$log" \
            "${user_args[@]}" 2>&1 1>&3 3>&- | mark "$s" >&2
    } 3>&1 | mark "$s"
}
mark() { awk -v mark="[$1] " '{ print mark $0; fflush() }'; }

# The devices of this run: those named (each once), or every one adb lists as ready.
station_serials() {
    local -a named=("${serials[@]}")
    local s
    if ((all)); then
        command -v adb >/dev/null || die "adb not found on PATH"
        bounded "$answer_wait" adb devices >"$work/devices" 2>&1 ||
            die "adb devices failed ($(tail -n 1 "$work/devices"))"
        mapfile -t named < <(awk 'NR > 1 && $2 == "device" { print $1 }' "$work/devices")
        ((${#named[@]})) || die "--all: no device attached (adb devices lists none ready)"
    fi
    serials=()
    for s in "${named[@]}"; do [[ " ${serials[*]} " == *" $s "* ]] || serials+=("$s"); done
    serial=${serials[0]:-}
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
    if [[ -n $member ]]; then
        echo $$ >"$member.pid"
    else
        station_serials
        ((${#serials[@]} < 2)) || run_station
    fi
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
