// The table of transport schemes: a new scheme is its own file and one row here.
#include <string>

#include "transport_scheme.h"

namespace orvalinquist {
namespace host {

// Each parses the text after its prefix: the transport, or null with `why` set. Defined in
// the scheme's own file.
using ParseScheme = std::unique_ptr<Transport> (*)(const std::string& rest, std::string* why);
std::unique_ptr<Transport> parseUserChannelTransport(const std::string& rest, std::string* why);
std::unique_ptr<Transport> parseUnixTransport(const std::string& rest, std::string* why);
std::unique_ptr<Transport> parseTcpTransport(const std::string& rest, std::string* why);
std::unique_ptr<Transport> parseSerialTransport(const std::string& rest, std::string* why);
std::unique_ptr<Transport> parseReplayTransport(const std::string& rest, std::string* why);

namespace {

struct Scheme {
    const char* prefix;
    const char* form;  // as the accepted forms list it
    ParseScheme parse;
};

constexpr Scheme kSchemes[] = {
    {"hci:", "hci:N (default hci:0)", parseUserChannelTransport},
    {"unix:", "unix:PATH", parseUnixTransport},
    {"tcp:", "tcp:HOST:PORT", parseTcpTransport},
    {"serial:", "serial:PATH[,BAUD]", parseSerialTransport},
    {"replay:", "replay:FILE", parseReplayTransport},
};

std::string acceptedForms() {
    std::string forms;
    for (const Scheme& scheme : kSchemes)
        forms += (forms.empty() ? "" : ", ") + std::string(scheme.form);
    return forms;
}

}  // namespace

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

std::unique_ptr<Transport> parseTransport(const char* value, const char* variable,
                                          std::string* error) {
    const std::string text = value != nullptr ? value : kDefaultTransport;
    std::string why = "unknown transport";
    std::unique_ptr<Transport> parsed;
    // Set but empty is most likely a variable that expanded to nothing: taking the default
    // adapter instead would take it away from the Bluetooth stack without a word.
    if (text.empty()) why = std::string("empty; unset it for the default ") + kDefaultTransport;
    for (const Scheme& scheme : kSchemes) {
        const std::string prefix = scheme.prefix;
        if (!text.empty() && text.compare(0, prefix.size(), prefix) == 0) {
            parsed = scheme.parse(text.substr(prefix.size()), &why);
            break;
        }
    }
    if (parsed == nullptr) {
        *error = "Bad " + std::string(variable) + " value \"" + text + "\" (" + why +
                 "); accepted forms: " + acceptedForms();
    }
    return parsed;
}

}  // namespace host
}  // namespace orvalinquist
