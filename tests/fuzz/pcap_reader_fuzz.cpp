// The capture reader: any bytes as one captured packet of every link type
// the reader knows, and the whole input as a capture file replayed through
// the receive path.
#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz_support.h"
#include "pcap_capture.h"
#include "subband_analyser_class.h"

namespace {

constexpr int kLinkTypes[] = {CAPTURE_LINKTYPE_NULL,
                              CAPTURE_LINKTYPE_ETHERNET,
                              CAPTURE_LINKTYPE_RAW,
                              CAPTURE_LINKTYPE_LOOP,
                              CAPTURE_LINKTYPE_LINUX_SLL,
                              CAPTURE_LINKTYPE_IPV4,
                              CAPTURE_LINKTYPE_IPV6,
                              CAPTURE_LINKTYPE_LINUX_SLL2,
                              CAPTURE_DLT_RAW_ALT1,
                              CAPTURE_DLT_RAW_ALT2,
                              147 /* a link type the reader does not know */};

void ExtractFromEveryLinkType(const uint8_t* data, size_t size) {
    if (size < 2) {
        return;
    }
    // The first two bytes say how much longer the packet was on the wire.
    const size_t origlen = size - 2 + data[0] + (static_cast<size_t>(data[1]) << 8);
    for (const int linktype : kLinkTypes) {
        const uint8_t* payload = nullptr;
        size_t payload_len = 0;
        if (ExtractUdpPayload(linktype, data + 2, size - 2, origlen, CONST_SPECTRUM_PORT, &payload,
                              &payload_len) == PacketVerdict::kDatagram) {
            // The payload must lie inside the captured bytes.
            if (payload < data + 2 || payload + payload_len > data + size) {
                __builtin_trap();
            }
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    ExtractFromEveryLinkType(data, size);

    fuzz::ResetProcessState();
    {
        SubBandAnalyser analyser("output.txt", 100000000, fuzz::ShippedSignatures(), 65535);
        const std::string path = fuzz::WriteTempFile("capture", data, size);
        ReplaySummary summary;
        ReplayCapture(path, CONST_SPECTRUM_PORT, false, analyser, &summary);
        (void)FormatReplaySummary(summary, analyser);
    }
    SubBandAnalyser::ClearStop();
    ResetHostClock();
    return 0;
}
