#include <android/log.h>
#include <errno.h>
#include <sys/socket.h>

#include <cstring>

#include "capture_reader.h"
#include "fd_link.h"
#include "host_log.h"
#include "replay_controller.h"
#include "replay_script.h"
#include "transport_scheme.h"

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

// Reads and checks the whole capture at `path`, starts the played controller and returns the
// HAL's link to it, which stops the controller when it goes.
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

class ReplayTransport : public Transport {
  public:
    explicit ReplayTransport(std::string path) : path_(std::move(path)) {}

    std::unique_ptr<Link> open(const std::string& name, std::string* error) const override {
        return openReplay(path_, name, error);
    }
    std::string describe() const override { return "replay:" + path_; }
    std::string playedFile() const override { return path_; }

  private:
    const std::string path_;
};

}  // namespace

// replay:FILE, a btsnoop capture.
std::unique_ptr<Transport> parseReplayTransport(const std::string& rest, std::string* why) {
    if (rest.empty()) {
        *why = "capture path is empty";
        return nullptr;
    }
    return std::make_unique<ReplayTransport>(rest);
}

}  // namespace host
}  // namespace orvalinquist
