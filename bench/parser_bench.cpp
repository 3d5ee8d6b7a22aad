// Decoding throughput of the HCI event parser. The platform log writes to stderr, which
// is sent to /dev/null, so every line is still formatted and written.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <memory>
#include <vector>

#include "bt_scanner.h"
#include "hci_codes.h"

namespace {

using orvalinquist::host::kExtendedInquiryResult;
using orvalinquist::host::kInquiryResult;
using orvalinquist::host::kLeAdvertisingReport;
using orvalinquist::host::kLeMeta;
using Bytes = std::vector<uint8_t>;

// Distinct events are cycled through; a "new" run starts a fresh scanner for each cycle,
// so the device list holds at most this many entries per response slot.
constexpr size_t kEventsPerCycle = 128;

void appendAddress(Bytes& event, size_t index, uint8_t slot) {
    const uint8_t address[6] = {
        static_cast<uint8_t>(index), static_cast<uint8_t>(index >> 8), slot, 0x5A, 0x02, 0x0C};
    event.insert(event.end(), address, address + 6);
}

void finish(Bytes& event) {
    event[1] = static_cast<uint8_t>(event.size() - 2);
}

// LE Meta, one ADV_IND report: flags, a 16-bit UUID list and a complete name.
Bytes leAdvertisingReport(size_t index) {
    Bytes event = {kLeMeta, 0, kLeAdvertisingReport, 0x01, 0x00, 0x01};
    appendAddress(event, index, 0);
    const Bytes data = {0x02, 0x01, 0x06, 0x05, 0x03, 0x0D, 0x18, 0x0F, 0x18, 0x0B, 0x09,
                        'H',  'e',  'a',  'r',  't',  ' ',  'R',  'a',  't',  'e'};
    event.push_back(static_cast<uint8_t>(data.size()));
    event.insert(event.end(), data.begin(), data.end());
    event.push_back(0xC4);  // -60 dBm
    finish(event);
    return event;
}

// Extended Inquiry Result with a full 240-byte response: a name, a UUID list, padding.
Bytes extendedInquiryResult(size_t index) {
    Bytes event = {kExtendedInquiryResult, 0, 0x01};
    appendAddress(event, index, 0);
    event.insert(event.end(), {0x01, 0x00, 0x0C, 0x02, 0x5A, 0x34, 0x12, 0xC4});
    const Bytes data = {0x07, 0x09, 'P',  'h',  'o',  'n',  'e',  '1', 0x05,
                        0x03, 0x0B, 0x11, 0x0E, 0x11, 0x02, 0x0A, 0x04};
    event.insert(event.end(), data.begin(), data.end());
    event.resize(event.size() + 240 - data.size(), 0);
    finish(event);
    return event;
}

// Inquiry Result with three 14-byte responses.
Bytes inquiryResult(size_t index) {
    Bytes event = {kInquiryResult, 0, 0x03};
    for (uint8_t slot = 0; slot < 3; ++slot) {
        appendAddress(event, index, slot);
        event.insert(event.end(), {0x01, 0x00, 0x00, 0x0C, 0x02, 0x5A, 0x34, 0x12});
    }
    finish(event);
    return event;
}

template <Bytes (*Make)(size_t), bool kKnown>
void BM_Parse(benchmark::State& state) {
    std::vector<Bytes> events;
    for (size_t i = 0; i < kEventsPerCycle; ++i) events.push_back(Make(i));
    auto scanner = std::make_unique<bt::BluetoothScanner>(bt::hci, bt::globalState);
    if (kKnown) {
        for (const Bytes& event : events) scanner->parseHciEvent(event.data(), event.size());
    }
    size_t next = 0;
    for (auto _ : state) {
        if (next == kEventsPerCycle) {
            next = 0;
            if (!kKnown) scanner = std::make_unique<bt::BluetoothScanner>(bt::hci, bt::globalState);
        }
        const Bytes& event = events[next++];
        scanner->parseHciEvent(event.data(), event.size());
    }
    state.SetItemsProcessed(state.iterations());
}

BENCHMARK_TEMPLATE(BM_Parse, leAdvertisingReport, false)->Name("LeReport/NewAddress");
BENCHMARK_TEMPLATE(BM_Parse, leAdvertisingReport, true)->Name("LeReport/KnownAddress");
BENCHMARK_TEMPLATE(BM_Parse, extendedInquiryResult, false)->Name("ExtendedInquiry/NewAddress");
BENCHMARK_TEMPLATE(BM_Parse, extendedInquiryResult, true)->Name("ExtendedInquiry/KnownAddress");
BENCHMARK_TEMPLATE(BM_Parse, inquiryResult, false)->Name("InquiryResult3/NewAddresses");
BENCHMARK_TEMPLATE(BM_Parse, inquiryResult, true)->Name("InquiryResult3/KnownAddresses");

}  // namespace

int main(int argc, char** argv) {
    // The platform log writes to stderr; keep its cost, drop its text.
    const int devNull = open("/dev/null", O_WRONLY | O_CLOEXEC);
    if (devNull < 0 || dup2(devNull, STDERR_FILENO) < 0) {
        std::perror("redirecting stderr to /dev/null");
        return 1;
    }
    close(devNull);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
