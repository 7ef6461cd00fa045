#include "pcap_capture.h"

#include <arpa/inet.h>
#include <pcap/pcap.h>

#include <chrono>
#include <cstring>
#include <iostream>
#include <sstream>
#include <thread>
#include <vector>

#include "device_analyzer.h"
#include "host_clock.h"
#include "subband_analyser_class.h"

namespace {

uint16_t ReadBe16(const uint8_t* p) {
    return static_cast<uint16_t>((p[0] << 8) | p[1]);
}

constexpr uint16_t ETHERTYPE_IPV4 = 0x0800;
constexpr uint16_t ETHERTYPE_IPV6 = 0x86DD;
constexpr uint16_t ETHERTYPE_VLAN = 0x8100;
constexpr uint16_t ETHERTYPE_QINQ = 0x88A8;
constexpr uint8_t IPPROTO_UDP_NUMBER = 17;
constexpr size_t UDP_HEADER_SIZE = 8;

struct Packet {
    const uint8_t* data;
    size_t caplen;   // bytes present in the capture
    size_t origlen;  // bytes the packet had on the wire
};

// A packet whose capture ends before the next header: cut short by the
// capture's snap length, or too short on the wire to carry UDP at all.
PacketVerdict EndsBeforeHeader(const Packet& pkt) {
    return pkt.origlen > pkt.caplen ? PacketVerdict::kTruncated : PacketVerdict::kNotUdp;
}

// The UDP header at `offset` with `udp_bytes` announced by the IP layer.
PacketVerdict ParseUdp(const Packet& pkt, size_t offset, size_t ip_payload_len, uint16_t port,
                       const uint8_t** payload, size_t* payload_len) {
    if (offset + UDP_HEADER_SIZE > pkt.caplen) {
        return PacketVerdict::kTruncated;
    }
    const uint8_t* udp = pkt.data + offset;
    const size_t udp_len = ReadBe16(udp + 4);
    if (udp_len < UDP_HEADER_SIZE || udp_len > ip_payload_len) {
        return PacketVerdict::kNotUdp;  // malformed header
    }
    if (ReadBe16(udp + 2) != port) {
        return PacketVerdict::kOtherPort;
    }
    if (offset + udp_len > pkt.caplen) {
        return PacketVerdict::kTruncated;
    }
    *payload = udp + UDP_HEADER_SIZE;
    *payload_len = udp_len - UDP_HEADER_SIZE;
    return PacketVerdict::kDatagram;
}

PacketVerdict ParseIpv4(const Packet& pkt, size_t offset, uint16_t port, const uint8_t** payload,
                        size_t* payload_len) {
    if (offset + 20 > pkt.caplen) {
        return EndsBeforeHeader(pkt);
    }
    const uint8_t* ip = pkt.data + offset;
    const size_t header_len = static_cast<size_t>(ip[0] & 0x0F) * 4;
    const size_t total_len = ReadBe16(ip + 2);
    if (header_len < 20 || total_len < header_len) {
        return PacketVerdict::kNotUdp;
    }
    if (ip[9] != IPPROTO_UDP_NUMBER) {
        return PacketVerdict::kNotUdp;
    }
    // Only whole datagrams are analysed; fragments are skipped.
    if ((ReadBe16(ip + 6) & 0x3FFF) != 0) {
        return PacketVerdict::kNotUdp;
    }
    return ParseUdp(pkt, offset + header_len, total_len - header_len, port, payload, payload_len);
}

PacketVerdict ParseIpv6(const Packet& pkt, size_t offset, uint16_t port, const uint8_t** payload,
                        size_t* payload_len) {
    if (offset + 40 > pkt.caplen) {
        return EndsBeforeHeader(pkt);
    }
    const uint8_t* ip = pkt.data + offset;
    size_t remaining = ReadBe16(ip + 4);
    uint8_t next = ip[6];
    offset += 40;
    // Hop-by-hop, routing and destination options may precede UDP.
    while (next == 0 || next == 43 || next == 60) {
        if (offset + 8 > pkt.caplen) {
            return PacketVerdict::kTruncated;
        }
        const size_t ext_len = (static_cast<size_t>(pkt.data[offset + 1]) + 1) * 8;
        if (ext_len > remaining) {
            return PacketVerdict::kNotUdp;
        }
        next = pkt.data[offset];
        offset += ext_len;
        remaining -= ext_len;
    }
    if (next != IPPROTO_UDP_NUMBER) {
        return PacketVerdict::kNotUdp;  // fragments (44) included
    }
    return ParseUdp(pkt, offset, remaining, port, payload, payload_len);
}

PacketVerdict ParseIp(const Packet& pkt, size_t offset, uint16_t port, const uint8_t** payload,
                      size_t* payload_len) {
    if (offset >= pkt.caplen) {
        return EndsBeforeHeader(pkt);
    }
    switch (pkt.data[offset] >> 4) {
        case 4:
            return ParseIpv4(pkt, offset, port, payload, payload_len);
        case 6:
            return ParseIpv6(pkt, offset, port, payload, payload_len);
        default:
            return PacketVerdict::kNotUdp;
    }
}

PacketVerdict ParseByEthertype(const Packet& pkt, size_t offset, uint16_t ethertype, uint16_t port,
                               const uint8_t** payload, size_t* payload_len) {
    if (ethertype != ETHERTYPE_IPV4 && ethertype != ETHERTYPE_IPV6) {
        return PacketVerdict::kNotUdp;
    }
    return ParseIp(pkt, offset, port, payload, payload_len);
}

PacketVerdict ParseEthernet(const Packet& pkt, uint16_t port, const uint8_t** payload,
                            size_t* payload_len) {
    size_t offset = 12;
    for (;;) {
        if (offset + 2 > pkt.caplen) {
            return EndsBeforeHeader(pkt);
        }
        const uint16_t ethertype = ReadBe16(pkt.data + offset);
        if (ethertype == ETHERTYPE_VLAN || ethertype == ETHERTYPE_QINQ) {
            offset += 4;
            continue;
        }
        return ParseByEthertype(pkt, offset + 2, ethertype, port, payload, payload_len);
    }
}

PacketVerdict ParseCooked(const Packet& pkt, size_t header_len, size_t protocol_offset,
                          uint16_t port, const uint8_t** payload, size_t* payload_len) {
    if (header_len > pkt.caplen) {
        return EndsBeforeHeader(pkt);
    }
    return ParseByEthertype(pkt, header_len, ReadBe16(pkt.data + protocol_offset), port, payload,
                            payload_len);
}

}  // namespace

