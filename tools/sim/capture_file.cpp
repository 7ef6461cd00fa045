#include "capture_file.h"

#include <algorithm>

namespace sim {

bool PcapFile::WriteUdp(const uint8_t* payload, size_t len, int64_t sec, int64_t usec,
                        uint16_t dst_port, uint16_t src_port) {
    constexpr size_t kHeaders = IPV4_HEADER_BYTES + UDP_HEADER_BYTES;
    if (len > 65535 - kHeaders) {
        return false;
    }
    packet_.resize(kHeaders + len);
    PutIpv4Header(packet_.data(), UDP_HEADER_BYTES + len);
    PutUdpHeader(packet_.data() + IPV4_HEADER_BYTES, len, dst_port, src_port);
    std::copy(payload, payload + len, packet_.begin() + kHeaders);
    return writer_.Add(packet_, sec, usec);
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
