// Classic pcap writer for the simulator: raw IPv4 link type, one UDP packet
// per spectrum datagram, so that the daemon's --replay reads it like a
// capture taken on the host.
#ifndef TESSARON_SIM_CAPTURE_FILE_H
#define TESSARON_SIM_CAPTURE_FILE_H

#include <cstdint>
#include <string>
#include <vector>

#include "pcap_builder.h"

namespace sim {

using ::PCAP_LINKTYPE_RAW_IP;

class PcapFile {
public:
    bool Open(const std::string& path) { return writer_.Open(path, PCAP_LINKTYPE_RAW_IP); }
    // One UDP datagram 127.0.0.1:src_port -> 127.0.0.1:dst_port.
    bool WriteUdp(const uint8_t* payload, size_t len, int64_t sec, int64_t usec,
                  uint16_t dst_port = 10000, uint16_t src_port = 40000);
    bool Close() { return writer_.Close(); }

private:
    PcapFileWriter writer_;
    std::vector<uint8_t> packet_;  // reused: one IPv4/UDP packet
};

// Event datagrams recorded one per line, with \\, \r and \n escaped, and
// back.
std::string EscapeDatagram(const std::string& datagram);
std::string UnescapeDatagram(const std::string& line);

}  // namespace sim

#endif
