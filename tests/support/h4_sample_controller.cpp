// A scripted controller for trying the tool by hand:
//   h4_sample_controller /tmp/hci.sock [--once] &
//   BT_HCI_TRANSPORT=unix:/tmp/hci.sock orvalinquist scan -t 2 -o /tmp/x.csv
// Every command gets Command Complete. A scan finds a named, connectable LE speaker and a
// classic hands-free kit whose name comes back from a Remote Name Request. Runs until SIGINT
// or SIGTERM, or with --once until the first connection has closed.
#include <signal.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>

#include "h4_controller.h"

using namespace testsupport;
using std::chrono::milliseconds;

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s SOCKET_PATH [--once]\n", argv[0]);
        return 2;
    }
    bool once = argc > 2 && std::strcmp(argv[2], "--once") == 0;
    sigset_t stop;
    sigemptyset(&stop);
    sigaddset(&stop, SIGINT);
    sigaddset(&stop, SIGTERM);
    // Blocked before the controller's thread exists, so that only sigwait sees them.
    if (pthread_sigmask(SIG_BLOCK, &stop, nullptr) != 0) return 1;

    H4Controller controller(argv[1]);
    if (!controller.ok()) return 1;
    const Bytes speaker = {0x5E, 0x4D, 0x3C, 0x2B, 0x1A, 0x00};
    const Bytes kit = {0xBF, 0xAE, 0x9D, 0x8C, 0x7B, 0x6A};
    // Spaced out: the tool keeps only the newest event that it has not yet taken.
    controller.onCommand(
        {0x0C, 0x20, 0x02, 0x01},
        {{milliseconds(300),
          leAdvertisingReport(0x00, speaker, adFlagsAndName("Kitchen Speaker"), -52)}});
    controller.onCommand({0x01, 0x04},
                         {{milliseconds(1500), inquiryResult(kit, {0x08, 0x04, 0x24})}});
    controller.onCommand(remoteNameRequest(kit),
                         {{milliseconds(0), commandStatus(0x0419)},
                          {milliseconds(300), remoteNameComplete(kit, "Car Kit")}},
                         /*replaceDefault=*/true);
    std::fprintf(stderr, "listening on %s\n", argv[1]);

    if (once) {
        while (!controller.waitForClosed(1, milliseconds(200))) {
            timespec now{0, 0};
            if (sigtimedwait(&stop, nullptr, &now) > 0) break;
        }
    } else {
        int signal;
        sigwait(&stop, &signal);
    }
    std::fprintf(stderr, "%zu commands, %d connections\n", controller.commands().size(),
                 controller.connectionsAccepted());
    return 0;
}
