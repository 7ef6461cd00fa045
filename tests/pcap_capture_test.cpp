#include "pcap_capture.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>

#include "channel_visit.h"
#include "device_analyzer.h"
#include "fft_data.h"
#include "host_clock.h"
#include "pcap_builder.h"
#include "subband_analyser_class.h"
#include "temp_path.h"
#include "tessaron_main.h"

namespace {

const std::vector<uint8_t> kPayload = {1, 2, 3, 4, 5};

PacketVerdict Extract(int linktype, const std::vector<uint8_t>& pkt, size_t caplen,
                      std::vector<uint8_t>* payload_out = nullptr) {
    const uint8_t* payload = nullptr;
    size_t len = 0;
    const PacketVerdict v =
        ExtractUdpPayload(linktype, pkt.data(), caplen, pkt.size(), 10000, &payload, &len);
    if (v == PacketVerdict::kDatagram && payload_out != nullptr) {
        payload_out->assign(payload, payload + len);
    }
    return v;
}

PacketVerdict Extract(int linktype, const std::vector<uint8_t>& pkt,
                      std::vector<uint8_t>* payload_out = nullptr) {
    return Extract(linktype, pkt, pkt.size(), payload_out);
}

}  // namespace

TEST(PacketFraming, FindsTheDatagramInEveryLinkType) {
    const std::vector<uint8_t> v4 = Ipv4(Udp(10000, kPayload));
    const std::vector<uint8_t> v6 = Ipv6(Udp(10000, kPayload));
    const std::vector<std::pair<int, std::vector<uint8_t>>> framings = {
        {CAPTURE_LINKTYPE_RAW, v4},
        {CAPTURE_LINKTYPE_RAW, v6},
        {CAPTURE_DLT_RAW_ALT1, v4},
        {CAPTURE_LINKTYPE_IPV6, v6},
        {CAPTURE_LINKTYPE_ETHERNET, Ethernet(v4)},
        {CAPTURE_LINKTYPE_ETHERNET, Ethernet(v6, true)},
        {CAPTURE_LINKTYPE_ETHERNET, Ethernet(v4, false, true)},
        {CAPTURE_LINKTYPE_LINUX_SLL, LinuxSll(v4)},
        {CAPTURE_LINKTYPE_LINUX_SLL2, LinuxSll2(v4)},
        {CAPTURE_LINKTYPE_NULL, Loopback(v4)},
        {CAPTURE_LINKTYPE_LOOP, Loopback(v4)},
    };
    for (const auto& [linktype, packet] : framings) {
        std::vector<uint8_t> payload;
        EXPECT_EQ(Extract(linktype, packet, &payload), PacketVerdict::kDatagram) << linktype;
        EXPECT_EQ(payload, kPayload) << linktype;
    }
}

TEST(PacketFraming, SkipsOtherTrafficAndNeverReadsPastTheCapture) {
    EXPECT_EQ(Extract(CAPTURE_LINKTYPE_RAW, Ipv4(Udp(5000, kPayload))), PacketVerdict::kOtherPort);
    EXPECT_EQ(Extract(CAPTURE_LINKTYPE_RAW, Ipv4(Udp(10000, kPayload), 6)),
              PacketVerdict::kNotUdp);  // TCP
    EXPECT_EQ(Extract(CAPTURE_LINKTYPE_RAW, Ipv4(Udp(10000, kPayload), 17, 0x2000)),
              PacketVerdict::kNotUdp);  // first fragment
    EXPECT_EQ(Extract(147, Ipv4(Udp(10000, kPayload))), PacketVerdict::kNotUdp);
    EXPECT_EQ(Extract(CAPTURE_LINKTYPE_ETHERNET, {0x02, 0x02}), PacketVerdict::kNotUdp);

    // Snap-length cuts anywhere in the packet are truncations.
    const std::vector<uint8_t> eth = Ethernet(Ipv4(Udp(10000, kPayload)));
    for (size_t cut = 1; cut < eth.size(); cut++) {
        EXPECT_EQ(Extract(CAPTURE_LINKTYPE_ETHERNET, eth, cut), PacketVerdict::kTruncated) << cut;
    }
    // A UDP length larger than the IP packet is malformed, not a datagram.
    std::vector<uint8_t> bad = Ipv4(Udp(10000, kPayload));
    bad[20 + 5] = 200;
    EXPECT_EQ(Extract(CAPTURE_LINKTYPE_RAW, bad), PacketVerdict::kNotUdp);
}

namespace {

class ReplayTest : public testing::Test {
protected:
    void SetUp() override {
        SubBandAnalyser::ClearStop();
        path = TestTempPath("replay_test.pcap");
        testing::internal::CaptureStdout();
        analyser = std::make_unique<SubBandAnalyser>(
            "output.txt", 100000000, std::string(TESSARON_SOURCE_DIR) + "/data/signatures.txt",
            65535);
        testing::internal::GetCapturedStdout();
    }
    void TearDown() override { std::remove(path.c_str()); }

