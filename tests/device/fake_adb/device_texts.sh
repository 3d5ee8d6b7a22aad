# shellcheck shell=bash
# What real devices print for dumpsys bluetooth_manager, service list, getprop and lshal, at their
# real size, so that the runner's parsing meets whole texts and not tidy excerpts. Sourced by the
# fake adb: functions only. Each takes CACHE, a directory keeping the big unchanging parts once made.

# CACHE KEY COMMAND...: COMMAND's output, made once for KEY. Written aside and moved in, so that
# tests running side by side never read half a file.
_dt_cached() {
    local file=$1/device-texts-1-$2
    if [[ ! -s $file ]]; then
        "${@:3}" >"$file.$BASHPID" || { rm -f "$file.$BASHPID" && return 1; }
        mv -f "$file.$BASHPID" "$file"
    fi
    cat "$file"
}

# dumpsys bluetooth_manager: the manager's own block, then the stack's dump while the stack is up.
dumpsys_bluetooth_manager() {
    awk -v enabled="$2" -v state="$3" 'BEGIN {
        printf "Bluetooth Status\n  enabled: %s\n  state: %s\n  address: 3C:28:6D:4A:91:E2\n  name: Pixel 7\n", enabled, state
        if (enabled == "true") print "  time since enabled: 02:11:33.123"
        non = split("android SYSTEM_BOOT,com.android.systemui APPLICATION_REQUEST,com.android.settings APPLICATION_REQUEST," \
            "android AIRPLANE_MODE,com.android.shell SHELL,android RESTORE_USER_SETTING", on, ",")
        noff = split("com.android.systemui APPLICATION_REQUEST,android AIRPLANE_MODE,com.android.shell SHELL," \
            "com.google.android.gms APPLICATION_REQUEST,android USER_SWITCH", off, ",")
        print "\nEnable log:"
        for (i = 0; i < 20; i++) {  # alternating, and the last change is the one that left it so
            m = 600 + i * 397 + i * i * 37 % 200; up = (i % 2 == 1) == (enabled == "true")
            split(up ? on[1 + kon++ * 5 % non] : off[1 + koff++ * 3 % noff], w, " ")
            printf "  12-%02d %02d:%02d:%02d.%03d %s by %s. Reason: %s\n", 1 + int(m / 1440), int(m / 60) % 24, m % 60,
                i * 13 % 60, i * 71 % 1000, up ? "Enabled" : "Disabled", w[1], w[2]
        }
        print "\nLast 0 Bluetooth crashes\n\n0 BLE apps registered\n" }'
    if [[ $3 == ON ]]; then _dt_cached "$1" stack _dt_stack; else echo "Bluetooth Service not connected"; fi
}

