#include "peer_config.h"

#include <getopt.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "hci_codes.h"

namespace orvalinquist {
namespace peer {
namespace {

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

bool parseNumber(const char* text, int base, unsigned long max, unsigned long* value) {
    char* end = nullptr;
    errno = 0;
    *value = strtoul(text, &end, base);
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
           "  --name-in advertising|scan-response\n"
           "                           where the LE name goes (default advertising)\n"
           "  --interval MS            restart advertising every MS ms plus 0-10 ms, so that\n"
           "                           scanners hear it again (default 100; 0: once)\n"
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
                                      {"name-in", required_argument, nullptr, 'N'},
                                      {"interval", required_argument, nullptr, 'I'},
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
            case 'N':
                ok = strcmp(optarg, "advertising") == 0 || strcmp(optarg, "scan-response") == 0;
                config->nameInScanResponse = strcmp(optarg, "scan-response") == 0;
                break;
            case 'I':
                ok = parseNumber(optarg, 10, 10240, &value);
                config->intervalMs = static_cast<int>(value);
                break;
            case 'h':
                config->help = true;
                return true;
            case 'c':
                ok = parseNumber(optarg, 16, 0xffffff, &value);
                config->deviceClass = static_cast<uint32_t>(value);
                break;
            case 'u':
                ok = parseNumber(optarg, 16, 0xffff, &value);
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
    if (config->name.size() > host::kMaxNameSize) {
        *error = "name longer than " + std::to_string(host::kMaxNameSize) + " bytes";
        return false;
    }
    return true;
}

}  // namespace peer
}  // namespace orvalinquist
