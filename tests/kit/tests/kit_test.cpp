// The kit's own pieces: what the tests build on must itself be right, or a
// broken helper passes a broken daemon.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <fstream>

#include "fft_data.h"
#include "loopback_udp.h"
#include "pcap_builder.h"
#include "stream_builder.h"
#include "temp_dir.h"
#include "ui_event_listener.h"

#ifdef TESSARON_HAVE_PCAP
#include <pcap/pcap.h>

#include "pcap_capture.h"
#endif

namespace {

bool Exists(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0;
}

// One's-complement sum of the header's 16-bit words: 0xFFFF when the
// checksum field is right.
uint32_t HeaderSum(const std::vector<uint8_t>& ip) {
    uint32_t sum = 0;
    for (size_t i = 0; i < IPV4_HEADER_BYTES; i += 2) {
        sum += static_cast<uint32_t>((ip[i] << 8) | ip[i + 1]);
    }
    while (sum >> 16) {
        sum = (sum & 0xFFFF) + (sum >> 16);
    }
    return sum;
}

}  // namespace

TEST(KitFiles, TempDirGoesAwayWithItsContentsUnlessKept) {
    std::string gone;
    std::string kept;
    {
        TempDir dir("tessaron-kit");
        ASSERT_TRUE(dir.Ok());
        gone = dir.Path();
        ASSERT_EQ(mkdir((gone + "/sub").c_str(), 0700), 0);
        const uint8_t bytes[] = {'a', 0, '\n', 'b', '\n'};
        ASSERT_TRUE(WriteFile(gone + "/sub/f", bytes, sizeof(bytes)));
        EXPECT_EQ(ReadFile(gone + "/sub/f"), std::string("a\0\nb\n", 5));
        EXPECT_EQ(CountLines(gone + "/sub/f"), 2);
        TempDir other("tessaron-kit");
        EXPECT_NE(other.Path(), gone);
        other.Keep();
        kept = other.Path();
    }
    EXPECT_FALSE(Exists(gone));
    EXPECT_TRUE(Exists(kept));
    rmdir(kept.c_str());
    EXPECT_FALSE(WriteFile(gone + "/nowhere", nullptr, 0));
    EXPECT_EQ(ReadFile(gone + "/nowhere"), "");
    EXPECT_EQ(CountLines(gone + "/nowhere"), 0);
}

TEST(KitLoopback, DatagramsArriveWholeAndInOrder) {
    UiEventListener listener;
    EXPECT_NE(ntohs(listener.address().sin_port), 0);
    EXPECT_EQ(listener.AddressOption(),
              "127.0.0.1:" + std::to_string(ntohs(listener.address().sin_port)));
    EXPECT_TRUE(listener.Drain(0).empty());

    const LoopbackSender sender(ntohs(listener.address().sin_port));
    const std::string big(60000, 'x');
    EXPECT_TRUE(sender.Send("one", 3));
    EXPECT_TRUE(sender.Send(big.data(), big.size()));
    EXPECT_TRUE(sender.Send("", 0));
    const std::vector<std::string> got = listener.Drain();
    EXPECT_EQ(got, (std::vector<std::string>{"one", big, ""}));
}

TEST(KitLoopback, CollectorWaitsForTextAndSettles) {
    EventCollector events;
    const std::string address = events.Address();
    const uint16_t port = static_cast<uint16_t>(std::stoi(address.substr(address.find(':') + 1)));
    EXPECT_FALSE(events.WaitFor("devices", 0));
    const LoopbackSender sender(port);
    for (int i = 0; i < 200; i++) {  // a burst, as a band change brings
        const std::string e = "event: channel " + std::to_string(i) + std::string(500, ' ');
        sender.Send(e.data(), e.size());
    }
    sender.Send("event: devices", 14);
    EXPECT_TRUE(events.WaitFor("devices"));
    events.Settle(50);
    EXPECT_EQ(events.Events().size(), 201u);
    EXPECT_NE(FreeUdpPort(), 0);
}

TEST(KitPackets, Ipv4HeaderCarriesLengthsAndAValidChecksum) {
    for (const size_t payload : {0u, 1u, 1360u, 65507u}) {
        const std::vector<uint8_t> ip = Ipv4(Udp(10000, std::vector<uint8_t>(payload, 0xAB)));
        ASSERT_EQ(ip.size(), IPV4_HEADER_BYTES + UDP_HEADER_BYTES + payload);
        EXPECT_EQ(HeaderSum(ip), 0xFFFFu) << payload;
        EXPECT_EQ((ip[2] << 8) | ip[3], static_cast<int>(ip.size()));
        EXPECT_EQ((ip[24] << 8) | ip[25], static_cast<int>(UDP_HEADER_BYTES + payload));
        EXPECT_EQ((ip[22] << 8) | ip[23], 10000);
    }
    const std::vector<uint8_t> fragment = Ipv4(Udp(10000, {1, 2}), 17, 0x2000);
    EXPECT_EQ(HeaderSum(fragment), 0xFFFFu);
    EXPECT_EQ(fragment[6], 0x20);
    EXPECT_EQ(Ethernet(fragment, false, true).size(), fragment.size() + 18);
}