# The stack's own dump: the adapter, each profile (NAME|MACHINE|DEVICE KIND|WHATS|STATES|FIELDS, a
# trailing \ going on) with a state machine and its record log per device, then the native stack.
_dt_stack() {
    awk -F '|' '
    function r(n) { seed = seed * 16807 % 2147483647; return seed % n }
    function log_of(ind, name, states, whats,    st, wh, ns, nw, n, i, out, dest, w, t) {
        ns = split(states, st, " "); nw = split(whats, wh, " "); n = 40 + r(130); cur = st[1]; t = 28800000 + r(7200000)
        out = ind name ":\n" ind " total records=" n "\n"
        for (i = 0; i < n; i++) {
            t += 50 + r(20000); dest = st[1 + r(ns)]; w = wh[1 + r(nw)]
            if (dest == cur || r(3)) dest = "<null>"
            out = out sprintf("%s rec[%d]: time=12-06 %02d:%02d:%02d.%03d processed=%s org=%s dest=%s what=%s%s\n", ind, i,
                t / 3600000, t / 60000 % 60, t / 1000 % 60, t % 1000, cur, cur, dest, w,
                w == "STACK_EVENT" ? " EVENT_TYPE_" ev[1 + r(4)] : "")
            if (dest != "<null>") cur = dest
        }
        return out ind "curState=" cur "\n"
    }
    BEGIN {
        seed = 20231206
        split("CONNECTION_STATE_CHANGED(1) AUDIO_STATE_CHANGED(2) CODEC_CONFIG_CHANGED(3) VOLUME_CHANGED(5)", ev, " ")
        nd = split("C0:86:B3:12:7A:01=DUAL=AL=Pixel Buds Pro,F4:4E:FD:3A:22:9B=BR/EDR=A=WH-1000XM4,AC:80:0A:5C:19:E4=DUAL=AL=" \
            "Galaxy Buds2 Pro,00:1B:66:A1:07:3D=BR/EDR=A=MOMENTUM 4,D8:37:3B:90:4F:12=BR/EDR=AP=Car Multimedia," \
            "5C:C1:D7:E0:88:21=BR/EDR=H=Keychron K2,E8:D0:3C:44:B2:6F= LE =G=Phonak Audeo", dev, ",")
        printf "AdapterProperties\n  Name: Pixel 7\n  Address: 3C:28:6D:4A:91:E2\n  BluetoothClass: 5a020c\n  ScanMode: " \
            "SCAN_MODE_CONNECTABLE\n  ConnectionState: STATE_CONNECTED\n  State: ON\n  MaxConnectedAudioDevices: 5\n" \
            "  A2dpOffloadEnabled: true\n  Discovering: false\n  DiscoveryEndMs: 0\n  Bonded devices:\n"
        for (d = 1; d <= nd; d++)
            if (split(dev[d], f, "=")) { addr[d] = f[1]; kind[d] = f[3]; printf "    %s [%s] %s\n", f[1], f[2], f[4] }
        print "mSnoopLogSettingAtEnable = filtered\nmDefaultSnoopLogSettingAtEnable = empty\n\nEnabled Profile Services:"
    }
    /\\$/ { part = part substr($0, 1, length($0) - 1); next }
    { $0 = part $0; part = ""; line[++n] = $0; print "  " $1 }
    END {
        printf "\n%s", log_of("", "AdapterState", "OffState TurningBleOnState BleOnState TurningOnState OnState TurningOffState " \
            "TurningBleOffState", "BLE_TURN_ON BLE_STARTED BREDR_STARTED USER_TURN_ON USER_TURN_OFF BLE_STOPPED BREDR_STOPPED")
        for (l = 1; l <= n; l++) {
            split(line[l], p, "|"); print "\nProfile: " p[1]
            nf = split(p[6], fl, ";"); for (i = 1; i <= nf; i++) print "  " fl[i]
            for (d = 1; p[2] != "" && d <= nd; d++) if (index(kind[d], p[3])) {
                rec = log_of("      ", p[2] ":" addr[d], p[5] == "" ? "Disconnected Connecting Connected Disconnecting" : p[5],
                    p[4] == "" ? "CONNECT DISCONNECT STACK_EVENT CONNECT_TIMEOUT" : p[4])
                printf "  mDevice: %s\n    StateMachine: name=%s:%s state=%s\n    mConnectionState: %s\n    StateMachineLog:\n%s",
                    addr[d], p[2], addr[d], cur, cur, rec
            }
        }
        print "\nA2DP State:\n  TxQueue:\n    Counts (enqueue/dequeue/readbuf)    : 48204 / 48186 / 0\n  Codec: AAC"
        print "\nLE Audio Broadcast:\n  enabled: false\n  state: IDLE\n\n--- BEGIN:BTSNOOP_LOG_SUMMARY (98304 bytes in) ---"
        b64 = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/"
        for (i = 0; i < 640; i++) { s = ""; for (j = 0; j < 128; j++) s = s substr(b64, 1 + r(64), 1); print s }
        print "--- END:BTSNOOP_LOG_SUMMARY ---"
    }' <<'EOF'
A2dpService|A2dpStateMachine|A|||mActiveDevice: C0:86:B3:12:7A:01;mMaxConnectedAudioDevices: 5;mA2dpOffloadEnabled: true
HeadsetService|HeadsetStateMachine|A|CONNECT DISCONNECT CONNECT_AUDIO STACK_EVENT CALL_STATE_CHANGED|Disconnected \
Connecting Connected AudioOn Disconnecting|mActiveDevice: C0:86:B3:12:7A:01;mForceScoAudio: false;mAudioRouteAllowed: true
HearingAidService|HearingAidStateMachine|G|||mActiveDeviceHiSyncId: 0;mHiSyncIdConnectedMap: {}
LeAudioService|LeAudioStateMachine|L|||currentlyActiveGroupId: -1;Group: 1;  state: Disconnected;  isActive: false
HidHostService||H|||mTargetDevice: null;mInputDevices:;  5C:C1:D7:E0:88:21 : STATE_CONNECTED
PanService||P|||mMaxPanDevices: 5;mPanIfName: bt-pan;mTetherOn: false
BluetoothMapService||P|||mRemoteDevice: null;mState: 0;mIsWaitingAuthorization: false;mSmsMmsSupported: true
BluetoothPbapService|PbapStateMachine|P|REQUEST_PERMISSION AUTHORIZED DISCONNECT|WaitingForAuth Connected Finished|
GattService||X|||mAdvertiserMap:;  Entries: 2;mScannerMap:;  Entries: 5
BassClientService|BassClientStateMachine|L|CONNECT DISCONNECT START_SCAN_OFFLOAD GATT_TXN_PROCESSED|Disconnected \
Connecting Connected ConnectedProcessing|mActiveSourceMap: {};  enabled: false
VolumeControlService|VolumeControlStateMachine|L|||Volume offset:;  enabled: false;  state: Disconnected
CsipSetCoordinatorService|CsipSetCoordinatorStateMachine|L|||mLocks: {}
EOF
}

