#include "ui_event_parser.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace tessaron_ui {
namespace {

std::string DevicesText(const std::string& fields) {
    return "event: devices\r\ndata: { \"dev\": [" + fields + "]}\n\n";
}

std::string ChannelText(const std::string& bins, const std::string& tail) {
    return "event: channel\r\ndata:{ \"ch\": [" + bins + "]," + tail + "}\r\n\n";
}

std::string Bins(int count, int value) {
    std::string out;
    for (int i = 0; i < count; ++i) {
        out += (i > 0 ? "," : "") + std::to_string(value + i % 7);
    }
    return out;
}

std::string UtilText(const std::string& survey, const std::string& timestamp = "1700000000") {
    return "event: channel_util_info\r\ndata: { \"channel_util_str\": \"" + survey +
           "\", \"timestamp\": " + timestamp + "}\r\n\n";
}

UiEvent MustParse(const std::string& text) {
    UiEvent event;
    std::string error;
    EXPECT_TRUE(ParseUiEvent(text, &event, &error)) << error << " in: " << text;
    return event;
}

TEST(DeviceEventTest, ReadsHopperFixedAndEndedDevices) {
    const UiEvent hopper = MustParse(DevicesText(
        "\"1\",\"Bluetooth_Streaming\",\"1700000000\",\"1700000006\",\"6\",\"-61.50\",\"0\","
        "\"Freq Hopper\",\"1\""));
    EXPECT_EQ(UiEventKind::Device, hopper.type);
    EXPECT_EQ(1, hopper.device.index);
    EXPECT_EQ(PULSE_BLUETOOTH_SCO, hopper.device.classification);
    EXPECT_EQ(1700000000, hopper.device.first_seen_s);
    EXPECT_EQ(1700000006, hopper.device.last_seen_s);
    EXPECT_EQ(6, hopper.device.duration_s);
    EXPECT_FLOAT_EQ(-61.5f, hopper.device.power_dbm);
    EXPECT_TRUE(hopper.device.hopper);

    const UiEvent fixed = MustParse(DevicesText(
        "\"2\",\"Microwave_Oven\",\"100\",\"104\",\"4\",\"-40.25\",\"2437.00\",\"0,28,55\",\"1\""));
    EXPECT_FALSE(fixed.device.hopper);
    EXPECT_FLOAT_EQ(2437.0f, fixed.device.band_cfreq_mhz);
    EXPECT_EQ(0, fixed.device.start_bin);
    EXPECT_EQ(28, fixed.device.center_bin);
    EXPECT_EQ(55, fixed.device.end_bin);

    const UiEvent ended = MustParse(
        DevicesText("\"0\",\"Microwave_Oven\",\"100\",\"0\",\"0\",\"0\",\"0\",\"0\",\"0\""));
    EXPECT_EQ(DeviceEventRecord::Kind::Ended, ended.device.kind);
    EXPECT_EQ(PULSE_MWO, ended.device.classification);
    EXPECT_EQ(100, ended.device.first_seen_s);
}

TEST(ChannelEventTest, ReadsBinsTimeAndFrequency) {
    const UiEvent event =
        MustParse(ChannelText(Bins(56, 80), "\"timestamp\":123456789012,\"freq\": 2442.00"));
    EXPECT_EQ(UiEventKind::Spectrum, event.type);
    ASSERT_EQ(56u, event.db_below_mw.size());
    EXPECT_EQ(80.0f, event.db_below_mw[0]);
    EXPECT_EQ(86.0f, event.db_below_mw[6]);
    EXPECT_EQ(123456789012ull, event.card_time_us);
    EXPECT_FLOAT_EQ(2442.0f, event.freq_mhz);
}

TEST(ChannelUtilEventTest, KeepsTheRawSurveyTextWhateverItHolds) {
    EXPECT_EQ("busy 10\nrx 3", MustParse(UtilText("busy 10\nrx 3")).utilisation.survey_text);
    EXPECT_EQ("", MustParse(UtilText("")).utilisation.survey_text);
    // Quotes and even a fake timestamp key inside the unescaped survey text.
    const UiEvent tricky =
        MustParse(UtilText("chan \"6\", \"timestamp\": 5, busy \"x\"", "1700000123"));
    EXPECT_EQ("chan \"6\", \"timestamp\": 5, busy \"x\"", tricky.utilisation.survey_text);
    EXPECT_EQ(1700000123, tricky.utilisation.host_s);
    EXPECT_EQ("\"", MustParse(UtilText("\"")).utilisation.survey_text);
}

TEST(MalformedEventTest, RejectsBrokenTextsWithAReason) {
    const std::vector<std::string> bad = {
        "",
        "garbage",
        "event: devices",
        "event: devices\r\nnodata",
        "event: unknown\r\ndata: {}\n\n",
        DevicesText("\"1\",\"Bluetooth\",\"1\",\"2\",\"1\",\"-60\",\"0\",\"Freq Hopper\""),
        DevicesText("\"1\",\"Bluetooth\",\"1\",\"2\",\"1\",\"-60\",\"0\",\"Freq Hopper\",\"1\","
                    "\"1\""),
        DevicesText("\"x\",\"Bluetooth\",\"1\",\"2\",\"1\",\"-60\",\"0\",\"Freq Hopper\",\"1\""),
        DevicesText("\"1\",\"Bluetooth\",\"1\",\"2\",\"1\",\"nan\",\"0\",\"Freq Hopper\",\"1\""),
        DevicesText("\"1\",\"Blue\ntooth\",\"1\",\"2\",\"1\",\"-60\",\"0\",\"Freq Hopper\",\"1\""),
        DevicesText("\"1\",\"\",\"1\",\"2\",\"1\",\"-60\",\"0\",\"Freq Hopper\",\"1\""),
        DevicesText("\"1\",\"Microwave_Oven\",\"1\",\"2\",\"1\",\"-60\",\"2437\",\"0,28\",\"1\""),
        DevicesText("\"1\",\"Microwave_Oven\",\"1\",\"2\",\"1\",\"-60\",\"2437\",\"0,-1,5\",\"1\""),
        DevicesText("\"1\",\"Bluetooth\",\"1\",\"2\",\"1\",\"-60\",\"0\",\"Freq Hopper,\"1\""),
        // A class no daemon announces, and bins beyond the subband's 56.
        DevicesText("\"1\",\"Toaster\",\"1\",\"2\",\"1\",\"-60\",\"0\",\"Freq Hopper\",\"1\""),
        DevicesText(
            "\"1\",\"Microwave_Oven\",\"1\",\"2\",\"1\",\"-60\",\"2437\",\"0,28,56\",\"1\""),
        "event: devices\r\ndata: { \"dev\": [\"1\",\"Bluetooth\"",
        ChannelText(Bins(55, 80), "\"timestamp\":1,\"freq\": 2412.00"),
        ChannelText(Bins(57, 80), "\"timestamp\":1,\"freq\": 2412.00"),
        ChannelText(Bins(56, 80) + ",", "\"timestamp\":1,\"freq\": 2412.00"),
        ChannelText("80,,81", "\"timestamp\":1,\"freq\": 2412.00"),
        ChannelText(Bins(56, 80), "\"timestamp\":-1,\"freq\": 2412.00"),
        ChannelText(Bins(56, 80), "\"timestamp\":1,\"freq\": 5180.00"),
        ChannelText(Bins(56, 80), "\"timestamp\":1,\"freq\": inf"),
        ChannelText(Bins(56, 80), "\"timestamp\":1"),
        "event: channel_util_info\r\ndata: { \"channel_util_str\": \"busy\"}\r\n\n",
        "event: channel_util_info\r\ndata: { \"timestamp\": 5}\r\n\n",
        UtilText("busy", "soon"),
        std::string("event: devices\r\ndata: { \"dev\": [\"1\0\"]}\n\n", 33),
        std::string(kMaxDatagramBytes + 1, 'x'),
    };
    for (const std::string& text : bad) {
        UiEvent event;
        std::string error;
        EXPECT_FALSE(ParseUiEvent(text, &event, &error)) << text;
        EXPECT_FALSE(error.empty()) << text;
    }
}

TEST(BandViewTest, PlacesTheSixChannelsInTheBandFrame) {
    EXPECT_EQ(0, BandOffsetBins(2412.0));
    EXPECT_EQ(32, BandOffsetBins(2422.0));
    EXPECT_EQ(80, BandOffsetBins(2437.0));
    EXPECT_EQ(96, BandOffsetBins(2442.0));
    EXPECT_EQ(128, BandOffsetBins(2452.0));
    EXPECT_EQ(160, BandOffsetBins(2462.0));
    EXPECT_EQ(kBandBins, static_cast<size_t>(BandOffsetBins(2462.0)) + kChannelBins);
    EXPECT_DOUBLE_EQ(2437.0, NearestMonitoredCentre(2437.3));
    EXPECT_DOUBLE_EQ(0.0, NearestMonitoredCentre(2447.0));
}

}  // namespace
}  // namespace tessaron_ui
