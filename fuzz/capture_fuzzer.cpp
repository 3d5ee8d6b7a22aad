// libFuzzer target for replay:FILE: any byte string as a capture, read and made into the
// played controller's script. Its offsets keep file order and stay far from overflowing the
// replay's nanosecond clock, and an empty name is no name.
#include <cstdlib>

#include "replay_script.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace orvalinquist::host;
    std::string error;
    const auto capture = parseCapture(std::vector<uint8_t>(data, data + size), &error);
    if (!capture) return 0;
    const ReplayScript script = makeReplayScript(*capture);
    for (const auto& [address, name] : script.names)
        if (name.empty()) std::abort();
    for (const std::vector<AirEvent>& air : script.air) {
        for (size_t i = 0; i < air.size(); ++i) {
            if (air[i].offset < air[i > 0 ? i - 1 : 0].offset || air[i].offset.count() >> 50)
                std::abort();
        }
    }
    return 0;
}