# service list: servicemanager's names in byte order. Lines are PACKAGE NAME[:IFACE]... with IFACE in
# PACKAGE (whole for PACKAGE -, none for [], and I<Name>Manager added to a bare or dotted one), or
# +PACKAGE IFACE[/INSTANCE] for AIDL HALs (instance default), with those of lshal's HIDL ones whose AIDL
# successor kept the name. ENTRY%HAL is only on that kind of device.
service_list() { _dt_cached "$1" "services-$2" _dt_services "$2"; }
_dt_services() {
    { _dt_hidl && cat; } <<'EOF' | awk -v hal="$1" '
    BEGIN { split("data messaging modem network sim voice", radio, " ")
        for (i = 2; i <= 13; i++) { x = radio[int(i / 2)]
            iface = "android.hardware.radio." x ".IRadio" toupper(substr(x, 1, 1)) substr(x, 2)
            printf "%s/slot%d\t%s\n", iface, 1 + i % 2, iface } }
    /^android\.hardware / { for (i = 2; i <= NF; i++)
        if ($i !~ /blue|radio@|keym|audio|fing|compo|omx|Cry|%/ && split($i, h, /@[0-9.-]+::/) == 2) {
            iface = h[2]; sub(/\/.*/, "", iface)
            printf "android.hardware.%s.%s\tandroid.hardware.%s.%s\n", h[1], h[2], h[1], iface } }
    /::/ { next }
    { for (i = 2; i <= NF; i++) {
        e = $i; if ((k = index(e, "%")) && substr(e, k + 1) != hal) continue
        sub(/%.*/, "", e); if (!index(e, ":") && $1 !~ /^[-+]/) e = e ":"
        if ($1 ~ /^\+/) { iface = name = substr($1, 2) "." e; sub(/\/.*/, "", iface); name = name (iface == name ? "/default" : "") }
        else { k = index(e, ":"); name = substr(e, 1, k - 1); iface = substr(e, k + 1) }
        if ($1 !~ /^[-+]/) iface = $1 "." iface (iface ~ /^$|\.$/ ? "I" toupper(substr(name, 1, 1)) substr(name, 2) "Manager" : "")
        printf "%s\t%s\n", name, iface } }' | LC_ALL=C sort -u -t $'\t' -k1,1 |
- DockObserver: cpuinfo: dbinfo: diskstats: gfxinfo: meminfo: binder_calls_stats: looper_stats: cacheinfo: runtime:
- bluetooth_manager:android.bluetooth.IBluetoothManager account:android.accounts.IAccountManager adb:android.debug.IAdbManager
- SurfaceFlinger:android.ui.ISurfaceComposer SurfaceFlingerAIDL:android.gui.ISurfaceComposer gpu:android.graphicsenv.IGpuService
- sensorservice:android.gui.SensorServer apexservice:android.apex.IApexService location:android.location.ILocationManager
- suspend_control:android.system.suspend.ISuspendControlService webviewupdate:android.webkit.IWebViewUpdateService
android.app activity activity_task:IActivityTaskManager alarm notification search wallpaper locale uimode:IUiModeManager
android.app trust:trust. role:role. people:people. slice:slice. device_policy:admin.IDevicePolicyManager
android.app backup:backup.IBackupManager usagestats:usage.IUsageStatsManager jobscheduler:job.IJobScheduler
android.os power user incident vibrator_manager:IVibratorManagerService vold:IVold stats:IStatsd installd:IInstalld
android.os deviceidle:IDeviceIdleController recovery:IRecoverySystem thermalservice:IThermalService idmap:IIdmap2
android.os permission:IPermissionController storaged:IStoraged dumpstate:IDumpstate manager:IServiceManager
android.os mount:storage.IStorageManager android.os.UpdateEngineService:IUpdateEngine system_config:ISystemConfig
android.content restrictions clipboard:IClipboard content:IContentService overlay:om.IOverlayManager
android.content package:pm.IPackageManager package_native:pm.IPackageManagerNative shortcut:pm.IShortcutService
android.net connectivity ethernet netpolicy:INetworkPolicyManager netstats:INetworkStatsService netd:INetd
android.net vpn_management:IVpnManager tethering:ITetheringConnector dnsresolver:IDnsResolver ipsec:IIpSecService
android.net wifi:wifi. wifiscanner:wifi.IWifiScanner wifip2p:wifi.p2p.IWifiP2pManager servicediscovery:nsd.INsdManager
android.view window accessibility:accessibility. autofill:autofill.IAutoFillManager graphicsstats:IGraphicsStats
android.hardware media.camera:ICameraService input:input. display:display. usb:usb. lights:lights.ILightsManager
android.hardware fingerprint:fingerprint.IFingerprintService biometric:biometrics.IBiometricService auth:biometrics.IAuthService
android.media audio:IAudioService media_router:IMediaRouterService media_session:session.ISessionManager midi:midi.
android.media media.audio_flinger:IAudioFlingerService media.audio_policy:IAudioPolicyService media.player:IMediaPlayerService
android.media media.extractor:IMediaExtractorService media.metrics:IMediaMetricsService tv_input:tv.ITvInputManager
com.android.internal appops:app.IAppOpsService batterystats:app.IBatteryStats statusbar:statusbar.IStatusBarService
com.android.internal telephony.registry:telephony.ITelephonyRegistry phone:telephony.ITelephony isub:telephony.ISub
com.android.internal input_method:view.IInputMethodManager dropbox:os.IDropBoxManagerService lock_settings:widget.ILockSettings
+android.frameworks stats.IStats
+android.system keystore2.IKeystoreService suspend.ISystemSuspend
+android.hardware audio.core.IConfig audio.core.IModule audio.core.IModule/r_submix audio.core.IModule/usb
+android.hardware audio.core.IModule/bluetooth audio.effect.IFactory bluetooth.audio.IBluetoothAudioProviderFactory
+android.hardware bluetooth.IBluetoothHci%aidl bluetooth.ranging.IBluetoothChannelSounding%aidl light.ILights
+android.hardware biometrics.face.IFace biometrics.fingerprint.IFingerprint graphics.allocator.IAllocator oemlock.IOemLock
+android.hardware security.keymint.IKeyMintDevice security.keymint.IKeyMintDevice/strongbox graphics.composer3.IComposer
+android.hardware security.keymint.IRemotelyProvisionedComponent security.secureclock.ISecureClock memtrack.IMemtrack
+android.hardware security.sharedsecret.ISharedSecret power.IPower weaver.IWeaver contexthub.IContextHub uwb.IUwb
EOF
        awk -F '\t' '{ l[NR] = $1 ": [" $2 "]" }
            END { printf "Found %d services:\n", NR; for (i = 1; i <= NR; i++) printf "%d\t%s\n", i - 1, l[i] }'
}

