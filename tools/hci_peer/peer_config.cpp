#include "peer_config.h"

#include <getopt.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace orvalinquist {
namespace peer {
namespace {

constexpr uint8_t kAdFlags = 0x01;
constexpr uint8_t kAdCompleteUuid16 = 0x03;
constexpr uint8_t kAdCompleteName = 0x09;
constexpr size_t kAdvertisingDataMax = 31;

bool parseOnOff(const char* text, bool* value) {
    if (strcmp(text, "on") == 0) {
        *value = true;
        return true;
    }
    if (strcmp(text, "off") == 0) {
        *value = false;
        return true;
    }
    return false;
}

bool parseLeMode(const char* text, LeMode* mode) {
    static const struct {
        const char* word;
        LeMode mode;
    } kModes[] = {{"off", LeMode::kOff},
                  {"connectable", LeMode::kConnectable},
                  {"scannable", LeMode::kScannable},
                  {"nonconnectable", LeMode::kNonConnectable},
                  {"directed", LeMode::kDirected}};
    for (const auto& entry : kModes) {
        if (strcmp(text, entry.word) == 0) {
            *mode = entry.mode;
            return true;
        }
    }
    return false;
}

bool parseHex(const char* text, unsigned long max, unsigned long* value) {
    char* end = nullptr;
    errno = 0;
    *value = strtoul(text, &end, 16);
    return errno == 0 && end != text && *end == '\0' && *value <= max;
}

}  // namespace

const char* peerUsage() {
    return "Usage: hci_peer [options]\n"
           "  --transport unix:PATH|tcp:HOST:PORT  controller (default "
           "unix:/tmp/bt-server-bredrle)\n"
           "  --name NAME              local name, also advertised over LE\n"
           "  --le off|connectable|scannable|nonconnectable|directed\n"
           "                           LE advertising (default off)\n"
           "  --direct-to NAME         with --le directed: aim at the device advertising NAME\n"
           "  --inquiry-scan on|off    classic discoverable (default off)\n"
           "  --page-scan on|off       classic connectable (default off)\n"
           "  --class HEX              class of device, e.g. 5a020c\n"
           "  --uuid HEX               16-bit service UUID to advertise (repeatable)\n"
           "  --help                   this text\n"
           "Prints \"ready <address>\" on stdout once set up; runs until SIGTERM or SIGINT.\n";
}

bool parsePeerArgs(int argc, char** argv, PeerConfig* config, std::string* error) {
    static const option kOptions[] = {{"transport", required_argument, nullptr, 't'},
                                      {"name", required_argument, nullptr, 'n'},
                                      {"le", required_argument, nullptr, 'l'},
                                      {"inquiry-scan", required_argument, nullptr, 'i'},
                                      {"page-scan", required_argument, nullptr, 'p'},
                                      {"class", required_argument, nullptr, 'c'},
                                      {"uuid", required_argument, nullptr, 'u'},
                                      {"direct-to", required_argument, nullptr, 'd'},
                                      {"help", no_argument, nullptr, 'h'},
                                      {nullptr, 0, nullptr, 0}};
    optind = 1;
    opterr = 0;
    int opt;
    while ((opt = getopt_long(argc, argv, "", kOptions, nullptr)) != -1) {
        unsigned long value = 0;
        bool ok = true;
        switch (opt) {
            case 't':
                config->transport = optarg;
                break;
            case 'n':
                config->name = optarg;
                break;
            case 'l':
                ok = parseLeMode(optarg, &config->le);
                break;
            case 'i':
                ok = parseOnOff(optarg, &config->inquiryScan);
                break;
            case 'p':
                ok = parseOnOff(optarg, &config->pageScan);
                break;
            case 'd':
                config->directTo = optarg;
                break;
            case 'h':
                config->help = true;
                return true;
            case 'c':
                ok = parseHex(optarg, 0xffffff, &value);
                config->deviceClass = static_cast<uint32_t>(value);
                break;
            case 'u':
                ok = parseHex(optarg, 0xffff, &value);
                config->uuids.push_back(static_cast<uint16_t>(value));
                break;
            default:
                *error = "unknown option or missing argument";
                return false;
        }
        if (!ok) {
            *error = std::string("bad value: ") + optarg;
            return false;
        }
    }
    if (optind < argc) {
        *error = std::string("unexpected argument: ") + argv[optind];
        return false;
    }
    if ((config->le == LeMode::kDirected) != !config->directTo.empty()) {
        *error = "--le directed and --direct-to go together";
        return false;
    }
    if (config->name.size() > 248) {
        *error = "name longer than 248 bytes";
        return false;
    }
    return true;
}

bool buildAdvertisingData(const PeerConfig& config, std::vector<uint8_t>* params,
                          std::string* error) {
    // General discoverable; "BR/EDR not supported" only when the classic side stays dark.
    const bool classic = config.inquiryScan || config.pageScan;
    std::vector<uint8_t> data = {2, kAdFlags, static_cast<uint8_t>(classic ? 0x02 : 0x06)};
    if (!config.name.empty()) {
        data.push_back(static_cast<uint8_t>(config.name.size() + 1));
        data.push_back(kAdCompleteName);
        data.insert(data.end(), config.name.begin(), config.name.end());
    }
    if (!config.uuids.empty()) {
        data.push_back(static_cast<uint8_t>(config.uuids.size() * 2 + 1));
        data.push_back(kAdCompleteUuid16);
        for (uint16_t uuid : config.uuids) {
            data.push_back(static_cast<uint8_t>(uuid & 0xff));
            data.push_back(static_cast<uint8_t>(uuid >> 8));
        }
    }
    if (data.size() > kAdvertisingDataMax) {
        *error = "advertising data exceed 31 bytes: shorten the name or drop UUIDs";
        return false;
    }
    params->assign(1, static_cast<uint8_t>(data.size()));
    params->insert(params->end(), data.begin(), data.end());
    params->resize(1 + kAdvertisingDataMax, 0);
    return true;
}

std::vector<uint8_t> buildAdvertisingParameters(LeMode mode, uint8_t targetType,
                                                const uint8_t* targetAddress) {
    uint8_t type = 0x00;                               // ADV_IND
    if (mode == LeMode::kScannable) type = 0x02;       // ADV_SCAN_IND
    if (mode == LeMode::kNonConnectable) type = 0x03;  // ADV_NONCONN_IND
    if (mode == LeMode::kDirected) type = 0x04;        // ADV_DIRECT_IND, low duty cycle
    std::vector<uint8_t> params = {0x20, 0x00, 0x40, 0x00, type, 0x00, 0x00};
    for (int i = 0; i < 6; ++i) {
        params.push_back(mode == LeMode::kDirected && targetAddress ? targetAddress[i] : 0);
    }
    if (mode == LeMode::kDirected) params[6] = targetType;
    params.push_back(0x07);
    params.push_back(0x00);
    return params;
}

std::string completeNameOf(const uint8_t* data, size_t len) {
    size_t pos = 0;
    while (pos < len && data[pos] != 0 && pos + data[pos] < len) {
        const uint8_t fieldLen = data[pos];
        if (fieldLen >= 2 && data[pos + 1] == kAdCompleteName) {
            return std::string(reinterpret_cast<const char*>(&data[pos + 2]), fieldLen - 1);
        }
        pos += fieldLen + 1;
    }
    return std::string();
}

}  // namespace peer
}  // namespace orvalinquist
