// tessaron-ui fed by a real mosquitto broker that two sensors publish to.
#include <gtest/gtest.h>
#include <httplib.h>

#include <nlohmann/json.hpp>

#include "event_records.h"
#include "mqtt_feed.h"
#include "mqtt_sink.h"
#include "outputs/broker.h"
#include "ui_server.h"

namespace tessaron_ui {
namespace {

using nlohmann::json;

DeviceEventRecord Microwave(float power) {
    return FixedEvent(PULSE_MWO, {2437.0f, 0, 28, 55}, 1700000000, 1700000004, power);
}

void Clock(timeval* t) {
    *t = {1700000004, 0};
}

TEST(MqttFeed, TopicsNameTheSensorAndTheKind) {
    std::string sensor;
    std::string kind;
    EXPECT_TRUE(SplitTopic("tessaron/north/devices", &sensor, &kind));
    EXPECT_EQ(sensor, "north");
    EXPECT_EQ(kind, "devices");
    EXPECT_TRUE(SplitTopic("tessaron/n-1/channels/2437", &sensor, &kind));
    EXPECT_EQ(kind, "channels");
    for (const char* bad :
         {"tessaron/north", "tessaron//devices", "other/north/devices", "tessaron/north/channels/",
          "tessaron/north/channels/1/2", "tessaron/no+rth/devices", "tessaron/north/devicesx"}) {
        EXPECT_FALSE(SplitTopic(bad, &sensor, &kind)) << bad;
    }
}

TEST(MqttFeed, ShowsEverySensorOnTheBroker) {
    TestBroker broker;
    ASSERT_TRUE(broker.Start());
    UiOptions options;
    options.udp = {"127.0.0.1", 0};
    options.http = {"127.0.0.1", 0};
    options.mqtt = {"127.0.0.1", static_cast<std::uint16_t>(broker.port())};
    UiServer server(options);
    std::string error;
    ASSERT_TRUE(server.Start(&error)) << error;
    // Wait for the feed's subscription, seen as a retained status arriving.
    MqttOptions first;
    first.port = broker.port();
    first.sensor = "kitchen";
    MqttSink kitchen(first, Clock);
    ASSERT_TRUE(kitchen.Start(&error));
    for (int i = 0; i < 500 && server.state().Sensors().empty(); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    MqttOptions second = first;
    second.sensor = "office";
    MqttSink office(second, Clock);
    ASSERT_TRUE(office.Start(&error));
    kitchen.OnDevice(Microwave(-40.0f));
    office.OnDevice(Microwave(-75.0f));
    office.Stop();

    // Two device events and three statuses (two online, one offline), then a
    // stranger publishing junk on the same tree, and a message that claims
    // another sensor than its topic.
    TopicCollector injector;
    ASSERT_TRUE(injector.Subscribe(broker.port(), "tessaron/none"));
    injector.Publish("tessaron/office/devices", "{not json");
    injector.Publish("tessaron/kitchen/devices",
                     DeviceEventJson(Microwave(-30.0f), {"office", {1700000004, 0}}));
    injector.Publish("tessaron/kitchen/status", "maybe");

    for (int i = 0; i < 500 && server.state().Counters().mqtt_messages < 8; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    httplib::Client http("127.0.0.1", server.http_port());
    const json devices = json::parse(http.Get("/api/devices")->body)["devices"];
    ASSERT_EQ(devices.size(), 2u);
    for (const json& d : devices) {
        EXPECT_EQ(d["strongest_sensor"], "kitchen");
    }
    json sensors;
    for (int i = 0; i < 500; ++i) {
        sensors = json::parse(http.Get("/api/sensors")->body)["sensors"];
        if (sensors.size() == 2 && sensors[1]["status"] == "offline") {
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ASSERT_EQ(sensors.size(), 2u);
    EXPECT_EQ(sensors[0]["name"], "kitchen");
    EXPECT_EQ(sensors[0]["status"], "online");
    EXPECT_EQ(sensors[1]["status"], "offline");
    const std::string metrics = http.Get("/metrics")->body;
    EXPECT_NE(metrics.find("tessaron_active_devices{sensor=\"office\",class=\"Microwave_Oven\"} 1"),
              std::string::npos)
        << metrics;
    // Eight messages, or nine when the broker also sends the office's last
    // will: it may judge the sensor's close unclean and publish the same
    // retained "offline" a second time.
    EXPECT_TRUE(metrics.find("tessaron_ui_mqtt_messages_received_total 8\n") != std::string::npos ||
                metrics.find("tessaron_ui_mqtt_messages_received_total 9\n") != std::string::npos)
        << metrics;
    EXPECT_NE(metrics.find("tessaron_ui_mqtt_messages_malformed_total 3\n"), std::string::npos);
    kitchen.Stop();
    server.Stop();
}

}  // namespace
}  // namespace tessaron_ui