# getprop: PROPDIR's properties over a Pixel's own, by name. init's ro.boottime and debug pid go with
# each service PROPDIR names, as init sets them.
getprop_all() {
    local p v
    {
        for p in "$2"/*; do [[ -f $p ]] && v= && { IFS= read -r v <"$p" || :; } && printf '%s\t%s\n' "${p##*/}" "$v"; done
        echo && _dt_cached "$1" props _dt_props
    } | awk -F '\t' '
        function out(k, v) { if (!(k in done)) printf "%s\t[%s]: [%s]\n", k, k, v; done[k] = 1 }
        $0 == "" { filler = 1; next }
        !filler { out($1, $2); if ($1 ~ /^init\.svc\./) svc[substr($1, 10)] = $2; next }
        /^init\.svc_debug_pid\./ && substr($1, 20) in svc && svc[substr($1, 20)] != "running" { next }
        { line[++n] = $0 }
        END { for (i = 1; i <= n; i++) { split(line[i], f, "\t"); out(f[1], f[2]) }
            for (s in svc) { out("ro.boottime." s, sprintf("%.0f", 4100000000 + length(s) * 7919123))
                if (svc[s] == "running") out("init.svc_debug_pid." s, 900 + length(s) * 17) } }' |
        LC_ALL=C sort -t $'\t' -k1,1 | cut -f2-
}
# Lines are PREFIX|KEY=VALUE... (a {a,b} in PREFIX makes one of each), and "init|" the system's
# services (NAME:0 stopped) to which lshal's vendor HALs add theirs. None has "bluetooth" in its
# name: the device's own HAL service comes from PROPDIR.
_dt_props() {
    { _dt_hidl && cat; } <<'EOF' | awk -F '|' 'function p(k, v) { printf "%s\t%s\n", k, v }
    /\\$/ { part = part substr($0, 1, length($0) - 1); next }
    { $0 = part $0; part = "" }
    /^android\.hardware / { for (i = split($0, w, " "); i > 1; i--)
        if (w[i] !~ /bluetooth/ && split(w[i], h, "[@:]") && !seen[h[1]]++) {
            gsub(/\./, "-", h[1]); sub(/\./, "-", h[2]); sub(/-[0-9]+-/, "-", h[2]); svc[++ns] = "vendor." h[1] "-hal-" h[2] } }
    $1 == "init" { for (i = split($2, w, " "); i; i--) svc[++ns] = w[i] }
    NF < 2 || $1 == "init" { next }
    { pre = $1; post = ""; alt[na = 1] = ""
        if (match($1, /\{[^}]*\}/)) { pre = substr($1, 1, RSTART - 1); post = substr($1, RSTART + RLENGTH)
            na = split(substr($1, RSTART + 1, RLENGTH - 2), alt, ",") }
        for (a = 1; a <= na; a++) for (i = 2; i <= NF; i++)
            if (k = index($i, "=")) p(pre alt[a] post substr($i, 1, k - 1), substr($i, k + 1)) }
    END { for (i = 1; i <= ns; i++) { up = split(svc[i], s, ":") == 1; p("init.svc." s[1], up ? "running" : "stopped")
        p("ro.boottime." s[1], sprintf("%.0f", 3200000000 + i * 61234567)); if (up) p("init.svc_debug_pid." s[1], 300 + i * 23) } }'
