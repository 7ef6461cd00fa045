// The daemon publishing to a real broker that is killed in the middle of a
// replay and started again: the analysis must not notice (every output the
// same as without MQTT), and the feed must come back by itself.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

#include "daemon_process.h"
#include "outputs/broker.h"

namespace {

const std::string kSignatures = std::string(TESSARON_SOURCE_DIR) + "/data/signatures.txt";

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

struct Outputs {
    std::string stdout_text;
    std::vector<std::string> events;
    std::string output_log;
    std::string energy_log;
};

// A short scenario from the simulator, so a replay at capture pace is quick.
std::string Capture(const std::string& dir) {
    const std::string pcap = dir + "/scenario.pcap";
    const std::string command = std::string(TESSARON_SIM_BINARY) +
                                " generate --scenario bt-voice-microwave --duration 4 --out '" +
                                pcap + "' --truth '" + dir + "/truth.json' > /dev/null";
    return system(command.c_str()) == 0 ? pcap : "";
}

Outputs Collect(DaemonProcess& daemon, EventCollector& ui) {
    ui.Settle(200);
    return {daemon.Stdout(), ui.Events(), ReadFile(daemon.Dir() + "/out.log"),
            ReadFile(daemon.Dir() + "/energy.log")};
}

TEST(MqttDaemon, ABrokerKilledMidRunCostsNothingButEventsAndIsFoundAgain) {
    setenv("TZ", "UTC", 1);
    DaemonProcess plain;
    const std::string pcap = Capture(plain.Dir());
    ASSERT_FALSE(pcap.empty());
    EventCollector plain_ui;
    plain.Start({"--replay", pcap, "--ui", plain_ui.Address(), kSignatures, "out.log", "energy.log"});
    ASSERT_EQ(plain.Wait(), 0) << plain.Stderr();
    const Outputs without = Collect(plain, plain_ui);
    ASSERT_FALSE(without.energy_log.empty());

    TestBroker broker;
    ASSERT_TRUE(broker.Start());
    TopicCollector before;
    ASSERT_TRUE(before.Subscribe(broker.port(), "tessaron/lab/#"));
    EventCollector ui;
    DaemonProcess daemon;
    daemon.Start({"--replay", pcap, "--realtime", "--ui", ui.Address(), "--sensor", "lab",
                  "--mqtt", broker.Address(), kSignatures, "out.log", "energy.log"});
    auto spectra = [](const MqttMessage& m) {
        return m.topic.rfind("tessaron/lab/channels/", 0) == 0;
    };
    ASSERT_TRUE(before.WaitForMessage(spectra, 5000));
    broker.Kill();
    ASSERT_TRUE(daemon.WaitFor(true, "Warning... MQTT: broker " + broker.Address() + " lost", 5000))
        << daemon.Stderr();
    TestBroker again(broker.port());
    ASSERT_TRUE(again.Start());
    TopicCollector after;
    ASSERT_TRUE(after.Subscribe(again.port(), "tessaron/lab/#"));
    EXPECT_TRUE(after.WaitForMessage(
        [](const MqttMessage& m) { return m.topic == "tessaron/lab/status" && m.payload == "online"; },
        5000));
    EXPECT_TRUE(after.WaitForMessage(spectra, 5000));
    ASSERT_EQ(daemon.Wait(), 0);
    EXPECT_NE(daemon.Stderr().find("MQTT: connected to " + broker.Address() + " ("),
              std::string::npos)
        << daemon.Stderr();
    EXPECT_TRUE(after.WaitForMessage(
        [](const MqttMessage& m) { return m.topic == "tessaron/lab/status" && m.payload == "offline"; },
        5000));

    const Outputs with = Collect(daemon, ui);
    EXPECT_TRUE(with.stdout_text == without.stdout_text);
    EXPECT_EQ(with.events, without.events);
    EXPECT_EQ(with.output_log, without.output_log);
    EXPECT_EQ(with.energy_log, without.energy_log);
}

}  // namespace
