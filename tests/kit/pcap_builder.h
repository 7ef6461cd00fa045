// Packets and pcap files for tests and the simulator: UDP datagrams from
// 127.0.0.1 port 40000, wrapped in IPv4 or IPv6 and in the link framings a
// capture can carry (Ethernet with or without a VLAN tag, Linux cooked v1
// and v2, BSD loopback), written to classic microsecond pcap files.
#ifndef TESSARON_TESTS_KIT_PCAP_BUILDER_H
#define TESSARON_TESTS_KIT_PCAP_BUILDER_H

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

inline constexpr size_t IPV4_HEADER_BYTES = 20;
inline constexpr size_t UDP_HEADER_BYTES = 8;

// Fills the 8-byte UDP header in front of a payload of payload_len bytes
// (checksum left 0, which UDP over IPv4 allows).
void PutUdpHeader(uint8_t* udp, size_t payload_len, uint16_t dst_port, uint16_t src_port = 40000);
// Fills the 20-byte IPv4 header, 127.0.0.1 to 127.0.0.1, in front of
// l4_len bytes of protocol `proto`, header checksum included.
void PutIpv4Header(uint8_t* ip, size_t l4_len, uint8_t proto = 17, uint16_t frag = 0);

std::vector<uint8_t> Udp(uint16_t dst_port, const std::vector<uint8_t>& payload);
std::vector<uint8_t> Ipv4(const std::vector<uint8_t>& l4, uint8_t proto = 17, uint16_t frag = 0);
std::vector<uint8_t> Ipv6(const std::vector<uint8_t>& l4);
std::vector<uint8_t> Ethernet(const std::vector<uint8_t>& ip, bool v6 = false, bool vlan = false);
std::vector<uint8_t> LinuxSll(const std::vector<uint8_t>& ip);
std::vector<uint8_t> LinuxSll2(const std::vector<uint8_t>& ip);
std::vector<uint8_t> Loopback(const std::vector<uint8_t>& ip);

// Link types as a pcap file header names them.
inline constexpr uint32_t PCAP_LINKTYPE_ETHERNET = 1;
inline constexpr uint32_t PCAP_LINKTYPE_RAW_IP = 101;

// Appends packets to a pcap file of one link type.
class PcapFileWriter {
public:
    PcapFileWriter() = default;
    // Opens at once; Add reports whether that worked.
    PcapFileWriter(const std::string& path, uint32_t linktype);
    ~PcapFileWriter();
    PcapFileWriter(const PcapFileWriter&) = delete;
    PcapFileWriter& operator=(const PcapFileWriter&) = delete;

    bool Open(const std::string& path, uint32_t linktype);
    // caplen_cut > 0 keeps only that many bytes (a snap-length cut).
    bool Add(const uint8_t* packet, size_t len, int64_t sec, int64_t usec, size_t caplen_cut = 0);
    bool Add(const std::vector<uint8_t>& packet, int64_t sec, int64_t usec, size_t caplen_cut = 0) {
        return Add(packet.data(), packet.size(), sec, usec, caplen_cut);
    }
    // False when anything written since Open was lost.
    bool Close();

private:
    FILE* file_ = nullptr;
    bool ok_ = false;
};

#endif