ro.{,bootimage.,odm.,odm_dlkm.,product.,system.,system_dlkm.,system_ext.,vendor.,vendor_dlkm.}build.|id=TQ3A.230805.001|\
date=Fri Jul 14 09:12:33 UTC 2023|date.utc=1689325953|tags=release-keys|type=user|version.incremental=10316531|\
fingerprint=google/panther/panther:13/TQ3A.230805.001/10316531:user/release-keys|version.release=13|version.sdk=33
ro.product.{,bootimage.,odm.,odm_dlkm.,product.,system.,system_dlkm.,system_ext.,vendor.,vendor_dlkm.}|brand=google|\
device=panther|manufacturer=Google|model=Pixel 7|name=panther
init|adbd apexd audioserver cameraserver credstore drm gatekeeperd gpu hidl_memory hwservicemanager idmap2d incidentd \
installd keystore2 lmkd logd media media.extractor media.metrics media.swcodec mediadrm netd prng_seeder servicemanager \
statsd storaged surfaceflinger system_suspend thermalservice tombstoned traced traced_probes ueventd update_engine usbd \
vold wificond zygote zygote_secondary wpa_supplicant vendor.ril-daemon vendor.keymint-default bootanim:0 dumpstate:0 \
blank_screen:0 bugreport:0 flash_recovery:0 apexd-bootstrap:0 derive_sdk:0 odsign:0 update_verifier:0 exec_3:0 mdnsd:0
ro.boot.|hardware=panther|bootloader=cloudripper-14.0-10158349|mode=normal|slot_suffix=_a|verifiedbootstate=green|\
vbmeta.device_state=locked|flash.locked=1|serialno=28011FDH2000XZ|hardware.sku=GVU6C|bootreason=reboot|avb_version=1.2
dalvik.vm.|heapsize=512m|heapgrowthlimit=256m|heapstartsize=8m|heapminfree=2m|usejit=true|isa.arm64.variant=cortex-a76
pm.dexopt.{ab-ota,bg-dexopt,install,install-bulk}|=speed-profile
pm.dexopt.{boot-after-ota,cmdline,first-boot,inactive,install-fast}|=verify
bluetooth.|device.class_of_device=90,2,12|device.default_name=Pixel 7|core.gap.le.privacy.enabled=true|\
hardware.power.operating_voltage_mv=3300|core.le.vendor_capabilities.enabled=true
bluetooth.profile.{a2dp.source,avrcp.target,bap.broadcast.assist,bap.unicast.client,bas.client,csip.set_coordinator,\
gatt,hap.client,hfp.ag,hid.host,map.server,mcp.server,opp,pan.nap,pan.panu,pbap.server,vcp.controller}.enabled|=true
bluetooth.profile.{hid.device,sap.server,ccp.server}.enabled|=false
persist.bluetooth.|a2dp_offload.disabled=false|leaudio_offload.disabled=false|btsnooplogmode=filtered|\
btsnoopdefaultmode=empty|bluetooth_keystore=true
ro.bluetooth.|a2dp_offload.supported=true|a2dp_offload.codecs=sbc-aac-ldac-opus|leaudio_offload.supported=true
ro.|hardware=panther|hardware.egl=mali|debuggable=0|secure=1|adb.secure=1|sf.lcd_density=420|treble.enabled=true|\
crypto.state=encrypted|zygote=zygote64_32|product.cpu.abilist=arm64-v8a,armeabi-v7a,armeabi|vndk.version=33
|sys.boot_completed=1|sys.usb.config=mtp,adb|sys.usb.state=mtp,adb|gsm.sim.state=LOADED,ABSENT|net.bt.name=Android|\
persist.sys.timezone=Europe/London|persist.sys.locale=en-GB|persist.sys.usb.config=mtp|wifi.interface=wlan0
persist.device_config.{activity_manager_native_boot,runtime_native,runtime_native_boot,storage_native_boot,netd_native,\
surface_flinger_native_boot,window_manager_native_boot,media_native,lmkd_native,camera_native,mglru_native,statsd_native,\
memory_safety_native_boot,configuration,input_native_boot,profcollect_native_boot,vendor_system_native,privacy,\
biometrics_framework,device_personalization_services,app_compat,connectivity,wifi}.|enable=true|use_freezer=true|\
lock_profiling=false|pool_size_max=10|metrics_reporting=1|max_cache_entries=640|boot_filter=speed-profile|version=3|\
flags_v2=true|app_image_cache=false|keep_alive_ms=30000|parallel_dexopt=true|sampling_rate=1.0|timeout_ms=5000|\
kill_delay_ms=60000|trace_enabled=false|max_entries=100|rollout=1|use_memfd=true|batch_size=32|debug=false|\
region=default|cache_ttl_ms=3600000
EOF
}

