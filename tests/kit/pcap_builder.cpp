#include "pcap_builder.h"

#include <algorithm>

namespace {

void PutBe16(uint8_t* p, uint16_t v) {
    p[0] = static_cast<uint8_t>(v >> 8);
    p[1] = static_cast<uint8_t>(v);
}

void PutLe32(uint8_t* p, uint32_t v) {
    for (int i = 0; i < 4; i++) {
        p[i] = static_cast<uint8_t>(v >> (8 * i));
    }
}

std::vector<uint8_t> Prefixed(std::vector<uint8_t> header, const std::vector<uint8_t>& ip) {
    header.insert(header.end(), ip.begin(), ip.end());
    return header;
}

}  // namespace

void PutUdpHeader(uint8_t* udp, size_t payload_len, uint16_t dst_port, uint16_t src_port) {
    PutBe16(udp, src_port);
    PutBe16(udp + 2, dst_port);
    PutBe16(udp + 4, static_cast<uint16_t>(UDP_HEADER_BYTES + payload_len));
    PutBe16(udp + 6, 0);
}

void PutIpv4Header(uint8_t* ip, size_t l4_len, uint8_t proto, uint16_t frag) {
    std::fill(ip, ip + IPV4_HEADER_BYTES, 0);
    ip[0] = 0x45;
    PutBe16(ip + 2, static_cast<uint16_t>(IPV4_HEADER_BYTES + l4_len));
    PutBe16(ip + 6, frag);
    ip[8] = 64;
    ip[9] = proto;
    const uint8_t loopback[4] = {127, 0, 0, 1};
    std::copy(loopback, loopback + 4, ip + 12);
    std::copy(loopback, loopback + 4, ip + 16);
    uint32_t sum = 0;
    for (size_t i = 0; i < IPV4_HEADER_BYTES; i += 2) {
        sum += static_cast<uint32_t>((ip[i] << 8) | ip[i + 1]);
    }
    while (sum >> 16) {
        sum = (sum & 0xFFFF) + (sum >> 16);
    }
    PutBe16(ip + 10, static_cast<uint16_t>(~sum));
}

std::vector<uint8_t> Udp(uint16_t dst_port, const std::vector<uint8_t>& payload) {
    std::vector<uint8_t> udp(UDP_HEADER_BYTES);
    PutUdpHeader(udp.data(), payload.size(), dst_port);
    udp.insert(udp.end(), payload.begin(), payload.end());
    return udp;
}

std::vector<uint8_t> Ipv4(const std::vector<uint8_t>& l4, uint8_t proto, uint16_t frag) {
    std::vector<uint8_t> ip(IPV4_HEADER_BYTES);
    PutIpv4Header(ip.data(), l4.size(), proto, frag);
    return Prefixed(ip, l4);
}

std::vector<uint8_t> Ipv6(const std::vector<uint8_t>& l4) {
    std::vector<uint8_t> ip(40, 0);
    ip[0] = 0x60;
    PutBe16(ip.data() + 4, static_cast<uint16_t>(l4.size()));
    ip[6] = 17;
    ip[7] = 64;
    ip[23] = 1;  // ::1 to ::1
    ip[39] = 1;
    return Prefixed(ip, l4);
}

std::vector<uint8_t> Ethernet(const std::vector<uint8_t>& ip, bool v6, bool vlan) {
    std::vector<uint8_t> eth(vlan ? 18 : 14, 0x02);  // MAC addresses first
    if (vlan) {
        eth[12] = 0x81;
        eth[13] = 0x00;
        eth[14] = 0x00;
        eth[15] = 0x05;
    }
    eth[eth.size() - 2] = v6 ? 0x86 : 0x08;
    eth[eth.size() - 1] = v6 ? 0xDD : 0x00;
    return Prefixed(eth, ip);
}

std::vector<uint8_t> LinuxSll(const std::vector<uint8_t>& ip) {
    std::vector<uint8_t> h(16, 0);
    h[14] = 0x08;
    return Prefixed(h, ip);
}

std::vector<uint8_t> LinuxSll2(const std::vector<uint8_t>& ip) {
    std::vector<uint8_t> h(20, 0);
    h[0] = 0x08;
    return Prefixed(h, ip);
}

std::vector<uint8_t> Loopback(const std::vector<uint8_t>& ip) {
    return Prefixed({2, 0, 0, 0}, ip);
}

PcapFileWriter::PcapFileWriter(const std::string& path, uint32_t linktype) {
    Open(path, linktype);
}

PcapFileWriter::~PcapFileWriter() {
    Close();
}

bool PcapFileWriter::Open(const std::string& path, uint32_t linktype) {
    Close();
    file_ = fopen(path.c_str(), "wb");
    if (file_ == nullptr) {
        ok_ = false;
        return false;
    }
    uint8_t header[24];
    PutLe32(header, 0xa1b2c3d4);          // microsecond timestamps
    PutLe32(header + 4, 2 | (4u << 16));  // version 2.4
    PutLe32(header + 8, 0);               // GMT offset
    PutLe32(header + 12, 0);              // timestamp accuracy
    PutLe32(header + 16, 65535);          // snap length
    PutLe32(header + 20, linktype);
    ok_ = fwrite(header, 1, sizeof(header), file_) == sizeof(header);
    return ok_;
}

bool PcapFileWriter::Add(const uint8_t* packet, size_t len, int64_t sec, int64_t usec,
                         size_t caplen_cut) {
    if (file_ == nullptr || len > 65535) {
        return false;
    }
    const size_t caplen = caplen_cut > 0 ? std::min(caplen_cut, len) : len;
    uint8_t record[16];
    PutLe32(record, static_cast<uint32_t>(sec));
    PutLe32(record + 4, static_cast<uint32_t>(usec));
    PutLe32(record + 8, static_cast<uint32_t>(caplen));
    PutLe32(record + 12, static_cast<uint32_t>(len));
    ok_ = ok_ && fwrite(record, 1, sizeof(record), file_) == sizeof(record) &&
          fwrite(packet, 1, caplen, file_) == caplen;
    return ok_;
}

bool PcapFileWriter::Close() {
    if (file_ == nullptr) {
        return ok_;
    }
    const bool closed = fclose(file_) == 0;
    file_ = nullptr;
    ok_ = ok_ && closed;
    return ok_;
}
