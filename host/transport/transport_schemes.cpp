// The table of transport schemes, and the parse that picks a scheme by its prefix.
#include <string>

#include "transport_scheme.h"

namespace orvalinquist {
namespace host {

// One row a scheme: its prefix, its form as the accepted forms list it, and the function,
// defined in the scheme's own file, that parses the text after the prefix into a transport, or
// returns null with `why` set. A new scheme is its own file and one row here.
#define TRANSPORT_SCHEMES(ROW)                                      \
    ROW("hci:", "hci:N (default hci:0)", parseUserChannelTransport) \
    ROW("unix:", "unix:PATH", parseUnixTransport)                   \
    ROW("tcp:", "tcp:HOST:PORT", parseTcpTransport)                 \
    ROW("serial:", "serial:PATH[,BAUD]", parseSerialTransport)      \
    ROW("replay:", "replay:FILE", parseReplayTransport)

#define DECLARE_PARSE(prefix, form, parse) \
    std::unique_ptr<Transport> parse(const std::string& rest, std::string* why);
TRANSPORT_SCHEMES(DECLARE_PARSE)
#undef DECLARE_PARSE

namespace {

struct Scheme {
    const char* prefix;
    const char* form;
    std::unique_ptr<Transport> (*parse)(const std::string& rest, std::string* why);
};

#define SCHEME_ROW(prefix, form, parse) {prefix, form, parse},
constexpr Scheme kSchemes[] = {TRANSPORT_SCHEMES(SCHEME_ROW)};
#undef SCHEME_ROW

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
