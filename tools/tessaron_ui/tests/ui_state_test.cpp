#include "ui_state.h"

#include <gtest/gtest.h>

#include <string>

#include "json_check.h"
#include "json_text.h"

namespace tessaron_ui {
namespace {

UiEvent Device(int index, const std::string& cls, long long first, long long last,
               bool hopper = true) {
    UiEvent e;
    e.kind = UiEventKind::kDevices;
    e.name = "devices";
    e.device.index = index;
    e.device.class_name = cls;
    e.device.first_seen = first;
    if (index > 0) {
        e.device.last_seen = last;
        e.device.duration = last - first;
        e.device.power_dbm = -55.0;
        e.device.hopper = hopper;
        if (!hopper) {
            e.device.freq_mhz = 2437.0;
            e.device.start_bin = 0;
            e.device.centre_bin = 28;
            e.device.end_bin = 55;
        }
    }
    return e;
}

UiEvent Channel(double freq, int level) {
    UiEvent e;
    e.kind = UiEventKind::kChannel;
    e.name = "channel";
    e.channel.freq_mhz = freq;
    e.channel.mac_time = 42;
    e.channel.bins.assign(kChannelBins, level);
    return e;
}

UiEvent Util(const std::string& text) {
    UiEvent e;
    e.kind = UiEventKind::kChannelUtil;
    e.name = "channel_util_info";
    e.util.text = text;
    e.util.timestamp = 1700000000;
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
    EXPECT_EQ("Microwave_Oven", devices[1].class_name);
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

    const std::string devices = state.DevicesJson(1200);
    const std::string channels = state.ChannelsJson();
    const std::string stats = state.StatsJson("\"extra\":1");
    EXPECT_TRUE(json_check::IsValidJson(devices)) << devices;
    EXPECT_TRUE(json_check::IsValidJson(channels)) << channels;
    EXPECT_TRUE(json_check::IsValidJson(stats)) << stats;
    EXPECT_NE(std::string::npos, devices.find("\"class\":\"Microwave_Oven\",\"kind\":\"fixed\","
                                              "\"freq_mhz\":2437.00,\"bins\":[0,28,55]"));
    EXPECT_NE(std::string::npos, devices.find("\"state\":\"ended\",\"end\":\"announced\""));
    EXPECT_NE(std::string::npos, channels.find("\"band_offset\":0"));
    EXPECT_NE(std::string::npos, channels.find("\"power_dbm\":[-90,-90,"));
    EXPECT_NE(std::string::npos, channels.find("bad \\ufffd\\ufffd utf8 \xc3\xa9"));
    EXPECT_NE(std::string::npos, stats.find("\"malformed\":1,\"oversized\":1"));
    EXPECT_NE(std::string::npos, stats.find("\"datagrams\":7"));
}

TEST(SnapshotJsonTest, EscapesEveryControlAndInvalidByte) {
    EXPECT_EQ("\"a\\u0001\\u001f\\u007f\"", JsonString("a\x01\x1f\x7f"));
    // Each byte of an overlong slash, a lone continuation byte, a surrogate half
    // and a truncated sequence.
    EXPECT_EQ("\"\\ufffd\\ufffd\\ufffd\\ufffd\\ufffd\\ufffd\\ufffd\\ufffd\"",
              JsonString("\xc0\xaf\x80\xed\xa0\x80\xe2\x82"));
    EXPECT_EQ("\"\xf0\x9f\x93\xa1\"", JsonString("\xf0\x9f\x93\xa1"));
}

}  // namespace
}  // namespace tessaron_ui
