// Channel visits reach the UI as "event: channel" datagrams and the energy
// log as SPECTRUM lines.
#include <gtest/gtest.h>

#include <sstream>

#include "daemon_process.h"
#include "stream_builder.h"

namespace {

const std::string kSignatures = std::string(TESSARON_SOURCE_DIR) + "/data/signatures.txt";

std::string Repeat(const std::string& item, int times) {
    std::string out;
    for (int i = 0; i < times; i++) {
        out += item;
    }
    return out;
}

}  // namespace

TEST(UiEvents, ChannelVisitIsAveragedSentAndLogged) {
    EventCollector ui;
    DaemonProcess daemon;
    daemon.Start({"--no-card-control", "--listen", daemon.ListenOption(), "--ui", ui.Address(),
                  kSignatures, "out.log", "energy.log"});
    ASSERT_TRUE(daemon.WaitFor(false, "#Size of fft_stats: 1360\n"));

    // The first sample only starts the clock and the second only restarts
    // the average: 151 samples on 2437 MHz give 149 averaged spectra.
    StreamBuilder stream;
    const uint64_t t = stream.AddRun(2437, 1000, 151, 100, FlatRow(-70.0f));
    stream.AddRun(2442, t, 20, 100, FlatRow(-90.0f));
    daemon.SendAll(stream.Take());

    ASSERT_TRUE(ui.WaitFor("event: channel\r\n")) << daemon.Stdout() << daemon.Stderr();
    ui.Settle();
    const std::vector<std::string> events = ui.Events();
    ASSERT_EQ(events.size(), 1u);
    const std::string prefix = "event: channel\r\ndata:{ \"ch\": [";
    const std::string suffix = "],\"timestamp\":" + std::to_string(t) + ",\"freq\": 2437.00}\r\n\n";
    const std::string& e = events[0];
    ASSERT_EQ(e.compare(0, prefix.size(), prefix), 0) << e;
    ASSERT_GT(e.size(), prefix.size() + suffix.size());
    ASSERT_EQ(e.compare(e.size() - suffix.size(), suffix.size(), suffix), 0) << e;
    std::istringstream bins(e.substr(prefix.size(), e.size() - prefix.size() - suffix.size()));
    std::string bin;
    int count = 0;
    while (std::getline(bins, bin, ',')) {
        // -70 dBm in every bin; single-precision averaging may land a hair
        // below 70 before truncation.
        EXPECT_TRUE(bin == "70" || bin == "69") << bin;
        count++;
    }
    EXPECT_EQ(count, 56);

    ASSERT_TRUE(daemon.WaitFor(false, "Updating energy log file name to: energy.log\n"));
    const std::string log = ReadFile(daemon.Dir() + "/energy.log");
    // Every bin above -75 dBm in every spectrum: all 149 are high-energy, so
    // the filtered groups stay empty.
    const std::string groups = " " + Repeat("149_", 56) + " " + Repeat("149_", 56) + " " +
                               Repeat("70_", 56) + " " + Repeat("0_", 56) + " " + Repeat("0_", 56) +
                               " " + Repeat("0_", 56) + "\n";
    const std::string fields = " " + std::to_string(t) + " 2437 149 149" + groups;
    ASSERT_EQ(log.compare(0, 9, "SPECTRUM "), 0) << log;
    ASSERT_GT(log.size(), fields.size());
    EXPECT_EQ(log.substr(log.size() - fields.size()), fields);
    EXPECT_EQ(std::count(log.begin(), log.end(), '\n'), 1);
    EXPECT_TRUE(daemon.IsRunning());
    EXPECT_EQ(daemon.Stderr(), "");
}
