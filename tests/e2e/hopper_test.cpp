// A Bluetooth voice link hopping through the monitored channel is found by
// the hopper pass, announced to the UI and reported on standard output.
#include <gtest/gtest.h>

#include "daemon_process.h"

#ifdef TESSARON_SIM_BINARY

namespace {

const std::string kSignatures = std::string(TESSARON_SOURCE_DIR) + "/data/signatures.txt";

}  // namespace

TEST(Hopper, BluetoothVoiceLinkIsAnnounced) {
    DaemonProcess daemon;
    const std::string capture = daemon.Dir() + "/bt-voice.pcap";
    // 18 s of air: two hopper passes of 72 subbands of 110 ms.
    const std::string generate = std::string("'") + TESSARON_SIM_BINARY +
                                 "' generate --scenario bt-voice --duration 18 --out '" + capture +
                                 "' --truth '" + daemon.Dir() + "/truth.json' > /dev/null";
    ASSERT_EQ(system(generate.c_str()), 0);

    EventCollector ui;
    daemon.Start({"--replay", capture, "--ui", ui.Address(), kSignatures});
    const int status = daemon.Wait();
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << daemon.Stderr();
    EXPECT_TRUE(ui.WaitFor("\"Bluetooth_Streaming\""));
    const std::string out = daemon.Stdout();
    EXPECT_NE(out.find("Adding a BTSCO device...\n"), std::string::npos);
    EXPECT_GE(std::count(out.begin(), out.end(), '\n'), 10);
    bool framed = false;
    for (const std::string& e : ui.Events()) {
        if (e.find("Bluetooth_Streaming") != std::string::npos) {
            EXPECT_EQ(e.rfind("event: devices\r\ndata: { \"dev\": [\"", 0), 0u) << e;
            EXPECT_NE(e.find("\"0\",\"Freq Hopper\",\"1\"]}\n\n"), std::string::npos) << e;
            framed = true;
        }
    }
    EXPECT_TRUE(framed);
}

#endif
