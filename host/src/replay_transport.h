// The replay transport: a controller played from a btsnoop capture, reached over a socket
// pair like any other controller.
#pragma once

#include <memory>
#include <string>

#include "host_hal.h"
#include "unique_fd.h"

namespace orvalinquist {
namespace host {

// Reads and checks the whole capture at `path`, starts the played controller and returns the
// HAL's end of the link. An invalid descriptor, with `error` naming the fault, on failure.
// `name` is the transport as the user gave it.
UniqueFd openReplay(const std::string& path, const std::string& name,
                    std::unique_ptr<InProcessController>* controller, std::string* error);

}  // namespace host
}  // namespace orvalinquist
