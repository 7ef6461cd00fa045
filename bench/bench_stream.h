// A spectrum stream held in memory for the benchmarks: the 1360-byte
// datagrams of a capture, which can be moved on in card time and replayed
// again for as long a session as wanted.
#ifndef TESSARON_BENCH_BENCH_STREAM_H
#define TESSARON_BENCH_BENCH_STREAM_H

#include <pcap/pcap.h>

#include <array>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <streambuf>
#include <string>
#include <vector>

#include "fft_data.h"
#include "pcap_capture.h"

using WireDatagram = std::array<uint8_t, FFT_DATA_WIRE_SIZE>;

struct BenchStream {
    std::vector<WireDatagram> datagrams;
    uint64_t samples = 0;
    uint64_t first_ts = 0;
    uint64_t last_ts = 0;

    double CardSeconds() const { return static_cast<double>(last_ts - first_ts) / 1e6; }
    // The memory the datagrams take, in KiB.
    long HeldKb() const {
        return static_cast<long>(datagrams.size() * sizeof(WireDatagram) / 1024);
    }
};

// Reads every well-formed spectrum datagram (to `port`) of a pcap file.
inline bool LoadCaptureStream(const std::string& path, BenchStream* stream, uint16_t port = 10000) {
    char errbuf[PCAP_ERRBUF_SIZE];
    pcap_t* pcap = pcap_open_offline(path.c_str(), errbuf);
    if (pcap == nullptr) {
        fprintf(stderr, "cannot read %s: %s\n", path.c_str(), errbuf);
        return false;
    }
    // Room for every record the file could hold, so that the stream is never
    // copied while it grows: a copy would leave the stream counted twice in
    // the peak RSS. Pages never written are not resident.
    FILE* file = fopen(path.c_str(), "rb");
    if (file != nullptr && fseek(file, 0, SEEK_END) == 0) {
        const long size = ftell(file);
        if (size > 0) {
            stream->datagrams.reserve(static_cast<size_t>(size) / FFT_DATA_WIRE_SIZE + 1);
        }
    }
    if (file != nullptr) {
        fclose(file);
    }
    const int linktype = pcap_datalink(pcap);
    pcap_pkthdr* header = nullptr;
    const u_char* data = nullptr;
    fft_data record;
    bool first = true;
    while (pcap_next_ex(pcap, &header, &data) == 1) {
        const uint8_t* payload = nullptr;
        size_t payload_len = 0;
        if (ExtractUdpPayload(linktype, data, header->caplen, header->len, port, &payload,
                              &payload_len) != PacketVerdict::kDatagram ||
            payload_len != FFT_DATA_WIRE_SIZE) {
            continue;
        }
        DecodeFftData(payload, record);
        if (record.count <= 0 || record.count > CONST_FFT_SAMPLES_PER_DATAGRAM) {
            continue;
        }
        WireDatagram wire;
        std::copy(payload, payload + FFT_DATA_WIRE_SIZE, wire.begin());
        stream->datagrams.push_back(wire);
        stream->samples += static_cast<uint64_t>(record.count);
        if (first) {
            stream->first_ts = record.samples[0].ts;
            first = false;
        }
        stream->last_ts = record.samples[record.count - 1].ts;
    }
    pcap_close(pcap);
    return !stream->datagrams.empty();
}

// Moves the whole stream on in card time, so that replaying it again right
// after the previous pass looks like one continuous session: every card
// time advances by the stream's span plus one mean sample interval, every
// sequence number by the number of datagrams. Works on the wire bytes.
inline void AdvanceStream(BenchStream* stream) {
    if (stream->datagrams.empty() || stream->samples < 2) {
        return;
    }
    const uint64_t span = stream->last_ts - stream->first_ts;
    const uint64_t period = span + span / (stream->samples - 1) + 1;
    const uint64_t seq_step = stream->datagrams.size();
    const auto add_le64 = [](uint8_t* p, uint64_t delta) {
        uint64_t v = 0;
        for (int i = 7; i >= 0; i--) {
            v = (v << 8) | p[i];
        }
        v += delta;
        for (int i = 0; i < 8; i++) {
            p[i] = static_cast<uint8_t>(v >> (8 * i));
        }
    };
    for (WireDatagram& wire : stream->datagrams) {
        const int32_t count = static_cast<int32_t>(
            static_cast<uint32_t>(wire[1344]) | static_cast<uint32_t>(wire[1345]) << 8 |
            static_cast<uint32_t>(wire[1346]) << 16 | static_cast<uint32_t>(wire[1347]) << 24);
        for (int32_t s = 0; s < count && s < CONST_FFT_SAMPLES_PER_DATAGRAM; s++) {
            add_le64(wire.data() + s * SPECTRUM_FFT_WIRE_SIZE + 8, period);
        }
        add_le64(wire.data() + 1352, seq_step);
    }
    stream->first_ts += period;
    stream->last_ts += period;
}

// The capture named by the environment variable, or the fallback path.
inline std::string BenchCapturePath(const char* variable, const std::string& fallback) {
    const char* value = getenv(variable);
    return value != nullptr && *value != '\0' ? value : fallback;
}

// The usage line of a whole-pipeline tool; returns the exit status of a
// usage error.
inline int BenchUsage(const char* program, const char* arguments) {
    fprintf(stderr, "usage: %s %s\n", program, arguments);
    return 2;
}

// Discards what the daemon writes to std::cout for as long as it lives; the
// lines are still formatted, as they would be for a log file.
class SilentStdout {
public:
    SilentStdout() : saved_(std::cout.rdbuf(&sink_)) {}
    ~SilentStdout() { std::cout.rdbuf(saved_); }
    SilentStdout(const SilentStdout&) = delete;
    SilentStdout& operator=(const SilentStdout&) = delete;

private:
    class NullBuffer : public std::streambuf {
    protected:
        int overflow(int c) override { return c == EOF ? 0 : c; }
        std::streamsize xsputn(const char*, std::streamsize n) override { return n; }
    };
    NullBuffer sink_;
    std::streambuf* saved_;
};

#endif
