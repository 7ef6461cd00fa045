#include "event_json.h"

#include <gtest/gtest.h>

#include <algorithm>

#include <nlohmann/json.hpp>

#include "event_records.h"

using nlohmann::json;

namespace {

const EventStamp kStamp{"kitchen", {1700000000, 12}};

DeviceEventRecord MicrowaveOn2437() {
    return FixedEvent(PULSE_MWO, {2437.0f, 10, 30, 50}, 1699999990, 1700000000, -52.5f);
}

ParsedEvent RoundTrip(const std::string& text) {
    ParsedEvent e;
    std::string error;
    EXPECT_TRUE(ParseEventJson(text, &e, &error)) << error << "\n" << text;
    return e;
}

}  // namespace

TEST(EventJson, FixedDeviceCarriesItsBandChannelsAndTimes) {
    const DeviceEventRecord d = MicrowaveOn2437();
    const json j = json::parse(DeviceEventJson(d, kStamp));
    EXPECT_EQ(j["type"], "device");
    EXPECT_EQ(j["event"], "active");
    EXPECT_EQ(j["sensor"], "kitchen");
    EXPECT_EQ(j["time"], "2023-11-14T22:13:20.000012Z");
    EXPECT_DOUBLE_EQ(j["host_time"].get<double>(), 1700000000.000012);
    EXPECT_EQ(j["class"], "Microwave_Oven");
    EXPECT_EQ(j["label"], "Microwave oven");
    EXPECT_DOUBLE_EQ(j["freq_mhz"].get<double>(), 2437.63);  // bin 30 is 2 bins above centre
    // Bins 10..50 of the 2437 subband, edges included: 2431.22..2444.03 MHz.
    EXPECT_DOUBLE_EQ(j["band_mhz"][0].get<double>(), 2431.22);
    EXPECT_DOUBLE_EQ(j["band_mhz"][1].get<double>(), 2444.03);
    EXPECT_EQ(j["bins"], json({10, 30, 50}));
    EXPECT_EQ(j["first_seen"], 1699999990);
    EXPECT_EQ(j["duration_s"], 10);
    EXPECT_DOUBLE_EQ(j["power_dbm"].get<double>(), -52.5);

    // Every listed channel's 20 MHz overlaps the band and no other does.
    const std::vector<int> channels = j["wifi_channels"].get<std::vector<int>>();
    for (int ch = 1; ch <= 13; ++ch) {
        const double centre = 2407.0 + 5.0 * ch;
        const bool overlaps = 2431.22 < centre + 10.0 && 2444.03 > centre - 10.0;
        EXPECT_EQ(std::count(channels.begin(), channels.end(), ch) == 1, overlaps) << ch;
    }

    const ParsedEvent back = RoundTrip(DeviceEventJson(d, kStamp));
    EXPECT_EQ(back.sensor, "kitchen");
    EXPECT_EQ(back.device.classification, PULSE_MWO);
    EXPECT_EQ(back.device.start_bin, 10);
    EXPECT_EQ(back.device.center_bin, 30);
    EXPECT_EQ(back.device.end_bin, 50);
    EXPECT_EQ(back.device.band_cfreq_mhz, 2437.0f);
    EXPECT_EQ(back.device.last_seen_s, 1700000000);
    EXPECT_FLOAT_EQ(back.device.power_dbm, -52.5f);
}

TEST(EventJson, HoppersCoverEveryChannelAndEndsLeaveUnknownFiguresNull) {
    DeviceEventRecord bt = HopperEvent(PULSE_BLUETOOTH_SCO, 100, 106, -60.0f);
    bt.index = 2;
    json j = json::parse(DeviceEventJson(bt, kStamp));
    EXPECT_TRUE(j["freq_mhz"].is_null());
    EXPECT_TRUE(j["bins"].is_null());
    EXPECT_EQ(j["wifi_channels"].size(), 13u);
    EXPECT_TRUE(RoundTrip(j.dump()).device.hopper);

    DeviceEventRecord ended;
    ended.kind = DeviceEventRecord::Kind::Ended;
    ended.classification = PULSE_BLUETOOTH_SCO;
    ended.hopper = true;
    ended.first_seen_s = 100;
    j = json::parse(DeviceEventJson(ended, kStamp));
    EXPECT_EQ(j["event"], "ended");
    EXPECT_TRUE(j["last_seen"].is_null());
    EXPECT_TRUE(j["power_dbm"].is_null());
    const ParsedEvent back = RoundTrip(j.dump());
    EXPECT_EQ(back.device.kind, DeviceEventRecord::Kind::Ended);
    EXPECT_EQ(back.device.first_seen_s, 100);
}

