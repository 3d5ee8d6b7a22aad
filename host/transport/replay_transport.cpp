#include <android/log.h>
#include <errno.h>
#include <sys/socket.h>

#include <cstring>

#include "capture_reader.h"
#include "fd_link.h"
#include "host_log.h"
#include "replay_controller.h"
#include "replay_script.h"
#include "transports.h"

namespace orvalinquist {
namespace host {

namespace {

// The HAL's end of the link to the played controller, which it keeps until it goes.
class ReplayLink : public ForwardingLink {
  public:
    ReplayLink(std::unique_ptr<Link> link, std::unique_ptr<ReplayController> controller)
        : ForwardingLink(std::move(link)), controller_(std::move(controller)) {}

  private:
    const std::unique_ptr<ReplayController> controller_;
};

}  // namespace

std::unique_ptr<Link> openReplay(const std::string& path, const std::string& name,
                                 std::string* error) {
    std::optional<Capture> capture = readCapture(path, error);
    if (!capture) return nullptr;
    ReplayScript script = makeReplayScript(*capture);
    int fds[2];
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds) != 0) {
        *error = std::string("socketpair failed: ") + strerror(errno);
        return nullptr;
    }
    UniqueFd ours(fds[0]), theirs(fds[1]);
    __android_log_print(
        ANDROID_LOG_INFO, kHostLogTag,
        "HCI transport %s: %s%s%zu inquiry and %zu LE advertising events, %zu "
        "names",
        name.c_str(), capture->controller.c_str(), capture->controller.empty() ? "" : ": ",
        script.air[static_cast<size_t>(AirKind::kInquiry)].size(),
        script.air[static_cast<size_t>(AirKind::kLeScan)].size(), script.names.size());
    std::unique_ptr<ReplayController> controller =
        ReplayController::start(std::move(script), std::move(theirs), name, error);
    if (controller == nullptr) return nullptr;
    std::unique_ptr<FdLink> link = FdLink::create(std::move(ours), Framing::kStream, error);
    if (link == nullptr) return nullptr;
    return std::make_unique<ReplayLink>(std::move(link), std::move(controller));
}

}  // namespace host
}  // namespace orvalinquist
