// Captures replay deterministically through the live receive path, and a
// recording made during a live run replays to the same analysis.
#include <gtest/gtest.h>

#include "daemon_process.h"
#include "pcap_builder.h"
#include "stream_builder.h"

namespace {

const std::string kSignatures = std::string(TESSARON_SOURCE_DIR) + "/data/signatures.txt";
constexpr long kEpoch = 1765000000;  // capture time of card time 0

// A narrow carrier on 2437 MHz (an analog cordless phone) for `on_s`
// seconds, then only the noise floor until `total_s`; one sample per ms.
std::vector<std::vector<uint8_t>> PhoneThenSilence(int on_s, int total_s) {
    PowerRow carrier = FlatRow(-95.0f);
    carrier[20] = -50.0f;
    carrier[19] = -63.0f;
    carrier[21] = -63.0f;
    const PowerRow quiet = FlatRow(-95.0f);
    StreamBuilder stream;
    for (uint64_t t = 1000; t < static_cast<uint64_t>(total_s) * 1000000; t += 1000) {
        stream.Add(2437, t, t < static_cast<uint64_t>(on_s) * 1000000 ? carrier : quiet);
    }
    return stream.Take();
}

uint64_t LastSampleTime(const std::vector<uint8_t>& wire) {
    fft_data d;
    DecodeFftData(wire.data(), d);
    return d.samples[d.count - 1].ts;
}

void WriteCapture(const std::string& path, const std::vector<std::vector<uint8_t>>& datagrams) {
    PcapFileWriter w(path, PCAP_LINKTYPE_ETHERNET);
    for (const auto& d : datagrams) {
        const uint64_t ts = LastSampleTime(d);
        w.Add(Ethernet(Ipv4(Udp(10000, d))), kEpoch + static_cast<long>(ts / 1000000),
              static_cast<long>(ts % 1000000));
    }
}

struct ReplayRun {
    std::string stdout_text;
    std::string stderr_text;
    std::vector<std::string> events;
    std::string output_log;
    std::string energy_log;
    int exit_code;
};

ReplayRun Replay(const std::string& capture) {
    EventCollector ui;
    DaemonProcess daemon;
    daemon.Start({"--replay", capture, "--ui", ui.Address(), kSignatures, "out.log", "energy.log"});
    ReplayRun run;
    run.exit_code = ExitCode(daemon.Wait());
    ui.Settle(200);
    run.stdout_text = daemon.Stdout();
    run.stderr_text = daemon.Stderr();
    run.events = ui.Events();
    run.output_log = ReadFile(daemon.Dir() + "/out.log");
    run.energy_log = ReadFile(daemon.Dir() + "/energy.log");
    return run;
}

bool AnyContains(const std::vector<std::string>& events, const std::string& text) {
    for (const std::string& e : events) {
        if (e.find(text) != std::string::npos) {
            return true;
        }
    }
    return false;
}

}  // namespace

TEST(Replay, SameCaptureGivesIdenticalOutputAndDevicesFollowCaptureTime) {
    const TempDir dir("tessaron-capture");
    const std::string capture = dir.Path() + "/phone.pcap";
    WriteCapture(capture, PhoneThenSilence(12, 30));

    const ReplayRun first = Replay(capture);
    const ReplayRun second = Replay(capture);
    ASSERT_EQ(first.exit_code, 0) << first.stderr_text;
    EXPECT_EQ(first.stdout_text, second.stdout_text);
    EXPECT_EQ(first.events, second.events);
    EXPECT_EQ(first.output_log, second.output_log);
    EXPECT_EQ(first.energy_log, second.energy_log);
    EXPECT_EQ(first.stderr_text, second.stderr_text);

    // Announced while the carrier is on, ended once five capture seconds
    // pass without it; the host times are capture times.
    EXPECT_TRUE(AnyContains(first.events, "\"Analog_Phone\""));
    EXPECT_TRUE(AnyContains(first.events, "[\"0\",\"Analog_Phone\",\"17650000"))
        << first.stdout_text;
    EXPECT_NE(first.output_log.find("inactive gt: "), std::string::npos);
    EXPECT_NE(first.stderr_text.find("packets read, 2143 datagrams used, 0 wrong-sized"),
              std::string::npos)
        << first.stderr_text;
    EXPECT_NE(first.stderr_text.find("Active devices: 0\n"), std::string::npos);
}

TEST(Replay, LiveRecordingReplaysToTheSameAnalysis) {
    // Short pulses hopping over a few bins: something for every classifier
    // pass to count.
    StreamBuilder stream;
    uint64_t t = 1000;
    for (int subband = 0; subband < 80; subband++) {
        for (int row = 0; row < 112; row++, t += 1000) {
            PowerRow r = FlatRow(-95.0f);
            if (row % 7 < 2) {
                const int bin = (subband * 13 + row * 5) % 52 + 2;
                r[bin] = r[bin + 1] = -60.0f;
            }
            stream.Add(2462, t, r);
        }
    }
    const auto datagrams = stream.Take();

    DaemonProcess live;
    const std::string recording = live.Dir() + "/live.pcap";
    live.Start(
        {"--no-card-control", "--listen", live.ListenOption(), "--record", recording, kSignatures});
    ASSERT_TRUE(live.WaitFor(false, "#Size of fft_stats: 1360\n"));
    live.SendAll(datagrams);
    ASSERT_TRUE(live.WaitFor(false, "SubBandAnalyser: subband_list")) << live.Stdout();
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_EQ(ExitCode(live.Stop(SIGTERM)), 0);

    DaemonProcess replay;
    // The recording keeps the port the live run listened on.
    replay.Start({"--replay", recording, "--listen", live.ListenOption(), kSignatures});
    ASSERT_EQ(ExitCode(replay.Wait()), 0) << replay.Stderr();
    EXPECT_EQ(replay.Stdout(), live.Stdout());
    EXPECT_NE(
        replay.Stderr().find("Replay: " + std::to_string(datagrams.size()) + " packets read, " +
                             std::to_string(datagrams.size()) + " datagrams used"),
        std::string::npos)
        << replay.Stderr();
}

TEST(Replay, BadCaptureAndOptionMisuse) {
    DaemonProcess daemon;
    daemon.Start({"--replay", "/nonexistent.pcap", kSignatures});
    EXPECT_EQ(ExitCode(daemon.Wait()), 1);
    EXPECT_NE(daemon.Stderr().find("Cannot read capture /nonexistent.pcap"), std::string::npos);

    DaemonProcess both;
    both.Start({"--replay", "x.pcap", "--record", "y.pcap", kSignatures});
    EXPECT_EQ(ExitCode(both.Wait()), 2);
}
