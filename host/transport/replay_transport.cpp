#include "transports.h"

#include <android/log.h>
#include <errno.h>
#include <sys/socket.h>

#include <cstring>

#include "capture_reader.h"
#include "open_hal.h"
#include "replay_controller.h"
#include "replay_script.h"

namespace orvalinquist {
namespace host {

UniqueFd openReplay(const std::string& path, const std::string& name,
                    std::unique_ptr<InProcessController>* controller, std::string* error) {
    std::optional<Capture> capture = readCapture(path, error);
    if (!capture) return UniqueFd();
    ReplayScript script = makeReplayScript(*capture);
    int fds[2];
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds) != 0) {
        *error = std::string("socketpair failed: ") + strerror(errno);
        return UniqueFd();
    }
    UniqueFd ours(fds[0]), theirs(fds[1]);
    __android_log_print(
        ANDROID_LOG_INFO, kHostLogTag,
        "HCI transport %s: %s%s%zu inquiry and %zu LE advertising events, %zu "
        "names",
        name.c_str(), capture->controller.c_str(), capture->controller.empty() ? "" : ": ",
        script.air[static_cast<size_t>(AirKind::kInquiry)].size(),
        script.air[static_cast<size_t>(AirKind::kLeScan)].size(), script.names.size());
    *controller = ReplayController::start(std::move(script), std::move(theirs), name, error);
    if (*controller == nullptr) return UniqueFd();
    return ours;
}

}  // namespace host
}  // namespace orvalinquist