TEST(KitPackets, WriterRefusesWhatAPcapFileCannotHold) {
    PcapFileWriter unopened;
    EXPECT_FALSE(unopened.Add({1, 2, 3}, 0, 0));
    PcapFileWriter nowhere("/nonexistent/dir/x.pcap", PCAP_LINKTYPE_RAW_IP);
    EXPECT_FALSE(nowhere.Add({1, 2, 3}, 0, 0));
    EXPECT_FALSE(nowhere.Close());
}

#ifdef TESSARON_HAVE_PCAP
// What the writer produces must be what libpcap reads: link type, times,
// captured and original lengths, and the packets themselves.
TEST(KitPackets, WrittenCaptureReadsBackThroughLibpcap) {
    const TempDir dir("tessaron-kit");
    const std::string path = dir.Path() + "/x.pcap";
    const std::vector<uint8_t> first = Ethernet(Ipv4(Udp(10000, std::vector<uint8_t>(1360, 7))));
    const std::vector<uint8_t> second = Ethernet(Ipv6(Udp(5000, {9, 9, 9})));
    {
        PcapFileWriter w(path, PCAP_LINKTYPE_ETHERNET);
        ASSERT_TRUE(w.Add(first, 1700000000, 999999));
        ASSERT_TRUE(w.Add(second, 1700000001, 5, 20));    // cut to 20 bytes
        ASSERT_TRUE(w.Add(second, 1700000002, 6, 5000));  // a cut longer than the packet
        ASSERT_TRUE(w.Close());
    }
    char err[PCAP_ERRBUF_SIZE];
    pcap_t* pcap = pcap_open_offline(path.c_str(), err);
    ASSERT_NE(pcap, nullptr) << err;
    EXPECT_EQ(pcap_datalink(pcap), DLT_EN10MB);
    pcap_pkthdr* h = nullptr;
    const u_char* data = nullptr;
    ASSERT_EQ(pcap_next_ex(pcap, &h, &data), 1);
    EXPECT_EQ(h->ts.tv_sec, 1700000000);
    EXPECT_EQ(h->ts.tv_usec, 999999);
    ASSERT_EQ(h->caplen, first.size());
    EXPECT_EQ(std::vector<uint8_t>(data, data + h->caplen), first);
    const uint8_t* payload = nullptr;
    size_t len = 0;
    EXPECT_EQ(ExtractUdpPayload(CAPTURE_LINKTYPE_ETHERNET, data, h->caplen, h->len, 10000, &payload,
                                &len),
              PacketVerdict::kDatagram);
    EXPECT_EQ(len, 1360u);
    ASSERT_EQ(pcap_next_ex(pcap, &h, &data), 1);
    EXPECT_EQ(h->caplen, 20u);
    EXPECT_EQ(h->len, second.size());
    ASSERT_EQ(pcap_next_ex(pcap, &h, &data), 1);
    EXPECT_EQ(h->caplen, second.size());
    EXPECT_EQ(pcap_next_ex(pcap, &h, &data), -2);  // end of file
    pcap_close(pcap);
}
#endif

TEST(KitStream, PacksFourteenSamplesPerDatagramInSequence) {
    StreamBuilder stream;
    PowerRow row = FlatRow(-95.0f);
    row[20] = -50.0f;
    EXPECT_EQ(stream.AddRun(2437, 1000, 30, 100, row), 4000u);
    const std::vector<std::vector<uint8_t>> wire = stream.Take();
    ASSERT_EQ(wire.size(), 3u);
    for (size_t i = 0; i < wire.size(); i++) {
        ASSERT_EQ(wire[i].size(), FFT_DATA_WIRE_SIZE);
        fft_data d;
        DecodeFftData(wire[i].data(), d);
        EXPECT_EQ(d.seq_num, i);
        EXPECT_EQ(d.count, i < 2 ? 14 : 2);
        EXPECT_EQ(d.samples[0].ts, 1000 + 1400 * i);
        EXPECT_EQ(d.samples[0].freq, 2437);
        // The strongest bin takes the full magnitude; rssi carries the
        // total power (one bin 45 dB above 55 others: about -50 dBm).
        EXPECT_EQ(d.samples[0].samples[22], 255);
        EXPECT_EQ(d.samples[0].rssi, 45);
    }
    EXPECT_TRUE(stream.Take().empty());
}