# lshal's default table. Lines are PACKAGE NAME@MAJOR.MINOR[-LAST]::IFACE/INSTANCE...: one server
# registers its whole chain, every minor version from .0 (or from MINOR, up to LAST); %HAL as above.
lshal_table() { _dt_cached "$1" "lshal-$2" _dt_lshal "$2"; }
_dt_hidl() {
    cat <<'EOF'
android.frameworks cameraservice.service@2.2::ICameraService/default sensorservice@1.0::ISensorManager/default
android.hardware audio@7.1::IDevicesFactory/default audio.effect@7.0::IEffectsFactory/default boot@1.2::IBootControl/default
android.hardware bluetooth@1.0::IBluetoothHci/default%hidl@1.0 bluetooth@1.1::IBluetoothHci/default%hidl@1.1
android.hardware bluetooth.a2dp@1.0::IBluetoothAudioOffload/default cas@1.2::IMediaCasService/default
android.hardware bluetooth.audio@2.1::IBluetoothAudioProvidersFactory/default gnss@2.1::IGnss/default
android.hardware biometrics.fingerprint@2.3::IBiometricsFingerprint/default camera.provider@2.4-7::ICameraProvider/internal/0
android.hardware drm@1.4::ICryptoFactory/clearkey drm@1.4::IDrmFactory/clearkey dumpstate@1.1::IDumpstateDevice/default
android.hardware gatekeeper@1.0::IGatekeeper/default graphics.composer@2.4::IComposer/default health@2.1::IHealth/default
android.hardware keymaster@4.1::IKeymasterDevice/default keymaster@4.1::IKeymasterDevice/strongbox nfc@1.2::INfc/default
android.hardware media.c2@1.2::IComponentStore/default media.omx@1.0::IOmx/default power.stats@1.0::IPowerStats/default
android.hardware radio@1.6::IRadio/slot1 radio@1.6::IRadio/slot2 radio.config@1.3::IRadioConfig/default
android.hardware sensors@2.1::ISensors/default soundtrigger@2.3::ISoundTriggerHw/default thermal@2.0::IThermal/default
android.hardware usb@1.3::IUsb/default vibrator@1.3::IVibrator/default wifi@1.6::IWifi/default
android.hardware wifi.supplicant@1.4::ISupplicant/default wifi.hostapd@1.3::IHostapd/default
android.hidl allocator@1.0::IAllocator/ashmem manager@1.2::IServiceManager/default token@1.0::ITokenManager/default
android.system net.netd@1.1::INetd/default suspend@1.0::ISystemSuspend/default wifi.keystore@1.0::IKeystore/default
vendor.qti.hardware radio.ims@1.8::IImsRadio/imsradio0 perf@2.2::IPerf/default
EOF
}
_dt_table() {  # HEADING, then rows of INTERFACE VINTF R THREADS SERVER CLIENTS, tab-separated
    awk -F '\t' -v head="$1" '{ row[NR] = $0; if (length($1) > w) w = length($1) }
        END { print head; fmt = "%-5s %s %-" w "s %-10s %-6s %s\n"
            printf fmt, "VINTF", "R", "Interface", "Thread Use", "Server", "Clients"
            for (i = 1; i <= NR; i++) { split(row[i], c, "\t"); printf fmt, c[2], c[3], c[1], c[4], c[5], c[6] }
            print "" }'
}
_dt_lshal() {
    _dt_hidl | awk -v hal="$1" 'BEGIN { nc = split("1409 967 1123 1201 2256 3810 742 1540", pool, " ") }
    { for (i = 2; i <= NF; i++) {
        e = $i; n++; if ((k = index(e, "%")) && substr(e, k + 1) != hal) continue
        sub(/%.*/, "", e); split(e, a, "@"); split(a[2], b, "::"); split(b[1], v, "."); split(v[2], m, "-")
        lo = 2 in m ? m[1] : 0; hi = 2 in m ? m[2] : m[1]
        vintf = $1 ~ /^android\.(hidl|frameworks|system)/ ? "DC,FM" : $1 ~ /^vendor/ ? "DM" : "DM,FC"
        clients = ""; for (c = 0; c <= n % 3; c++) clients = clients (c ? " " : "") pool[1 + (n * 3 + c * 5) % nc]
        for (x = lo; x <= hi; x++) printf "%s.%s@%s.%d::%s\t%s\tY\t0/%d\t%d\t%s\n", $1, a[1], v[1], x, b[2], vintf,
            1 + n % 5, 500 + n * 263 % 9000, clients } }' |
        LC_ALL=C sort -t $'\t' -k1,1 | _dt_table "| All binderized services (registered with hwservicemanager)"
    printf '%s\tX\tN\tN/A\tN/A\t%s\n' android.hardware.graphics.mapper@4.0::IMapper/default "967 1409 1201 2256" \
        android.hardware.renderscript@1.0::IDevice/default 3810 android.hidl.memory@1.0::IMapper/ashmem 1409 |
        _dt_table "| All interfaces that getService() has ever returned as a passthrough interface;
| PIDs / processes shown below might be inaccurate because the process
| might have relinquished the interface or might have died.
| The Server / Server CMD column can be ignored.
| The Clients / Clients CMD column shows all process that have ever dlopen'ed
| the library and successfully fetched the passthrough implementation."
    local impl=(android.hardware.graphics.mapper@4.0 android.hardware.renderscript@1.0 android.hardware.audio.effect@7.0)
    [[ $1 != hidl* ]] || impl+=(android.hardware.bluetooth@1.0)  # a HIDL stack's own -impl.so
    { printf '%s::I*/* (/vendor/lib64/hw/)\tX\t?\tN/A\tN/A\t\n' "${impl[@]}"
        printf '%s::I*/* (/system/lib64/hw/)\tX\t?\tN/A\tN/A\t\n' android.hidl.memory@1.0
    } | LC_ALL=C sort | _dt_table "| All available passthrough implementations (all -impl.so files).
| These may return subclasses through their respective HIDL_FETCH_I* functions."
}