    static std::vector<uint8_t> Datagram(u64 ts, int count = 1) {
        fft_data d;
        memset(&d, 0, sizeof(d));
        d.count = count;
        for (int i = 0; i < 14; i++) {
            d.samples[i].freq = 2437;
            d.samples[i].ts = ts + 60 * i;
        }
        std::vector<uint8_t> wire(FFT_DATA_WIRE_SIZE);
        EncodeFftData(d, wire.data());
        return wire;
    }

    // Replays the capture at path on port 10000; returns what went to stderr.
    std::string Replay() {
        testing::internal::CaptureStderr();
        EXPECT_TRUE(ReplayCapture(path, 10000, false, *analyser, &summary));
        return testing::internal::GetCapturedStderr();
    }

    std::string path;
    std::unique_ptr<SubBandAnalyser> analyser;
    ReplaySummary summary;
};

}  // namespace

TEST_F(ReplayTest, CountsWarnsAndFollowsPacketTime) {
    {
        PcapFileWriter w(path, PCAP_LINKTYPE_ETHERNET);
        w.Add(Ethernet(Ipv4(Udp(10000, Datagram(1000, 14)))), 1700000000, 5);
        w.Add(Ethernet(Ipv4(Udp(10000, std::vector<uint8_t>(1359, 0)))), 1700000000, 6);
        w.Add(Ethernet(Ipv4(Udp(10000, Datagram(2000)))), 1700000000, 7, 100);  // cut
        w.Add(Ethernet(Ipv4(Udp(10000, kPayload), 6)), 1700000000, 8);          // TCP
        w.Add(Ethernet(Ipv4(Udp(5000, kPayload))), 1700000000, 9);              // UI traffic
        w.Add(Ethernet(Ipv6(Udp(10000, Datagram(3000, 2)))), 1700000042, 10);
    }
    EXPECT_EQ(Replay(), "Warning!! Received packet not of the right size: 1359\n");
    EXPECT_EQ(summary.packets, 6u);
    EXPECT_EQ(summary.datagrams, 3u);
    EXPECT_EQ(summary.truncated, 1u);
    EXPECT_EQ(summary.skipped, 2u);
    EXPECT_EQ(analyser->GetDatagramCounters().used, 2u);
    EXPECT_EQ(analyser->GetDatagramCounters().wrong_size, 1u);
    // The host clock reads the time of the packet being processed.
    timeval now;
    GetHostTime(&now);
    EXPECT_EQ(now.tv_sec, 1700000042);
    EXPECT_EQ(now.tv_usec, 10);
    EXPECT_EQ(analyser->current_ap->GetCurrentSubband().num_rows, 15u);
    EXPECT_NE(FormatReplaySummary(summary, *analyser)
                  .find("Replay: 6 packets read, 2 datagrams used, 1 wrong-sized, 0 bad sample "
                        "count, 2 skipped, 1 truncated\nActive devices: 0\n"),
              std::string::npos);
}

TEST_F(ReplayTest, UnreadableCaptureIsAnError) {
    testing::internal::CaptureStderr();
    EXPECT_FALSE(ReplayCapture(path + ".missing", 10000, false, *analyser, &summary));
    EXPECT_NE(testing::internal::GetCapturedStderr().find("Cannot read capture"),
              std::string::npos);
    // A file cut off in the middle of a record keeps what came before it.
    {
        PcapFileWriter w(path, PCAP_LINKTYPE_RAW_IP);
        w.Add(Ipv4(Udp(10000, Datagram(1000, 3))), 1, 0);
        w.Add(Ipv4(Udp(10000, Datagram(2000, 3))), 2, 0);
    }
    FILE* f = fopen(path.c_str(), "r+");
    ASSERT_NE(f, nullptr);
    fseek(f, 0, SEEK_END);
    const long size = ftell(f);
    fclose(f);
    ASSERT_EQ(truncate(path.c_str(), size - 500), 0);
    EXPECT_NE(Replay().find("ends early"), std::string::npos);
    EXPECT_EQ(summary.datagrams, 1u);
    EXPECT_EQ(summary.truncated, 1u);
}

TEST_F(ReplayTest, RecordedDatagramsReplayUnchanged) {
    {
        CaptureWriter writer;
        ASSERT_TRUE(writer.Open(path));
        sockaddr_in from, to;
        memset(&from, 0, sizeof(from));
        memset(&to, 0, sizeof(to));
        from.sin_addr.s_addr = htonl(0x7F000001);
        from.sin_port = htons(40000);
        to.sin_addr.s_addr = htonl(0x7F000001);
        to.sin_port = htons(10000);
        const std::vector<uint8_t> d = Datagram(1000, 14);
        writer.Write(d.data(), d.size(), from, to, timeval{100, 1});
        writer.Write(d.data(), 17, from, to, timeval{101, 2});
    }
    EXPECT_EQ(Replay(), "Warning!! Received packet not of the right size: 17\n");
    EXPECT_EQ(summary.datagrams, 2u);
    EXPECT_EQ(analyser->GetDatagramCounters().used, 1u);
}
