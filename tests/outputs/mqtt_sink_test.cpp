#include "mqtt_sink.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "event_records.h"
#include "outputs/broker.h"

namespace {

void FixedClock(timeval* t) {
    *t = {1700000000, 0};
}

MqttOptions Options(int port, const std::string& sensor) {
    MqttOptions o;
    o.port = port;
    o.sensor = sensor;
    o.reconnect_min_s = 1;
    o.reconnect_max_s = 1;
    o.keepalive_s = 5;
    return o;
}

DeviceEventRecord Device(int index) {
    DeviceEventRecord d = HopperEvent(PULSE_BLUETOOTH_SCO, 1000 + index, 1006 + index);
    d.index = index;
    return d;
}

bool Has(const MqttMessage& m, const std::string& topic, const std::string& payload) {
    return m.topic == topic && m.payload == payload;
}

// A device event of the given index.
std::function<bool(const MqttMessage&)> DeviceNumbered(int index) {
    const std::string field = "\"index\":" + std::to_string(index) + ",";
    return [field](const MqttMessage& m) { return m.payload.find(field) != std::string::npos; };
}

}  // namespace

TEST(MqttSink, PublishesEventsUnderTheSensorsTopicsAndSaysOnlineAndOffline) {
    TestBroker broker;
    ASSERT_TRUE(broker.Start());
    TopicCollector sub;
    ASSERT_TRUE(sub.Subscribe(broker.port(), "tessaron/#"));
    {
        MqttSink sink(Options(broker.port(), "north"), FixedClock);
        std::string error;
        ASSERT_TRUE(sink.Start(&error)) << error;
        ASSERT_TRUE(sub.WaitForMessage(
            [](const MqttMessage& m) { return Has(m, "tessaron/north/status", "online"); }, 5000));
        sink.OnDevice(Device(1));
        float bins[56] = {};
        sink.OnChannelSpectrum(SpectrumRecord(2437.0f, 1, bins, 56));
        ChannelUtilisationRecord u;
        u.survey_text = "survey";
        sink.OnChannelUtilisation(u);
        sink.Stop();
        EXPECT_EQ(sink.Counters().dropped, 0u);
        EXPECT_EQ(sink.Counters().published, 3u);
    }
    ASSERT_TRUE(sub.WaitForMessage(
        [](const MqttMessage& m) { return Has(m, "tessaron/north/status", "offline"); }, 5000));
    const std::vector<MqttMessage> got = sub.Messages();
    std::vector<std::string> topics;
    for (const MqttMessage& m : got) {
        topics.push_back(m.topic);
        if (m.topic == "tessaron/north/devices") {
            const auto j = nlohmann::json::parse(m.payload);
            EXPECT_EQ(j["class"], "Bluetooth_Streaming");
            EXPECT_EQ(j["sensor"], "north");
        }
    }
    EXPECT_EQ(topics,
              (std::vector<std::string>{
                  "tessaron/north/status", "tessaron/north/devices", "tessaron/north/channels/2437",
                  "tessaron/north/channels/survey", "tessaron/north/status"}));

    // A sensor that dies without a word leaves its last will.
    const pid_t child = fork();
    if (child == 0) {
        MqttSink sink(Options(broker.port(), "doomed"), FixedClock);
        std::string error;
        sink.Start(&error);
        for (int i = 0; i < 300 && !sink.Counters().connected; ++i) {
            usleep(10000);
        }
        _exit(sink.Counters().connected ? 0 : 1);
    }
    int status = 0;
    waitpid(child, &status, 0);
    ASSERT_EQ(WEXITSTATUS(status), 0);
    EXPECT_TRUE(sub.WaitForMessage(
        [](const MqttMessage& m) { return Has(m, "tessaron/doomed/status", "offline"); }, 8000));
}

TEST(MqttSink, ABrokerThatIsAwayCostsQueuedEventsNotTime) {
    TestBroker broker;  // not started yet
    MqttOptions options = Options(broker.port(), "south");
    options.queue_limit = 4;
    MqttSink sink(options, FixedClock);
    std::string error;
    ASSERT_TRUE(sink.Start(&error)) << error;

    const auto begin = std::chrono::steady_clock::now();
    for (int i = 1; i <= 10; ++i) {
        sink.OnDevice(Device(i));
    }
    const auto spent = std::chrono::steady_clock::now() - begin;
    EXPECT_LT(spent, std::chrono::milliseconds(50));
    MqttCounters c = sink.Counters();
    EXPECT_FALSE(c.connected);
    EXPECT_EQ(c.queued, 10u);
    EXPECT_EQ(c.dropped, 6u);
    EXPECT_EQ(c.waiting, 4u);

    // The broker comes up: the sink finds it and delivers the newest four.
    ASSERT_TRUE(broker.Start());
    TopicCollector sub;
    ASSERT_TRUE(sub.Subscribe(broker.port(), "tessaron/south/#"));
    ASSERT_TRUE(sub.WaitForMessage(DeviceNumbered(10), 8000));
    int devices = 0;
    for (const MqttMessage& m : sub.Messages()) {
        devices += m.topic == "tessaron/south/devices";
        EXPECT_FALSE(DeviceNumbered(6)(m));
    }
    EXPECT_EQ(devices, 4);

    // Killed and restarted mid-run: the sink comes back and says online again.
    broker.Kill();
    for (int i = 0; i < 300 && sink.Counters().connected; ++i) {
        usleep(10000);
    }
    EXPECT_FALSE(sink.Counters().connected);
    sink.OnDevice(Device(11));
    TestBroker again(broker.port());
    ASSERT_TRUE(again.Start());
    TopicCollector sub2;
    ASSERT_TRUE(sub2.Subscribe(again.port(), "tessaron/south/#"));
    EXPECT_TRUE(sub2.WaitForMessage(DeviceNumbered(11), 8000));
    EXPECT_TRUE(sub2.WaitForMessage(
        [](const MqttMessage& m) {
            return m.topic == "tessaron/south/status" && m.payload == "online";
        },
        8000));
    c = sink.Counters();
    EXPECT_GE(c.outages, 2u);
    EXPECT_EQ(c.connects, 2u);
}
