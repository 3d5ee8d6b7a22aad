#include "link.h"

#include <cstdio>
#include <cstring>

namespace orvalinquist {
namespace host {

std::string describeReadFailure(const Link& link, Link::ReadResult result, int err, size_t size) {
    char text[96];
    switch (result) {
        case Link::ReadResult::kOk:
            return std::string();
        case Link::ReadResult::kHangUp:
            return "the controller side hung up";
        case Link::ReadResult::kError:
            return std::string("read failed: ") + strerror(err);
        case Link::ReadResult::kBadType:
            snprintf(text, sizeof(text), "byte 0x%02x is no H4 packet type", link.badTypeByte());
            return text;
        case Link::ReadResult::kMalformed:
            snprintf(text, sizeof(text), "a packet of %zu bytes does not match its header", size);
            return text;
    }
    return std::string();
}

}  // namespace host
}  // namespace orvalinquist
