// Builds small pcap captures for tests: raw IPv4/IPv6, Ethernet, cooked and
// loopback framings of UDP datagrams.
#ifndef TESSARON_TESTS_PCAP_TEST_SUPPORT_H
#define TESSARON_TESTS_PCAP_TEST_SUPPORT_H

#include <pcap/pcap.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

inline std::vector<uint8_t> Udp(uint16_t dst_port, const std::vector<uint8_t>& payload) {
    std::vector<uint8_t> udp(8 + payload.size(), 0);
    udp[0] = 0x9C;  // source port 40000
    udp[1] = 0x40;
    udp[2] = static_cast<uint8_t>(dst_port >> 8);
    udp[3] = static_cast<uint8_t>(dst_port);
    udp[4] = static_cast<uint8_t>(udp.size() >> 8);
    udp[5] = static_cast<uint8_t>(udp.size());
    std::memcpy(udp.data() + 8, payload.data(), payload.size());
    return udp;
}

inline std::vector<uint8_t> Ipv4(const std::vector<uint8_t>& l4, uint8_t proto = 17,
                                 uint16_t frag = 0) {
    std::vector<uint8_t> ip(20, 0);
    ip[0] = 0x45;
    const size_t total = 20 + l4.size();
    ip[2] = static_cast<uint8_t>(total >> 8);
    ip[3] = static_cast<uint8_t>(total);
    ip[6] = static_cast<uint8_t>(frag >> 8);
    ip[7] = static_cast<uint8_t>(frag);
    ip[8] = 64;
    ip[9] = proto;
    ip[12] = 127;
    ip[15] = 1;
    ip[16] = 127;
    ip[19] = 1;
    ip.insert(ip.end(), l4.begin(), l4.end());
    return ip;
}

inline std::vector<uint8_t> Ipv6(const std::vector<uint8_t>& l4) {
    std::vector<uint8_t> ip(40, 0);
    ip[0] = 0x60;
    ip[4] = static_cast<uint8_t>(l4.size() >> 8);
    ip[5] = static_cast<uint8_t>(l4.size());
    ip[6] = 17;
    ip[7] = 64;
    ip[23] = 1;
    ip[39] = 1;
    ip.insert(ip.end(), l4.begin(), l4.end());
    return ip;
}

inline std::vector<uint8_t> Prefixed(std::vector<uint8_t> header, const std::vector<uint8_t>& ip) {
    header.insert(header.end(), ip.begin(), ip.end());
    return header;
}

inline std::vector<uint8_t> Ethernet(const std::vector<uint8_t>& ip, bool v6 = false,
                                     bool vlan = false) {
    std::vector<uint8_t> eth;
    eth.reserve(18);
    for (int i = 0; i < 12; i++) {
        eth.push_back(0x02);  // MAC addresses
    }
    if (vlan) {
        for (const uint8_t b : {0x81, 0x00, 0x00, 0x05}) {
            eth.push_back(b);
        }
    }
    eth.push_back(v6 ? 0x86 : 0x08);
    eth.push_back(v6 ? 0xDD : 0x00);
    return Prefixed(eth, ip);
}

inline std::vector<uint8_t> LinuxSll(const std::vector<uint8_t>& ip) {
    std::vector<uint8_t> h(16, 0);
    h[14] = 0x08;
    return Prefixed(h, ip);
}

inline std::vector<uint8_t> LinuxSll2(const std::vector<uint8_t>& ip) {
    std::vector<uint8_t> h(20, 0);
    h[0] = 0x08;
    return Prefixed(h, ip);
}

inline std::vector<uint8_t> Loopback(const std::vector<uint8_t>& ip) {
    return Prefixed({2, 0, 0, 0}, ip);
}

// Appends packets to a pcap file of one link type.
class PcapFileWriter {
public:
    PcapFileWriter(const std::string& path, int dlt) {
        pcap_ = pcap_open_dead(dlt, 65535);
        dumper_ = pcap_dump_open(pcap_, path.c_str());
    }
    ~PcapFileWriter() { Close(); }
    // caplen_cut > 0 keeps only that many bytes (a snap-length cut).
    void Add(const std::vector<uint8_t>& packet, long sec, long usec, size_t caplen_cut = 0) {
        pcap_pkthdr h;
        h.ts.tv_sec = sec;
        h.ts.tv_usec = usec;
        h.len = static_cast<bpf_u_int32>(packet.size());
        h.caplen = static_cast<bpf_u_int32>(caplen_cut ? caplen_cut : packet.size());
        pcap_dump(reinterpret_cast<u_char*>(dumper_), &h, packet.data());
    }
    void Close() {
        if (dumper_) {
            pcap_dump_close(dumper_);
            dumper_ = nullptr;
        }
        if (pcap_) {
            pcap_close(pcap_);
            pcap_ = nullptr;
        }
    }

private:
    pcap_t* pcap_ = nullptr;
    pcap_dumper_t* dumper_ = nullptr;
};

#endif