PacketVerdict ExtractUdpPayload(int linktype, const uint8_t* data, size_t caplen, size_t origlen,
                                uint16_t port, const uint8_t** payload, size_t* payload_len) {
    const Packet pkt = {data, caplen, origlen < caplen ? caplen : origlen};
    switch (linktype) {
        case CAPTURE_LINKTYPE_ETHERNET:
            return ParseEthernet(pkt, port, payload, payload_len);
        case CAPTURE_LINKTYPE_LINUX_SLL:
            return ParseCooked(pkt, 16, 14, port, payload, payload_len);
        case CAPTURE_LINKTYPE_LINUX_SLL2:
            return ParseCooked(pkt, 20, 0, port, payload, payload_len);
        case CAPTURE_LINKTYPE_NULL:
        case CAPTURE_LINKTYPE_LOOP:
            // The 4-byte address family's byte order depends on the capturing
            // host; the IP version nibble that follows says all we need.
            return ParseIp(pkt, 4, port, payload, payload_len);
        case CAPTURE_LINKTYPE_RAW:
        case CAPTURE_DLT_RAW_ALT1:
        case CAPTURE_DLT_RAW_ALT2:
        case CAPTURE_LINKTYPE_IPV4:
        case CAPTURE_LINKTYPE_IPV6:
            return ParseIp(pkt, 0, port, payload, payload_len);
        default:
            return PacketVerdict::kNotUdp;
    }
}

