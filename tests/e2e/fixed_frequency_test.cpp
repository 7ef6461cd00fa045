// A strong continuous narrow carrier (an analog cordless phone) is named and
// announced by the live daemon, with card control running through a
// recording shell.
#include <gtest/gtest.h>

#include "analog_phone_stream.h"
#include "daemon_process.h"

namespace {

const std::string kSignatures = std::string(TESSARON_SOURCE_DIR) + "/data/signatures.txt";

}  // namespace

TEST(FixedFrequency, AnalogPhoneIsAnnouncedLive) {
    EventCollector ui;
    DaemonProcess daemon;
    daemon.StartLive(ui.Address(), {kSignatures, "out.log", "energy.log"});
    ASSERT_TRUE(daemon.WaitFor(false, "#Size of fft_stats: 1360\n"));

    const bool announced = StreamAnalogPhoneUntilAnnounced(daemon, ui);
    ASSERT_TRUE(announced) << daemon.Stdout();
    bool framed = false;
    for (const std::string& e : ui.Events()) {
        if (e.find("Analog_Phone") != std::string::npos) {
            EXPECT_EQ(e.rfind("event: devices\r\ndata: { \"dev\": [\"1\",\"Analog_Phone\",", 0), 0u)
                << e;
            EXPECT_NE(e.find("\"2442.00\""), std::string::npos) << e;
            EXPECT_EQ(e.substr(e.size() - 4), "]}\n\n");
            framed = true;
        }
    }
    EXPECT_TRUE(framed);
    EXPECT_TRUE(daemon.IsRunning());
    // The card was driven only through the recording shell.
    const std::string commands = ReadFile(daemon.Dir() + "/commands.log");
    EXPECT_NE(commands.find("iwconfig wlan1 channel 1\n"), std::string::npos) << commands;
    EXPECT_NE(commands.find("/set_start_spectral_scan > /dev/null\n"), std::string::npos);
}
