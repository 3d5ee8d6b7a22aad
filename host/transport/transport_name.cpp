#include "transport_name.h"

#include <sys/un.h>

#include <cstddef>

#include "transports.h"

namespace orvalinquist {
namespace host {

namespace {

// Plain decimal digits only: no sign, no spaces, no hex.
bool parseDecimal(const std::string& text, uint64_t max, uint64_t* value) {
    if (text.empty() || text.size() > 10) return false;
    uint64_t result = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
        result = result * 10 + static_cast<uint64_t>(c - '0');
    }
    if (result > max) return false;
    *value = result;
    return true;
}

bool startsWith(const std::string& text, const char* prefix, std::string* rest) {
    std::string p(prefix);
    if (text.compare(0, p.size(), p) != 0) return false;
    *rest = text.substr(p.size());
    return true;
}

std::optional<TransportName> malformed(const std::string& value, const std::string& why,
                                       std::string* error) {
    *error = "Bad " + std::string(kTransportEnvVar) + " value \"" + value + "\" (" + why +
             "); accepted forms: " + kTransportForms;
    return std::nullopt;
}

}  // namespace

std::optional<TransportName> parseTransport(const char* value, std::string* error) {
    TransportName parsed;
    if (value == nullptr) return parsed;
    const std::string text(value);
    // Set but empty is most likely a variable that expanded to nothing: taking the default
    // adapter instead would take it away from the Bluetooth stack without a word.
    if (text.empty()) return malformed(text, "empty; unset it for the default hci:0", error);
    std::string rest;
    uint64_t number = 0;

    if (startsWith(text, "hci:", &rest)) {
        // 0xffff is the kernel's "no device".
        if (!parseDecimal(rest, 0xfffe, &number)) {
            return malformed(text, "adapter index must be a number 0..65534", error);
        }
        parsed.kind = TransportName::Kind::kUserChannel;
        parsed.hci_index = static_cast<uint16_t>(number);
        return parsed;
    }
    if (startsWith(text, "unix:", &rest)) {
        if (rest.empty()) return malformed(text, "socket path is empty", error);
        if (rest.size() >= sizeof(sockaddr_un::sun_path)) {
            return malformed(text, "socket path is too long", error);
        }
        parsed.kind = TransportName::Kind::kUnix;
        parsed.path = rest;
        return parsed;
    }
    if (startsWith(text, "tcp:", &rest)) {
        size_t colon = rest.rfind(':');
        if (colon == std::string::npos) return malformed(text, "port is missing", error);
        std::string host = rest.substr(0, colon);
        if (host.size() >= 2 && host.front() == '[' && host.back() == ']') {
            host = host.substr(1, host.size() - 2);  // [v6 address]
        }
        if (host.empty()) return malformed(text, "host is empty", error);
        if (!parseDecimal(rest.substr(colon + 1), 65535, &number) || number == 0) {
            return malformed(text, "port must be a number 1..65535", error);
        }
        parsed.kind = TransportName::Kind::kTcp;
        parsed.host = host;
        parsed.port = static_cast<uint16_t>(number);
        return parsed;
    }
    if (startsWith(text, "serial:", &rest)) {
        size_t comma = rest.find(',');
        parsed.kind = TransportName::Kind::kSerial;
        parsed.path = rest.substr(0, comma);
        if (parsed.path.empty()) return malformed(text, "device path is empty", error);
        if (comma != std::string::npos) {
            if (!parseDecimal(rest.substr(comma + 1), 0xffffffffu, &number) ||
                !isSupportedBaud(static_cast<uint32_t>(number))) {
                return malformed(text, "unsupported baud rate", error);
            }
            parsed.baud = static_cast<uint32_t>(number);
        }
        return parsed;
    }
    if (startsWith(text, "replay:", &rest)) {
        if (rest.empty()) return malformed(text, "capture path is empty", error);
        parsed.kind = TransportName::Kind::kReplay;
        parsed.path = rest;
        return parsed;
    }
    return malformed(text, "unknown transport", error);
}

}  // namespace host
}  // namespace orvalinquist