namespace {

timeval replay_now = {0, 0};

void ReplayClock(timeval* now) {
    *now = replay_now;
}

// Sleeps until the packet's offset from the first packet has passed on the
// wall clock since the replay started.
class Pacer {
public:
    void Wait(const timeval& ts) {
        const auto packet_us = static_cast<int64_t>(ts.tv_sec) * 1000000 + ts.tv_usec;
        if (!started_) {
            started_ = true;
            first_us_ = packet_us;
            wall_start_ = std::chrono::steady_clock::now();
            return;
        }
        const auto due = wall_start_ + std::chrono::microseconds(packet_us - first_us_);
        std::this_thread::sleep_until(due);
    }

private:
    bool started_ = false;
    int64_t first_us_ = 0;
    std::chrono::steady_clock::time_point wall_start_;
};

}  // namespace

bool ReplayCapture(const std::string& file, uint16_t port, bool realtime, SubBandAnalyser& analyser,
                   ReplaySummary* summary) {
    char errbuf[PCAP_ERRBUF_SIZE] = {0};
    pcap_t* pcap =
        pcap_open_offline_with_tstamp_precision(file.c_str(), PCAP_TSTAMP_PRECISION_MICRO, errbuf);
    if (pcap == nullptr) {
        std::cerr << "Cannot read capture " << file << ": " << errbuf << "\n";
        return false;
    }
    const int linktype = pcap_datalink(pcap);
    SetHostClock(ReplayClock);
    Pacer pacer;
    pcap_pkthdr* header = nullptr;
    const u_char* data = nullptr;
    int rc = 0;
    while (!SubBandAnalyser::StopRequested() && (rc = pcap_next_ex(pcap, &header, &data)) == 1) {
        summary->packets++;
        const uint8_t* payload = nullptr;
        size_t payload_len = 0;
        switch (ExtractUdpPayload(linktype, data, header->caplen, header->len, port, &payload,
                                  &payload_len)) {
            case PacketVerdict::kDatagram:
                if (realtime) {
                    pacer.Wait(header->ts);
                }
                replay_now = header->ts;
                summary->datagrams++;
                analyser.ProcessDatagram(payload, static_cast<ssize_t>(payload_len));
                break;
            case PacketVerdict::kTruncated:
                summary->truncated++;
                break;
            case PacketVerdict::kOtherPort:
            case PacketVerdict::kNotUdp:
                summary->skipped++;
                break;
        }
    }
    if (rc == -1) {
        // A capture cut off mid-record (a recorder that was killed): what was
        // read has been analysed; the damaged tail counts as truncated.
        std::cerr << "Warning!! capture " << file << " ends early: " << pcap_geterr(pcap) << "\n";
        summary->truncated++;
    }
    pcap_close(pcap);
    return true;
}

namespace {

std::string DescribeDevice(const std::string& name, const std::string& where, float power_dbm,
                           long first_s, long last_s) {
    timeval first{};
    timeval last{};
    first.tv_sec = first_s;
    last.tv_sec = last_s;
    std::ostringstream out;
    out << "  " << name << " " << where << " " << getStr(power_dbm) << " dBm first seen "
        << FormatLocalTime(first) << " last seen " << FormatLocalTime(last) << "\n";
    return out.str();
}

}  // namespace

