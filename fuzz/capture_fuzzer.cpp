// libFuzzer target for replay:FILE: any byte string as a capture file, read and turned into
// the played controller's script. The offsets must keep file order and stay far inside what
// the replay adds to its clock in nanoseconds.
#include <cstdlib>

#include "capture_reader.h"
#include "replay_script.h"

using namespace orvalinquist::host;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string error;
    const std::optional<Capture> capture =
        parseCapture(std::vector<uint8_t>(data, data + size), &error);
    if (!capture) return 0;
    const ReplayScript script = makeReplayScript(*capture);
    for (const std::vector<AirEvent>& air : script.air) {
        std::chrono::microseconds previous(0);
        for (const AirEvent& e : air) {
            if (e.offset < previous || e.offset > std::chrono::hours(24 * 365 * 100)) std::abort();
            previous = e.offset;
        }
    }
    return 0;
}
