#include "replay_script.h"

#include <algorithm>
#include <optional>

namespace orvalinquist {
namespace host {

namespace {

constexpr uint8_t kInquiryResult = 0x02;
constexpr uint8_t kInquiryResultWithRssi = 0x22;
constexpr uint8_t kExtendedInquiryResult = 0x2f;
constexpr uint8_t kLeMeta = 0x3e;
constexpr uint8_t kLeAdvertisingReport = 0x02;
constexpr uint8_t kAdShortName = 0x08;
constexpr uint8_t kAdCompleteName = 0x09;

// Ranks of name sources: a name request's answer beats a complete name beats a short one.
enum NameRank { kNone, kShortName, kCompleteName, kNameRequest };

std::optional<AirKind> airKind(const std::vector<uint8_t>& e) {
    if (e[0] == kInquiryResult || e[0] == kInquiryResultWithRssi || e[0] == kExtendedInquiryResult) {
        return AirKind::kInquiry;
    }
    if (e[0] == kLeMeta && e.size() > 2 && e[2] == kLeAdvertisingReport) return AirKind::kLeScan;
    return std::nullopt;
}

bool startsKind(const std::vector<uint8_t>& command, AirKind kind) {
    if (kind == AirKind::kInquiry) return opcodeOf(command) == kInquiryOpcode;
    return opcodeOf(command) == kLeSetScanEnableOpcode && isScanEnableOn(command);
}

std::string text(const uint8_t* p, size_t size) {
    size = std::min(size, kMaxNameSize);
    return std::string(p, std::find(p, p + size, 0));
}

class NameBook {
  public:
    void add(const uint8_t* address, std::string name, NameRank rank) {
        DeviceAddress key;
        std::copy(address, address + key.size(), key.begin());
        Entry& entry = entries_[key];
        if (rank > entry.rank && !name.empty()) entry = {std::move(name), rank};
    }
    // The name, if any, in advertising or extended inquiry response data.
    void addFromAd(const uint8_t* address, const uint8_t* ad, size_t size) {
        for (size_t at = 0; at < size && ad[at] != 0 && at + 1 + ad[at] <= size; at += 1 + ad[at]) {
            const uint8_t type = ad[at + 1];
            if (type == kAdShortName || type == kAdCompleteName) {
                add(address, text(&ad[at + 2], ad[at] - 1),
                    type == kAdCompleteName ? kCompleteName : kShortName);
            }
        }
    }
    void addFrom(const std::vector<uint8_t>& e) {
        const size_t size = e.size();
        if (e[0] == kRemoteNameRequestComplete && size >= 9 && e[2] == 0) {
            add(&e[3], text(&e[9], size - 9), kNameRequest);
        } else if (e[0] == kExtendedInquiryResult && size >= 17) {
            addFromAd(&e[3], &e[17], size - 17);
        } else if (airKind(e) == AirKind::kLeScan && size >= 4) {
            // Reports one after the other: type, address type, address, length, data, RSSI.
            size_t at = 4;
            for (int i = 0; i < e[3] && at + 9 <= size && at + 10 + e[at + 8] <= size; ++i) {
                addFromAd(&e[at + 2], &e[at + 9], e[at + 8]);
                at += 10 + e[at + 8];
            }
        }
    }
    std::map<DeviceAddress, std::string> names() const {
        std::map<DeviceAddress, std::string> out;
        for (const auto& [address, entry] : entries_) out[address] = entry.name;
        return out;
    }

  private:
    struct Entry {
        std::string name;
        NameRank rank = kNone;
    };
    std::map<DeviceAddress, Entry> entries_;
};

}  // namespace

ReplayScript makeReplayScript(const Capture& capture) {
    ReplayScript script;
    script.status_opcodes = {kInquiryOpcode, kRemoteNameRequestOpcode};
    NameBook names;
    std::optional<int64_t> started[kAirKinds];  // the latest command that started each kind
    std::optional<int64_t> anchor[kAirKinds];
    for (const CapturedPacket& p : capture.packets) {
        for (AirKind kind : {AirKind::kInquiry, AirKind::kLeScan}) {
            if (p.type == H4Type::kCommand && startsKind(p.bytes, kind)) {
                started[static_cast<size_t>(kind)] = p.micros;
            }
        }
        if (p.type != H4Type::kEvent) continue;
        names.addFrom(p.bytes);
        if (p.bytes[0] == kCommandStatus && p.bytes.size() >= 6) {
            const uint16_t op = static_cast<uint16_t>(p.bytes[4] | p.bytes[5] << 8);
            if (op != 0) script.status_opcodes.insert(op);  // 0: no command, only credits
        }
        const std::optional<AirKind> kind = airKind(p.bytes);
        if (!kind) continue;
        const size_t k = static_cast<size_t>(*kind);
        if (!anchor[k]) anchor[k] = started[k] ? *started[k] : p.micros;
        // A clock that steps back must not reorder the events.
        std::chrono::microseconds offset(std::max<int64_t>(p.micros - *anchor[k], 0));
        if (!script.air[k].empty()) offset = std::max(offset, script.air[k].back().offset);
        script.air[k].push_back({offset, p.bytes});
    }
    script.names = names.names();
    return script;
}

}  // namespace host
}  // namespace orvalinquist
