#include "replay_script.h"

#include <algorithm>
#include <optional>

#include "advertising_data.h"
#include "hci_codes.h"

namespace orvalinquist {
namespace host {

namespace {

// The longest scan the tool runs; a longer gap between two events is a step of the clock.
// With the file size limit it also bounds every offset far below what nanoseconds can hold.
constexpr uint64_t kMaxGapMicros = 15'000'000;

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
    // An empty name (or one of zeros only) is no name: the address stays unknown.
    void add(const uint8_t* address, std::string name, NameRank rank) {
        if (name.empty()) return;
        DeviceAddress key;
        std::copy(address, address + key.size(), key.begin());
        Entry& entry = entries_[key];
        if (rank > entry.rank) entry = {std::move(name), rank};
    }
    // The name, if any, in advertising or extended inquiry response data.
    void addFromAd(const uint8_t* address, const uint8_t* ad, size_t size) {
        for (const AdStructure& field : adStructures(ad, size)) {
            if (field.type == kAdShortName || field.type == kAdCompleteName) {
                add(address, text(field.value, field.size),
                    field.type == kAdCompleteName ? kCompleteName : kShortName);
            }
        }
    }
    void addFrom(const std::vector<uint8_t>& e) {
        const size_t size = e.size();
        if (e[0] == kRemoteNameRequestComplete && size >= 9 && e[2] == 0) {
            // data(): the name may be empty and start at the end.
            add(&e[3], text(e.data() + 9, size - 9), kNameRequest);
        } else if (e[0] == kExtendedInquiryResult && size >= 17) {
            addFromAd(&e[3], e.data() + 17, size - 17);
        } else {
            for (const AdvertisingReport& r : advertisingReports(e)) {
                addFromAd(r.address, r.data, r.data_size);
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
    std::optional<uint64_t> started[kAirKinds];  // the latest command that started each kind
    std::optional<uint64_t> last[kAirKinds];     // the time of the kind's previous event
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
        const uint64_t before = last[k] ? *last[k] : started[k] ? *started[k] : p.micros;
        last[k] = p.micros;
        // The capture's clock may step either way (an RTC at 1970, then set by the network): a
        // step back, or a gap longer than any scan, plays as no gap at all, so the events
        // keep their order and stay within reach of a scan.
        const uint64_t gap = p.micros >= before ? p.micros - before : 0;
        const std::chrono::microseconds offset(gap <= kMaxGapMicros ? static_cast<int64_t>(gap) : 0);
        script.air[k].push_back(
            {(script.air[k].empty() ? std::chrono::microseconds(0) : script.air[k].back().offset) +
                 offset,
             p.bytes});
    }
    script.names = names.names();
    return script;
}

}  // namespace host
}  // namespace orvalinquist
