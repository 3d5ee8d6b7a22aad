// Tag of the host platform's own log lines, apart from the tool's.
#pragma once

namespace orvalinquist {
namespace host {

constexpr const char kHostLogTag[] = "hci_host";

}  // namespace host
}  // namespace orvalinquist
