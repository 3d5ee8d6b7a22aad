// A controller transport named "<scheme>:<rest>". Each scheme is one file that parses its rest
// into a Transport and opens it, and one row of the table in transport_schemes.cpp.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "link.h"

namespace orvalinquist {
namespace host {

constexpr char kDefaultTransport[] = "hci:0";

// How long a connect may wait: a TCP host that drops packets would otherwise hold the tool
// for the kernel's two minutes, a Unix socket whose owner never accepts for ever.
constexpr int kConnectTimeoutMs = 5000;

// One transport name as its scheme parsed it. Each scheme keeps its own fields.
class Transport {
  public:
    virtual ~Transport() = default;

    // The link to the controller, or null with `error` naming the cause. `name` is the
    // transport as the user gave it, for log lines.
    virtual std::unique_ptr<Link> open(const std::string& name, std::string* error) const = 0;

    // What the name says, with every default filled in: "hci:0", "serial:/dev/ttyS0,115200".
    virtual std::string describe() const = 0;

    // A cause of a silent controller that only this transport has, worded to follow "it may be
    // off or not connected", e.g. "or at another baud rate"; empty for none.
    virtual std::string silenceHint() const { return std::string(); }

    // The file that the link plays, which must not be overwritten while it does; empty for none.
    virtual std::string playedFile() const { return std::string(); }

    // True for a socket to a controller that other hosts can reach too (an emulator's): the
    // transports that a peer program drives.
    virtual bool reachesSharedController() const { return false; }
};

// Parses `value`, the value of `variable`; null selects kDefaultTransport. A scheme's parse
// function gets the text after its prefix. On a malformed value returns null and sets `error`
// to "Bad <variable> value ..." with the reason and the accepted forms.
std::unique_ptr<Transport> parseTransport(const char* value, const char* variable,
                                          std::string* error);

// Plain decimal digits only, at most `max`: no sign, no spaces, no hex.
bool parseDecimal(const std::string& text, uint64_t max, uint64_t* value);

}  // namespace host
}  // namespace orvalinquist