std::string FormatReplaySummary(const ReplaySummary& summary, const SubBandAnalyser& analyser) {
    const DatagramCounters& counters = analyser.GetDatagramCounters();
    std::ostringstream out;
    out << "Replay: " << summary.packets << " packets read, " << counters.used
        << " datagrams used, " << counters.wrong_size << " wrong-sized, " << counters.bad_count
        << " bad sample count, " << summary.skipped << " skipped, " << summary.truncated
        << " truncated\n";
    const std::vector<DeviceEventRecord> devices = DeviceAnalyzer::ActiveDevices();
    out << "Active devices: " << devices.size() << "\n";
    for (const DeviceEventRecord& d : devices) {
        const std::string name = RssiPulse::getClassification(d.classification);
        if (d.hopper) {
            out << DescribeDevice(name, "Freq Hopper", d.power_dbm, d.first_seen_s, d.last_seen_s);
            continue;
        }
        const float freq =
            d.band_cfreq_mhz + static_cast<float>(d.center_bin - CONST_SUBBAND_CENTER_BIN) /
                                   static_cast<float>(CONST_BINS_PER_MHZ);
        const std::string where = getStr(freq) + " MHz bins " + std::to_string(d.start_bin) + "-" +
                                  std::to_string(d.end_bin) + " of " + getStr(d.band_cfreq_mhz) +
                                  " MHz";
        out << DescribeDevice(name, where, d.power_dbm, d.first_seen_s, d.last_seen_s);
    }
    return out.str();
}

CaptureWriter::~CaptureWriter() {
    Close();
}

bool CaptureWriter::Open(const std::string& file) {
    Close();
    pcap_t* pcap = pcap_open_dead(DLT_RAW, 65535);
    if (pcap == nullptr) {
        return false;
    }
    pcap_dumper_t* dumper = pcap_dump_open(pcap, file.c_str());
    if (dumper == nullptr) {
        std::cerr << "Cannot write capture " << file << ": " << pcap_geterr(pcap) << "\n";
        pcap_close(pcap);
        return false;
    }
    pcap_ = pcap;
    dumper_ = dumper;
    return true;
}

void CaptureWriter::Write(const uint8_t* data, size_t len, const sockaddr_in& from,
                          const sockaddr_in& to, const timeval& when) {
    if (dumper_ == nullptr || len > 65507) {
        return;
    }
    packet_.assign(28 + len, 0);
    uint8_t* ip = packet_.data();
    const size_t total = packet_.size();
    ip[0] = 0x45;
    ip[2] = static_cast<uint8_t>(total >> 8);
    ip[3] = static_cast<uint8_t>(total);
    ip[8] = 64;  // TTL
    ip[9] = 17;  // UDP
    memcpy(ip + 12, &from.sin_addr, 4);
    memcpy(ip + 16, &to.sin_addr, 4);
    uint32_t sum = 0;
    for (int i = 0; i < 20; i += 2) {
        sum += static_cast<uint32_t>((ip[i] << 8) | ip[i + 1]);
    }
    while (sum >> 16) {
        sum = (sum & 0xFFFF) + (sum >> 16);
    }
    const uint16_t checksum = static_cast<uint16_t>(~sum);
    ip[10] = static_cast<uint8_t>(checksum >> 8);
    ip[11] = static_cast<uint8_t>(checksum);
    uint8_t* udp = ip + 20;
    memcpy(udp, &from.sin_port, 2);
    memcpy(udp + 2, &to.sin_port, 2);
    const size_t udp_len = 8 + len;
    udp[4] = static_cast<uint8_t>(udp_len >> 8);
    udp[5] = static_cast<uint8_t>(udp_len);
    memcpy(udp + 8, data, len);  // checksum 0: not computed

    pcap_pkthdr header;
    header.ts = when;
    header.caplen = static_cast<bpf_u_int32>(total);
    header.len = static_cast<bpf_u_int32>(total);
    pcap_dump(static_cast<u_char*>(dumper_), &header, packet_.data());
    // Flushing once a second bounds what a hard kill can lose.
    if (when.tv_sec != last_flush_.tv_sec) {
        Flush();
        last_flush_ = when;
    }
}

void CaptureWriter::Flush() {
    if (dumper_ != nullptr) {
        pcap_dump_flush(static_cast<pcap_dumper_t*>(dumper_));
    }
}

void CaptureWriter::Close() {
    if (dumper_ != nullptr) {
        pcap_dump_close(static_cast<pcap_dumper_t*>(dumper_));
        dumper_ = nullptr;
    }
    if (pcap_ != nullptr) {
        pcap_close(static_cast<pcap_t*>(pcap_));
        pcap_ = nullptr;
    }
}
