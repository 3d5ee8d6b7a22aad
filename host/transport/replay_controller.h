// A controller played from a capture, on its own thread at the far end of the HAL's link: it
// answers each command as a controller does and sends the captured inquiry results and
// advertising reports, with their recorded spacing, once an inquiry or an LE scan starts.
#pragma once

#include <memory>
#include <string>
#include <thread>

#include "fd_link.h"
#include "replay_script.h"
#include "unique_fd.h"

namespace orvalinquist {
namespace host {

class ReplayController {
  public:
    // Runs on `fd` until the HAL hangs up or this object goes. Null, with `error` set, when
    // the thread's descriptors cannot be set up.
    static std::unique_ptr<ReplayController> start(ReplayScript script, UniqueFd fd,
                                                   std::string name, std::string* error);
    ~ReplayController();

  private:
    using Clock = std::chrono::steady_clock;
    struct Playback {
        bool on = false;
        Clock::time_point start;
        size_t next = 0;
    };

    ReplayController(ReplayScript script, std::unique_ptr<FdLink> link, UniqueFd stop,
                     std::string name);
    void run();
    bool answer(const std::vector<uint8_t>& command);
    void startPlayback(AirKind kind, bool on);
    // Sends what is due; returns the wait until the next event in ms, or -1 for none.
    int playDue(bool* ok);
    bool send(std::vector<uint8_t> event);

    const ReplayScript script_;
    const std::unique_ptr<FdLink> link_;
    const UniqueFd stop_;
    const std::string name_;
    Playback playback_[kAirKinds];
    std::thread thread_;
};

}  // namespace host
}  // namespace orvalinquist
