// Classic pcap writer for the simulator: raw IPv4 link type, one UDP packet
// per spectrum datagram, so that the daemon's --replay reads it like a
// capture taken on the host.
#ifndef TESSARON_SIM_CAPTURE_FILE_H
#define TESSARON_SIM_CAPTURE_FILE_H

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace sim {

inline constexpr uint32_t PCAP_LINKTYPE_RAW_IP = 101;

class PcapFile {
public:
    PcapFile() = default;
    ~PcapFile();
    PcapFile(const PcapFile&) = delete;
    PcapFile& operator=(const PcapFile&) = delete;

    bool Open(const std::string& path);
    // One UDP datagram 127.0.0.1:src_port -> 127.0.0.1:dst_port.
    bool WriteUdp(const uint8_t* payload, size_t len, int64_t sec, int64_t usec,
                  uint16_t dst_port = 10000, uint16_t src_port = 40000);
    bool Close();

private:
    FILE* file_ = nullptr;
    std::vector<uint8_t> packet_;
    bool ok_ = true;
};

// Event datagrams recorded one per line, with \\, \r and \n escaped, and
// back.
std::string EscapeDatagram(const std::string& datagram);
std::string UnescapeDatagram(const std::string& line);

}  // namespace sim

#endif
