#include "capture_file.h"

namespace sim {

namespace {

void PutLe32(std::vector<uint8_t>& out, uint32_t v) {
    for (int i = 0; i < 4; i++) {
        out.push_back(static_cast<uint8_t>(v >> (8 * i)));
    }
}

void PutLe16(std::vector<uint8_t>& out, uint16_t v) {
    out.push_back(static_cast<uint8_t>(v));
    out.push_back(static_cast<uint8_t>(v >> 8));
}

void PutBe16(uint8_t* p, uint16_t v) {
    p[0] = static_cast<uint8_t>(v >> 8);
    p[1] = static_cast<uint8_t>(v);
}

}  // namespace

PcapFile::~PcapFile() {
    Close();
}

bool PcapFile::Open(const std::string& path) {
    Close();
    file_ = fopen(path.c_str(), "wb");
    if (file_ == nullptr) {
        return false;
    }
    ok_ = true;
    std::vector<uint8_t> header;
    PutLe32(header, 0xa1b2c3d4);  // microsecond timestamps
    PutLe16(header, 2);
    PutLe16(header, 4);
    PutLe32(header, 0);  // GMT offset
    PutLe32(header, 0);  // timestamp accuracy
    PutLe32(header, 65535);
    PutLe32(header, PCAP_LINKTYPE_RAW_IP);
    ok_ = fwrite(header.data(), 1, header.size(), file_) == header.size();
    return ok_;
}

bool PcapFile::WriteUdp(const uint8_t* payload, size_t len, int64_t sec, int64_t usec,
                        uint16_t dst_port, uint16_t src_port) {
    if (file_ == nullptr || len > 65507) {
        return false;
    }
    const size_t total = 28 + len;
    packet_.clear();
    PutLe32(packet_, static_cast<uint32_t>(sec));
    PutLe32(packet_, static_cast<uint32_t>(usec));
    PutLe32(packet_, static_cast<uint32_t>(total));
    PutLe32(packet_, static_cast<uint32_t>(total));
    const size_t ip_at = packet_.size();
    packet_.resize(ip_at + total, 0);
    uint8_t* ip = packet_.data() + ip_at;
    ip[0] = 0x45;
    PutBe16(ip + 2, static_cast<uint16_t>(total));
    ip[8] = 64;
    ip[9] = 17;
    const uint8_t loopback[4] = {127, 0, 0, 1};
    for (int i = 0; i < 4; i++) {
        ip[12 + i] = loopback[i];
        ip[16 + i] = loopback[i];
    }
    uint32_t sum = 0;
    for (int i = 0; i < 20; i += 2) {
        sum += static_cast<uint32_t>((ip[i] << 8) | ip[i + 1]);
    }
    while (sum >> 16) {
        sum = (sum & 0xFFFF) + (sum >> 16);
    }
    PutBe16(ip + 10, static_cast<uint16_t>(~sum));
    uint8_t* udp = ip + 20;
    PutBe16(udp, src_port);
    PutBe16(udp + 2, dst_port);
    PutBe16(udp + 4, static_cast<uint16_t>(8 + len));
    for (size_t i = 0; i < len; i++) {
        udp[8 + i] = payload[i];
    }
    ok_ = ok_ && fwrite(packet_.data(), 1, packet_.size(), file_) == packet_.size();
    return ok_;
}

bool PcapFile::Close() {
    if (file_ == nullptr) {
        return ok_;
    }
    const bool closed = fclose(file_) == 0;
    file_ = nullptr;
    return ok_ && closed;
}

std::string EscapeDatagram(const std::string& datagram) {
    std::string out;
    for (char c : datagram) {
        if (c == '\\') {
            out += "\\\\";
        } else if (c == '\r') {
            out += "\\r";
        } else if (c == '\n') {
            out += "\\n";
        } else {
            out += c;
        }
    }
    return out;
}

std::string UnescapeDatagram(const std::string& line) {
    std::string out;
    for (size_t i = 0; i < line.size(); i++) {
        if (line[i] == '\\' && i + 1 < line.size()) {
            const char c = line[++i];
            out += c == 'r' ? '\r' : c == 'n' ? '\n' : c;
        } else {
            out += line[i];
        }
    }
    return out;
}

}  // namespace sim