TEST(EventJson, SpectrumInDbmWithDutyAndSurveyTextsOfAnyBytes) {
    float bins[56];
    int above[56];
    for (int i = 0; i < 56; ++i) {
        bins[i] = 90.0f - i * 0.25f;
        above[i] = i % 5;
    }
    ChannelSpectrumRecord s = SpectrumRecord(2462.0f, 4, bins, 56);
    s.card_time_us = 4294967296ULL;
    s.above_noise = above;
    const json j = json::parse(ChannelSpectrumJson(s, kStamp));
    EXPECT_EQ(j["power_dbm"].size(), 56u);
    EXPECT_DOUBLE_EQ(j["power_dbm"][0].get<double>(), -90.0);
    EXPECT_DOUBLE_EQ(j["duty"][3].get<double>(), 0.75);
    EXPECT_DOUBLE_EQ(j["first_bin_mhz"].get<double>(), 2453.25);
    const ParsedEvent back = RoundTrip(j.dump());
    const ChannelSpectrumRecord r = back.Spectrum();
    ASSERT_EQ(r.bins, 56u);
    ASSERT_NE(r.above_noise, nullptr);
    for (int i = 0; i < 56; ++i) {
        EXPECT_NEAR(r.db_below_mw[i], bins[i], 0.051);  // 0.1 dB resolution
        EXPECT_EQ(r.above_noise[i], above[i]);
    }
    EXPECT_EQ(r.card_time_us, 4294967296ULL);

    s.above_noise = nullptr;
    EXPECT_TRUE(json::parse(ChannelSpectrumJson(s, kStamp))["duty"].is_null());

    ChannelUtilisationRecord u;
    u.survey_text = "busy \"scan\" 41 ms\n\xff\xfe \xc0\xaf \xed\xa0\x80 \x01 tail";
    u.host_s = 1700000000;
    const std::string text = ChannelUtilisationJson(u, kStamp);
    const ParsedEvent survey = RoundTrip(text);
    EXPECT_EQ(survey.utilisation.survey_text.substr(0, 18), "busy \"scan\" 41 ms\n");
    EXPECT_NE(survey.utilisation.survey_text.find("\xef\xbf\xbd"), std::string::npos);
    EXPECT_TRUE(json::parse(text)["freq_mhz"].is_null());
}

TEST(EventJson, ClassNamesAndLabels) {
    for (const PulseType t : {PULSE_ANALOGPHONE, PULSE_ZIGBEE, PULSE_VIDEOCAM, PULSE_UNK_HIGHDUTY,
                              PULSE_XBOX, PULSE_FHSSPHONE_LOW, PULSE_FHSSPHONE_HIGH,
                              PULSE_BLUETOOTH, PULSE_BLUETOOTH_SCO, PULSE_MWO, PULSE_UNK_FH}) {
        PulseType back = PULSE_NONE;
        ASSERT_TRUE(PulseTypeFromName(RssiPulse::getClassification(t), &back));
        EXPECT_EQ(back, t);
        EXPECT_EQ(DeviceLabel(t).find('_'), std::string::npos) << DeviceLabel(t);
    }
    PulseType t;
    EXPECT_FALSE(PulseTypeFromName("Toaster", &t));
    EXPECT_TRUE(IsValidSensorName("lab-2.north_wall"));
    for (const char* bad : {"", "a/b", "a+", "#", "caf\xc3\xa9", " x"}) {
        EXPECT_FALSE(IsValidSensorName(bad)) << bad;
    }
}

TEST(EventJson, MalformedFeedsAreRejected) {
    json good = json::parse(DeviceEventJson(MicrowaveOn2437(), kStamp));
    auto with = [&good](const char* key, const json& value) {
        json j = good;
        j[key] = value;
        return j.dump();
    };
    float bins[56] = {};
    ChannelSpectrumRecord s = SpectrumRecord(2412.0f, 10, bins, 55);
    const std::vector<std::string> bad = {
        "",
        "[1,2]",
        "{\"type\":\"device\"",
        "null",
        with("type", "toaster"),
        with("type", 7),
        with("sensor", "a/b"),
        with("sensor", std::string(65, 'a')),
        with("class", "Toaster"),
        with("bins", json({10, 30, 56})),
        with("bins", json({10, -1, 20})),
        with("bins", json({10, 30})),
        with("first_seen", -5),
        with("first_seen", 1e300),
        with("power_dbm", "loud"),
        with("index", 1.5),
        with("hopper", 1),
        with("host_time", -1),
        ChannelSpectrumJson(s, kStamp),  // 55 bins
    };
    for (const std::string& text : bad) {
        ParsedEvent e;
        std::string error;
        EXPECT_FALSE(ParseEventJson(text, &e, &error)) << text;
        EXPECT_FALSE(error.empty());
    }
    s.bins = 56;
    json spectrum = json::parse(ChannelSpectrumJson(s, kStamp));
    spectrum["duty"] = std::vector<double>(56, 1.5);
    ParsedEvent e;
    EXPECT_FALSE(ParseEventJson(spectrum.dump(), &e, nullptr));
}
