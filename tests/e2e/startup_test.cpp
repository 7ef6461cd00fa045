// The daemon's start-up and receive path, driven over loopback.
#include <gtest/gtest.h>

#include <cstring>

#include "daemon_process.h"
#include "fft_data.h"

namespace {

const std::string kSignatures = std::string(TESSARON_SOURCE_DIR) + "/data/signatures.txt";

// Finds each text after the previous one.
bool InOrder(const std::string& haystack, const std::vector<std::string>& texts) {
    size_t pos = 0;
    for (const std::string& t : texts) {
        pos = haystack.find(t, pos);
        if (pos == std::string::npos) {
            return false;
        }
        pos += t.size();
    }
    return true;
}

}  // namespace

TEST(Startup, BannerThenWarningsForWrongSizedDatagrams) {
    DaemonProcess daemon;
    daemon.StartLive(LoopbackOption(FreeUdpPort()), {kSignatures});
    ASSERT_TRUE(daemon.WaitFor(false, "#Size of fft_stats: 1360\n")) << daemon.Stdout();
    EXPECT_TRUE(InOrder(daemon.Stdout(),
                        {"bin_boundary_offset: 28 total_bin_count: 216\n",
                         "Sending events to UI is enabled...\n", "Using SleepSwitchChannel...\n"}))
        << daemon.Stdout();

    std::vector<uint8_t> buf(1361, 0);
    daemon.Send(buf.data(), 1359);
    daemon.Send(buf.data(), 1361);
    fft_data d;
    memset(&d, 0, sizeof(d));
    d.count = 1;
    d.samples[0].freq = 2412;
    d.samples[0].ts = 1000;
    EncodeFftData(d, buf.data());
    daemon.Send(buf.data(), 1360);
    ASSERT_TRUE(daemon.WaitFor(true, "1361\n"));
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_EQ(daemon.Stderr(),
              "Warning!! Received packet not of the right size: 1359\n"
              "Warning!! Received packet not of the right size: 1361\n");
    EXPECT_TRUE(daemon.IsRunning());
    // The card-control thread ran its commands through the recording shell.
    EXPECT_TRUE(daemon.WaitFor(false, "Resetting done....\n"));
    EXPECT_NE(ReadFile(daemon.Dir() + "/commands.log").find("ifconfig wlan1 down"),
              std::string::npos);
    EXPECT_EQ(ExitCode(daemon.Stop(SIGTERM)), 0);
}

TEST(Startup, CardControlActsOnTheNamedInterface) {
    DaemonProcess daemon;
    daemon.StartLive(LoopbackOption(FreeUdpPort()),
                     {kSignatures, "out.log", "energy.log", "phy0", "wlan0"});
    ASSERT_TRUE(daemon.WaitFor(false, "Resetting done....\n")) << daemon.Stdout();
    for (int waited = 0; waited < 5000; waited += 20) {
        if (ReadFile(daemon.Dir() + "/commands.log").find("channel 3") != std::string::npos) {
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    const std::string commands = ReadFile(daemon.Dir() + "/commands.log");
    EXPECT_TRUE(InOrder(commands, {"ifconfig wlan0 down; ifconfig wlan0 up\n",
                                   "/phy0/ath9k_htc/stop_spectral_scan > /dev/null\n",
                                   "iwconfig wlan0 channel 1\n", "iwconfig wlan0 channel 3\n"}))
        << commands;
    EXPECT_EQ(commands.find("wlan1"), std::string::npos) << commands;
    EXPECT_EQ(ExitCode(daemon.Stop(SIGTERM)), 0);
}

TEST(Startup, UsageErrorsExitWithStatusTwo) {
    const std::vector<std::vector<std::string>> bad = {
        {},
        {kSignatures, "out.log", "energy.log", "phy0"},
        {"--bogus", kSignatures},
        {kSignatures, "out.log", "energy.log", "phy0;reboot", "wlan0"},
        {kSignatures, "out.log", "energy.log", std::string(230, 'p'), "wlan0"},
        {kSignatures, "out.log", "energy.log", "phy0", "wlan0;reboot"},
    };
    for (const auto& args : bad) {
        DaemonProcess daemon;
        daemon.Start(args);
        EXPECT_EQ(ExitCode(daemon.Wait()), 2);
        EXPECT_NE(daemon.Stderr().find("Usage: "), std::string::npos) << daemon.Stderr();
    }
    DaemonProcess help;
    help.Start({"--help"});
    EXPECT_EQ(ExitCode(help.Wait()), 0);
    EXPECT_NE(help.Stdout().find("Usage: "), std::string::npos);
}

TEST(Startup, MissingSignatureFileExitsWithStatusOne) {
    DaemonProcess daemon;
    daemon.Start({"--no-card-control", "--listen", daemon.ListenOption(), "no-such-file"});
    EXPECT_EQ(ExitCode(daemon.Wait()), 1);
    EXPECT_NE(daemon.Stdout().find("Could not open file... Exiting...\n"), std::string::npos)
        << daemon.Stdout() << daemon.Stderr();
}
