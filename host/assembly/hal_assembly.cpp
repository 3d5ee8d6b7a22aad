#include "hal_assembly.h"

#include <android/log.h>
#include <sys/stat.h>

#include <string>

#include "btsnoop_writer.h"
#include "host_environment.h"
#include "host_hal.h"
#include "host_log.h"
#include "recording_link.h"
#include "transport_scheme.h"

namespace orvalinquist {
namespace host {

namespace {

// True when both paths exist and name one file, through a symlink or a hard link too.
bool sameFile(const std::string& a, const std::string& b) {
    struct stat sa, sb;
    return stat(a.c_str(), &sa) == 0 && stat(b.c_str(), &sb) == 0 && sa.st_dev == sb.st_dev &&
           sa.st_ino == sb.st_ino;
}

}  // namespace

::android::sp<::android::hardware::bluetooth::V1_0::IBluetoothHci> openHal(const char* transport,
                                                                           const char* snoop_path) {
    std::string error;
    const std::unique_ptr<Transport> parsed = parseTransport(transport, kTransportEnvVar, &error);
    if (!parsed) {
        __android_log_print(ANDROID_LOG_ERROR, kHostLogTag, "%s", error.c_str());
        return nullptr;
    }
    const std::string name = transport != nullptr ? transport : kDefaultTransport;
    const bool snooping = snoop_path != nullptr && *snoop_path != '\0';
    // Unlike other capture faults this one ends the run: the capture would truncate the file
    // that is being played, and the user's only copy of it may be gone.
    if (snooping && !parsed->playedFile().empty() && sameFile(parsed->playedFile(), snoop_path)) {
        __android_log_print(ANDROID_LOG_ERROR, kHostLogTag,
                            "Cannot write HCI capture \"%s\": it is the file that \"%s\" plays and "
                            "would be overwritten; set %s to another file",
                            snoop_path, name.c_str(), kSnoopEnvVar);
        return nullptr;
    }
    std::unique_ptr<Link> link = parsed->open(name, &error);
    if (!link) {
        __android_log_print(ANDROID_LOG_ERROR, kHostLogTag, "Cannot open HCI transport \"%s\": %s",
                            name.c_str(), error.c_str());
        return nullptr;
    }
    if (snooping) {
        std::unique_ptr<BtSnoopWriter> snoop = BtSnoopWriter::open(snoop_path, &error);
        if (snoop) {
            link = std::make_unique<RecordingLink>(std::move(link), std::move(snoop));
        } else {
            // The capture is an aid; the controller is still usable without it.
            __android_log_print(ANDROID_LOG_ERROR, kHostLogTag,
                                "Cannot write HCI capture \"%s\": %s; continuing without it",
                                snoop_path, error.c_str());
        }
    }
    ::android::sp<HostHal> hal =
        HostHal::create(name, parsed->silenceHint(), std::move(link), &error);
    if (hal == nullptr) {
        __android_log_print(ANDROID_LOG_ERROR, kHostLogTag, "Cannot open HCI transport \"%s\": %s",
                            name.c_str(), error.c_str());
        return nullptr;
    }
    __android_log_print(ANDROID_LOG_INFO, kHostLogTag, "HCI transport %s open", name.c_str());
    return hal;
}

}  // namespace host
}  // namespace orvalinquist
