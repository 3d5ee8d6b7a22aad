# shellcheck shell=bash
# What a phone prints for dumpsys bluetooth_manager, service list, getprop and lshal, in their
# shapes and at their size, so that the runner's parsing meets whole texts and not tidy
# excerpts. Sourced by the fake adb: functions only. Each takes CACHE, where the big unchanging
# parts are made once.

# CACHE KEY COMMAND...: COMMAND's output, made once for KEY; written aside and moved in, so that
# tests side by side never read half a file.
_dt_cached() {
    local file=$1/device-texts-2-$2 aside=$1/device-texts-2-$2.$BASHPID
    if [[ ! -s $file ]]; then
        "${@:3}" >"$aside" || { rm -f "$aside" && return 1; }
        mv -f "$aside" "$file"
    fi
    cat "$file"
}

# The manager's block first (its "enabled:" and "state:" are the first of the dump), then, with
# the stack up, the stack's own dump: about 350 KB of profiles and state-machine records, with
# fields of the same names further down.
dumpsys_bluetooth_manager() {
    printf 'Bluetooth Status\n  enabled: %s\n  state: %s\n  address: 3C:28:6D:4A:91:E2\n  name: Pixel 7\n' "$2" "$3"
    [[ $2 != true ]] || echo "  time since enabled: 02:11:33.123"
    printf '\nEnable log:\n'
    for i in {0..19}; do
        printf '  12-06 %02d:%02d:11.%03d %s by com.android.systemui. Reason: APPLICATION_REQUEST\n' \
            $((8 + i / 3)) $((i * 7 % 60)) $((i * 71 % 1000)) "$( ((i % 2)) && echo Enabled || echo Disabled)"
    done
    printf '\nLast 0 Bluetooth crashes\n\n0 BLE apps registered\n\n'
    if [[ $3 == ON ]]; then _dt_cached "$1" stack _dt_stack; else echo "Bluetooth Service not connected"; fi
}
_dt_stack() {
    awk 'BEGIN {
        print "AdapterProperties\n  Name: Pixel 7\n  ConnectionState: STATE_CONNECTED\n  State: ON"
        n = split("A2dp Headset HearingAid LeAudio HidHost Pan Map Pbap Gatt BassClient VolumeControl Csip", p, " ")
        for (i = 1; i <= n; i++) {
            printf "\nProfile: %sService\n  enabled: %s\n    state: Disconnected\n", p[i], i % 2 ? "true" : "false"
            for (d = 0; d < 4; d++) {
                printf "  mDevice: C0:86:B3:12:7A:%02X\n    StateMachine: name=%sStateMachine state=Connected\n", d, p[i]
                printf "    StateMachineLog:\n       total records=60\n"
                for (r = 0; r < 60; r++)
                    printf "       rec[%d]: time=12-06 10:%02d:%02d.%03d processed=Connected org=Connected dest=<null> what=STACK_EVENT EVENT_TYPE_CONNECTION_STATE_CHANGED(1)\n", r, r % 60, (r * 7) % 60, r * 13 % 1000
            }
        }
        print "\nLE Audio Broadcast:\n  enabled: false\n  state: IDLE" }'
}

# service list: "Found N services:", then I<TAB>NAME: [INTERFACE] sorted by name; the AIDL HAL is
# among the android.hardware ones only on an AIDL device, its audio sibling on every kind.
service_list() { _dt_cached "$1" "services-$2" _dt_services "$2"; }
_dt_services() {
    {
        for i in {1..90}; do echo "service_$i: [android.os.IService$i]"; done
        for i in {1..60}; do echo "android.hardware.vendor$i.IVendor$i/default: [android.hardware.vendor$i.IVendor$i]"; done
        echo "activity: [android.app.IActivityManager]"
        echo "bluetooth_manager: [android.bluetooth.IBluetoothManager]"
        echo "android.hardware.bluetooth.audio.IBluetoothAudioProviderFactory/default: [android.hardware.bluetooth.audio.IBluetoothAudioProviderFactory]"
        [[ $1 != aidl ]] || echo "android.hardware.bluetooth.IBluetoothHci/default: [android.hardware.bluetooth.IBluetoothHci]"
    } | LC_ALL=C sort | awk '{ line[NR] = $0 } END { printf "Found %d services:\n", NR
        for (i = 1; i <= NR; i++) printf "%d\t%s\n", i - 1, line[i] }'
}

# getprop: about a thousand [name]: [value] lines by name, PROPDIR's over the filler. No filler
# service of init names bluetooth: the device's HAL service comes from PROPDIR.
getprop_all() {
    local p v
    {
        for p in "$2"/*; do [[ -f $p ]] && v= && { IFS= read -r v <"$p" || :; } && printf '%s\t%s\n' "${p##*/}" "$v"; done
        _dt_cached "$1" props awk 'BEGIN {
            for (i = 0; i < 900; i++) printf "persist.device_config.namespace%d.flag%d\t%d\n", i % 40, i, i % 3
            for (i = 0; i < 60; i++) printf "init.svc.service%d\t%s\n", i, i % 5 ? "running" : "stopped"
            printf "bluetooth.device.default_name\tPixel 7\npersist.bluetooth.btsnooplogmode\tfiltered\n"
            printf "init.svc_debug_pid.vendor.bluetooth-1-1\t1234\n" }'
    } | awk -F '\t' '!($1 in seen) { seen[$1] = 1; printf "%s\t[%s]: [%s]\n", $1, $1, $2 }' |
        LC_ALL=C sort -t $'\t' -k1,1 | cut -f2-
}

# lshal: its binderized table, 120 rows and more, the HIDL HCI rows only on a HIDL device, then
# a passthrough section.
lshal_table() { _dt_cached "$1" "lshal-$2" _dt_lshal "$2"; }
_dt_lshal() {
    echo "| All binderized services (registered with hwservicemanager)"
    printf '%-5s %s %-70s %-10s %-6s %s\n' VINTF R Interface "Thread Use" Server Clients
    {
        for i in {1..120}; do echo "android.hardware.vendor$i@1.0::IVendor$i/default"; done
        echo "android.hardware.bluetooth.audio@2.1::IBluetoothAudioProvidersFactory/default"
        [[ $1 != hidl* ]] || echo "android.hardware.bluetooth@1.0::IBluetoothHci/default"
        [[ $1 != hidl@1.1 ]] || echo "android.hardware.bluetooth@1.1::IBluetoothHci/default"
    } | LC_ALL=C sort | awk '{ printf "%-5s Y %-70s %-10s %-6d %d %d\n", "DM,FC", $0, "0/2", 900 + NR, 1409, 2256 }'
    printf '\n| All available passthrough implementations (all -impl.so files).\n'
    echo "X     ? android.hardware.bluetooth@1.0::I*/* (/vendor/lib64/hw/)   N/A        N/A"
}
