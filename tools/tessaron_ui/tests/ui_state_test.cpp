#include "ui_state.h"

#include <gtest/gtest.h>

#include <string>

#include <nlohmann/json.hpp>

namespace tessaron_ui {
namespace {

using nlohmann::json;

PulseType Class(const std::string& name) {
    PulseType t = PULSE_NONE;
    EXPECT_TRUE(PulseTypeFromName(name, &t)) << name;
    return t;
}

UiEvent Device(int index, const std::string& cls, long long first, long long last,
               bool hopper = true, const std::string& sensor = "local", float power = -55.0f) {
    UiEvent e;
    e.type = UiEventKind::Device;
    e.sensor = sensor;
    e.device.index = index;
    e.device.classification = Class(cls);
    e.device.first_seen_s = first;
    if (index == 0) {
        e.device.kind = DeviceEventRecord::Kind::Ended;
        return e;
    }
    e.device.last_seen_s = last;
    e.device.duration_s = static_cast<int>(last - first);
    e.device.power_dbm = power;
    e.device.hopper = hopper;
    if (!hopper) {
        e.device.band_cfreq_mhz = 2437.0f;
        e.device.start_bin = 0;
        e.device.center_bin = 28;
        e.device.end_bin = 55;
    }
    return e;
}

UiEvent Channel(double freq, int level, const std::string& sensor = "local") {
    UiEvent e;
    e.type = UiEventKind::Spectrum;
    e.sensor = sensor;
    e.freq_mhz = static_cast<float>(freq);
    e.card_time_us = 42;
    e.spectra = 1;
    e.db_below_mw.assign(kChannelBins, static_cast<float>(level));
    return e;
}

UiEvent Util(const std::string& text) {
    UiEvent e;
    e.type = UiEventKind::Utilisation;
    e.sensor = "local";
    e.utilisation.survey_text = text;
    e.utilisation.host_s = 1700000000;
    return e;
}

TEST(DeviceStateTest, FollowsADeviceFromAnnouncementToEnd) {
    UiState state;
    state.Apply(Device(1, "Bluetooth_Streaming", 100, 106), 1000);
    state.Apply(Device(1, "Bluetooth_Streaming", 100, 130), 2000);
    auto devices = state.Devices(2000);
    ASSERT_EQ(1u, devices.size());
    EXPECT_EQ(30, devices[0].duration);
    EXPECT_EQ(2u, devices[0].reports);
    EXPECT_FALSE(devices[0].ended);

    // Same class, other first second: another device.
    state.Apply(Device(2, "Bluetooth_Streaming", 120, 126), 2500);
    state.Apply(Device(0, "Bluetooth_Streaming", 100, 0), 3000);
    devices = state.Devices(3000);
    ASSERT_EQ(2u, devices.size());
    EXPECT_EQ(120, devices[0].first_seen);  // active ones first
    EXPECT_FALSE(devices[0].ended);
    EXPECT_EQ(100, devices[1].first_seen);
    EXPECT_TRUE(devices[1].ended);
    EXPECT_TRUE(devices[1].end_announced);
    EXPECT_EQ(130, devices[1].last_seen);  // the end keeps what was last reported

    // A repeated end and an end of a device never seen alive.
    state.Apply(Device(0, "Bluetooth_Streaming", 100, 0), 3100);
    state.Apply(Device(0, "Microwave_Oven", 90, 0), 3200);
    devices = state.Devices(3200);
    ASSERT_EQ(3u, devices.size());
    EXPECT_EQ("Microwave_Oven", devices[1].ClassName());
    EXPECT_EQ(0u, devices[1].reports);
}

TEST(DeviceStateTest, EndsSilentDevicesAndForgetsOldEnds) {
    UiState state;
    state.Apply(Device(1, "Microwave_Oven", 100, 104, false), 0);
    auto devices = state.Devices(kSilentDeviceEndMs + 1);
    ASSERT_EQ(1u, devices.size());
    EXPECT_TRUE(devices[0].ended);
    EXPECT_FALSE(devices[0].end_announced);
    // Announced again after all: alive again, not a second row.
    state.Apply(Device(1, "Microwave_Oven", 100, 900, false), kSilentDeviceEndMs + 2);
    devices = state.Devices(kSilentDeviceEndMs + 2);
    ASSERT_EQ(1u, devices.size());
    EXPECT_FALSE(devices[0].ended);

    state.Apply(Device(0, "Microwave_Oven", 100, 0), 10);
    EXPECT_TRUE(state.Devices(kEndedDeviceKeepMs).front().ended);
    EXPECT_TRUE(state.Devices(kEndedDeviceKeepMs + 11).empty());
}

TEST(DeviceStateTest, KeepsOnlyTheNewestEnds) {
    UiState state;
    for (int i = 0; i < static_cast<int>(kMaxEndedDevices) + 10; ++i) {
        state.Apply(Device(0, "Zigbee", 1000 + i, 0), i);
    }
    const auto devices = state.Devices(100);
    ASSERT_EQ(kMaxEndedDevices, devices.size());
    EXPECT_EQ(1000 + static_cast<long long>(kMaxEndedDevices) + 9, devices.front().first_seen);
    EXPECT_EQ(1010, devices.back().first_seen);
}

TEST(ChannelStateTest, PairsASurveyWithTheVisitThatFollowsIt) {
    UiState state;
    state.Apply(Util("busy 40"), 1000);
    state.Apply(Channel(2437.0, 80), 1400);
    state.Apply(Util("busy 50"), 2000);
    state.Apply(Channel(2442.0, 82), 2000 + kUtilPairingMs + 1);  // too late to pair
    state.Apply(Channel(2437.0, 81), 9000);
    const auto channels = state.Channels();
    ASSERT_EQ(2u, channels.size());
    EXPECT_DOUBLE_EQ(2437.0, channels[0].freq_mhz);
    EXPECT_EQ(81, channels[0].bins[0]);
    EXPECT_EQ(2u, channels[0].spectra);
    ASSERT_TRUE(channels[0].has_util);
    EXPECT_EQ("busy 40", channels[0].util.text);
    EXPECT_FALSE(channels[1].has_util);

    // A survey naming its channel goes straight there.
    state.Apply(Util("frequency: 2462 MHz busy 7"), 10000);
    const auto named = state.Channels();
    ASSERT_EQ(3u, named.size());
    EXPECT_EQ("frequency: 2462 MHz busy 7", named[2].util.text);
}

TEST(SnapshotJsonTest, StaysValidWhateverTheTextsHeld) {
    UiState state;
    state.Apply(Device(1, "Bluetooth_Streaming", 100, 106), 1000);
    state.Apply(Device(1, "Microwave_Oven", 100, 104, false), 1000);
    state.Apply(Device(0, "Zigbee", 50, 0), 1000);
    state.Apply(
        Util(std::string("quote \" back\\slash\nnew\tline \x01 bad \xff\xfe utf8 \xc3\xa9")), 1000);
    state.Apply(Channel(2412.0, 90), 1100);
    state.CountMalformed("bad \"text\"\n");
    state.CountOversized(70000);

    const json devices = json::parse(state.DevicesJson(1200));
    const json channels = json::parse(state.ChannelsJson(1200));
    const json stats = json::parse(state.StatsJson("\"extra\":1"));
    const json& mwo = devices["devices"][1];
    EXPECT_EQ(mwo["class"], "Microwave_Oven");
    EXPECT_EQ(mwo["label"], "Microwave oven");
    EXPECT_EQ(mwo["kind"], "fixed");
    EXPECT_EQ(mwo["bins"], json({0, 28, 55}));
    EXPECT_EQ(mwo["freq_mhz"], 2437.0);
    EXPECT_EQ(mwo["duty"], 0.5);  // typical: no duty in the feed
    EXPECT_EQ(mwo["duty_measured"], false);
    EXPECT_EQ(devices["devices"][2]["state"], "ended");
    EXPECT_EQ(devices["devices"][2]["end"], "announced");
    EXPECT_EQ(channels["channels"][0]["band_offset"], 0);
    EXPECT_EQ(channels["channels"][0]["power_dbm"][0], -90);
    EXPECT_NE(channels["latest_util"]["local"]["text"].get<std::string>().find(
                  "bad \xef\xbf\xbd\xef\xbf\xbd utf8 \xc3\xa9"),
              std::string::npos);
    EXPECT_EQ(stats["malformed"], 1);
    EXPECT_EQ(stats["oversized"], 1);
    EXPECT_EQ(stats["datagrams"], 7);
    EXPECT_EQ(stats["extra"], 1);
}

TEST(SiteStateTest, SensorsKeepTheirOwnDevicesAndTheLoudestLocatesAnEmitter) {
    UiState state;
    state.Apply(Device(1, "Microwave_Oven", 100, 104, false, "kitchen", -40.0f), 1000);
    state.Apply(Device(1, "Microwave_Oven", 101, 104, false, "office", -90.0f), 1000);
    state.Apply(Device(1, "Bluetooth", 90, 96, true, "office", -70.0f), 1000);
    // Same class and first second on another sensor: another device.
    state.Apply(Device(1, "Bluetooth", 90, 97, true, "kitchen", -75.0f), 1000);
    state.Apply(Channel(2437.0, 80, "kitchen"), 1000);
    state.SetSensorStatus("garage", "offline", 1000);

    const json devices = json::parse(state.DevicesJson(2000))["devices"];
    ASSERT_EQ(devices.size(), 4u);
    for (const json& d : devices) {
        const std::string expected = d["class"] == "Microwave_Oven" ? "kitchen" : "office";
        EXPECT_EQ(d["strongest_sensor"], expected) << d.dump();
    }
    const json sensors = json::parse(state.SensorsJson(5000))["sensors"];
    ASSERT_EQ(sensors.size(), 3u);
    EXPECT_EQ(sensors[0]["name"], "garage");
    EXPECT_EQ(sensors[0]["status"], "offline");
    EXPECT_EQ(sensors[1]["silent_s"], 4);

    // The microwave holds channel 6's air half the time where it is loud
    // enough to make Wi-Fi defer; further away it only lowers the rate.
    const auto quality = state.Quality(2000);
    EXPECT_LT(quality.at("kitchen")[5].quality, quality.at("office")[5].quality);
    EXPECT_DOUBLE_EQ(quality.at("kitchen")[5].airtime_lost, 0.5);
    EXPECT_DOUBLE_EQ(quality.at("office")[5].airtime_lost, 0.0);
    EXPECT_GT(quality.at("office")[5].worst_sinr_loss_db, 20.0);

    const std::string metrics = state.MetricsText(2000, 3);
    for (const char* line :
         {"tessaron_active_devices{sensor=\"kitchen\",class=\"Microwave_Oven\"} 1\n",
          "tessaron_device_announcements_total{sensor=\"office\",class=\"Bluetooth\"} 1\n",
          "tessaron_ui_page_events_dropped_total 3\n",
          "tessaron_channel_utilisation_ratio{sensor=\"kitchen\",freq_mhz=\"2437\"} 1\n",
          "tessaron_channel_air_quality{sensor=\"garage\",channel=\"13\"} 100\n",
          "# TYPE tessaron_channel_air_quality gauge\n"}) {
        EXPECT_NE(metrics.find(line), std::string::npos) << line << metrics;
    }
}

TEST(SiteStateTest, MeasuredDutyAndOnOffHistory) {
    UiState state;
    UiEvent spectrum = Channel(2437.0, 60);
    spectrum.spectra = 10;
    spectrum.above_noise.assign(kChannelBins, 2);  // 20 % of the visit
    state.Apply(spectrum, 500);
    state.Apply(Device(1, "Microwave_Oven", 100, 110, false), 1000);
    state.Apply(Device(0, "Microwave_Oven", 100, 0), 2000);
    state.Apply(Device(1, "Microwave_Oven", 200, 230, false), 3000);
    const json devices = json::parse(state.DevicesJson(4000))["devices"];
    ASSERT_EQ(devices.size(), 2u);
    EXPECT_EQ(devices[0]["duty"], 0.2);
    EXPECT_EQ(devices[0]["duty_measured"], true);
    EXPECT_EQ(devices[0]["history"], json({{100, 110}, {200, 230}}));
}

}  // namespace
}  // namespace tessaron_ui
