// Record and replay of the spectrum stream as standard pcap captures, so that
// a session recorded with tcpdump (or with --record) can be analysed again,
// anywhere, with identical results.
#ifndef TESSARON_PCAP_CAPTURE_H
#define TESSARON_PCAP_CAPTURE_H

#include <netinet/in.h>
#include <sys/time.h>
#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

class SubBandAnalyser;

// Link types this reader understands (pcap LINKTYPE_ values).
inline constexpr int CAPTURE_LINKTYPE_NULL = 0;  // BSD loopback, host-order family
inline constexpr int CAPTURE_LINKTYPE_ETHERNET = 1;
inline constexpr int CAPTURE_LINKTYPE_RAW = 101;   // raw IPv4 or IPv6
inline constexpr int CAPTURE_LINKTYPE_LOOP = 108;  // OpenBSD loopback, network-order family
inline constexpr int CAPTURE_LINKTYPE_LINUX_SLL = 113;
inline constexpr int CAPTURE_LINKTYPE_IPV4 = 228;
inline constexpr int CAPTURE_LINKTYPE_IPV6 = 229;
inline constexpr int CAPTURE_LINKTYPE_LINUX_SLL2 = 276;
// Some libpcap builds report raw IP under their own DLT numbers.
inline constexpr int CAPTURE_DLT_RAW_ALT1 = 12;
inline constexpr int CAPTURE_DLT_RAW_ALT2 = 14;

enum class PacketVerdict {
    kDatagram,   // a UDP datagram to the listen port; payload set
    kOtherPort,  // UDP, but to another port
    kNotUdp,     // not IPv4/IPv6 UDP, a fragment, or an unknown link type
    kTruncated,  // the capture holds less than the packet says it carries
};

// Finds the UDP payload of one captured packet. Never reads past caplen.
PacketVerdict ExtractUdpPayload(int linktype, const uint8_t* data, size_t caplen, size_t origlen,
                                uint16_t port, const uint8_t** payload, size_t* payload_len);

struct ReplaySummary {
    uint64_t packets = 0;
    uint64_t datagrams = 0;  // handed to the analysis, whatever their size
    uint64_t skipped = 0;    // other ports and non-UDP packets
    uint64_t truncated = 0;
};

// Reads `file` ('-' for standard input) and feeds every UDP datagram to the
// analyser's receive path in file order, the host clock following packet
// times. With `realtime` the packets are paced by their timestamps.
// Returns false (with a message on stderr) when the file cannot be read.
bool ReplayCapture(const std::string& file, uint16_t port, bool realtime, SubBandAnalyser& analyser,
                   ReplaySummary* summary);

// The stderr summary at the end of a replay, with the devices still active.
std::string FormatReplaySummary(const ReplaySummary& summary, const SubBandAnalyser& analyser);

// Writes received datagrams into a pcap file of raw IPv4 packets.
class CaptureWriter {
public:
    CaptureWriter() = default;
    ~CaptureWriter();
    CaptureWriter(const CaptureWriter&) = delete;
    CaptureWriter& operator=(const CaptureWriter&) = delete;

    bool Open(const std::string& file);
    // One datagram from `from` to `to`, stamped with host time `when`.
    void Write(const uint8_t* data, size_t len, const sockaddr_in& from, const sockaddr_in& to,
               const timeval& when);
    void Flush();
    void Close();

private:
    void* pcap_ = nullptr;
    void* dumper_ = nullptr;
    timeval last_flush_ = {0, 0};
    std::vector<uint8_t> packet_;  // reused: one IPv4/UDP packet
};

#endif
