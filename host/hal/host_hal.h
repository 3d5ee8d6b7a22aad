// IBluetoothHci over an H4 link to a controller: a reader thread hands received packets to
// the callbacks, senders write whole packets.
#pragma once

#include <android/hardware/bluetooth/1.0/IBluetoothHci.h>

#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "link.h"

namespace orvalinquist {
namespace host {

struct HalCore;

class HostHal : public ::android::hardware::bluetooth::V1_0::IBluetoothHci {
  public:
    using Callbacks = ::android::hardware::bluetooth::V1_0::IBluetoothHciCallbacks;
    template <typename T>
    using Return = ::android::hardware::Return<T>;
    using Bytes = ::android::hardware::hidl_vec<uint8_t>;

    // `name` is the transport as the user gave it; log lines carry it. `silence_hint`, when
    // not empty, follows the causes that the silence warning names ("it may be off or not
    // connected"): a cause that only this link has. The HAL keeps the link until its last
    // reference goes. Null, with `error` set, when the HAL's wake-up descriptors cannot be made.
    static ::android::sp<HostHal> create(std::string name, std::string silence_hint,
                                         std::unique_ptr<Link> link, std::string* error);
    ~HostHal() override;

    // Starts the reader thread, which reports initializationComplete(SUCCESS) first.
    Return<void> initialize(const ::android::sp<Callbacks>& callback) override;
    Return<void> sendHciCommand(const Bytes& command) override;
    Return<void> sendAclData(const Bytes& data) override;
    Return<void> sendScoData(const Bytes& data) override;
    // Stops and joins the reader and hangs up the link; later sends fail. Safe from a
    // callback and repeatable.
    Return<void> close() override;

    // Longest wait of close for a reader that is inside a callback.
    static constexpr int kCloseWaitMs = 1000;
    // How long a command may wait, with nothing received since it went out, before one
    // WARNING says that the controller is silent. Linux itself gives up on a command after
    // 2 s, so a controller that answers is not warned about; the tool's `enable` runs 3 s
    // past its Reset, so a dead controller is warned about within it.
    static constexpr int kSilenceWarnMs = 2500;

  private:
    explicit HostHal(std::shared_ptr<HalCore> core) : core_(std::move(core)) {}
    Return<void> send(H4Type type, const Bytes& packet);

    const std::shared_ptr<HalCore> core_;
    std::mutex lifecycle_mutex_;  // guards reader_ and started_
    std::thread reader_;
    bool started_ = false;
};

}  // namespace host
}  // namespace orvalinquist
