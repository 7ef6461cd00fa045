// The scorer must fail a run that missed a device or announced a false one,
// and place the daemon's events in scenario time.
#include "score.h"

#include <gtest/gtest.h>

#include "scenarios.h"

namespace {

std::string DeviceEvent(const std::string& index, const std::string& name) {
    return "event: devices\r\ndata: { \"dev\": [\"" + index + "\",\"" + name +
           "\",\"1700000004\",\"1700000010\",\"6\",\"-50.00\",\"0\",\"Freq Hopper\",\"1\"]}\n\n";
}

std::string ChannelEvent(uint64_t card_ts) {
    return "event: channel\r\ndata:{ \"ch\": [95,95],\"timestamp\":" + std::to_string(card_ts) +
           ",\"freq\": 2437.00}\r\n\n";
}

sim::Truth TruthOf(const std::string& scenario) {
    auto s = sim::BuildScenario(scenario, 1);
    sim::CardConfig card;
    sim::Truth truth;
    std::string error;
    EXPECT_TRUE(sim::ParseTruth(sim::TruthJson(*s, card, 1), &truth, &error)) << error;
    return truth;
}

TEST(ParseTruth, ReadsWhatTheGeneratorWrites) {
    const sim::Truth t = TruthOf("switch-off");
    EXPECT_EQ(t.scenario, "switch-off");
    EXPECT_EQ(t.duration_s, 45.0);
    EXPECT_EQ(t.epoch_s, sim::SIM_EPOCH_S);
    EXPECT_EQ(t.card_start_tsf, 1000000u);
    ASSERT_EQ(t.devices.size(), 1u);
    EXPECT_EQ(t.devices[0].name, "Bluetooth");
    EXPECT_TRUE(t.devices[0].switches_off);
    EXPECT_EQ(t.devices[0].off_s, 15.0);

    const sim::Truth wifi = TruthOf("wifi-light");
    ASSERT_EQ(wifi.devices.size(), 1u);
    EXPECT_FALSE(wifi.devices[0].announce);

    sim::Truth bad;
    std::string error;
    EXPECT_FALSE(sim::ParseTruth("{\"devices\": [", &bad, &error));
    EXPECT_FALSE(error.empty());
    EXPECT_FALSE(sim::ParseTruth("[1, 2]", &bad, &error));
}

TEST(Score, PassesFailsOnMissedAndOnFalseDevices) {
    const sim::Truth t = TruthOf("bt-voice");
    const uint64_t at_8s = t.card_start_tsf + 8000000;
    // Right class announced: pass, first announcement at 8 s.
    auto obs = sim::ObservationsFromEvents(
        {ChannelEvent(at_8s), DeviceEvent("1", "Bluetooth_Streaming")}, t);
    sim::ScoreReport r = sim::Score(t, obs);
    EXPECT_TRUE(r.Passed());
    ASSERT_EQ(r.rows.size(), 1u);
    EXPECT_NEAR(r.rows[0].first_s, 8.0, 1e-6);

    // Nothing announced: missed.
    r = sim::Score(t, sim::ObservationsFromEvents({ChannelEvent(at_8s)}, t));
    EXPECT_FALSE(r.Passed());
    EXPECT_EQ(r.missed, 1);

    // Wrong class: missed and false.
    r = sim::Score(t, sim::ObservationsFromEvents({DeviceEvent("1", "Bluetooth")}, t));
    EXPECT_EQ(r.missed, 1);
    EXPECT_EQ(r.false_devices, 1);
    EXPECT_NE(sim::FormatReport(t, r).find("FAIL"), std::string::npos);

    // Right class plus an extra one.
    r = sim::Score(t, sim::ObservationsFromEvents(
                          {DeviceEvent("1", "Bluetooth_Streaming"),
                           DeviceEvent("2", "Microwave_Oven"), DeviceEvent("2", "Microwave_Oven")},
                          t));
    EXPECT_EQ(r.missed, 0);
    EXPECT_EQ(r.false_devices, 1);
    EXPECT_EQ(r.rows.back().false_events, 2);

    // Idle: nothing expected, nothing announced.
    const sim::Truth idle = TruthOf("idle");
    EXPECT_TRUE(sim::Score(idle, {}).Passed());
    EXPECT_FALSE(
        sim::Score(idle, sim::ObservationsFromEvents({DeviceEvent("1", "Zigbee")}, idle)).Passed());
}

TEST(Score, EndOfASwitchedOffDevice) {
    const sim::Truth t = TruthOf("switch-off");
    const auto ts = [&](double s) { return t.card_start_tsf + static_cast<uint64_t>(s * 1e6); };
    // An end while the device is still on counts as early, not as the end.
    auto obs = sim::ObservationsFromEvents(
        {ChannelEvent(ts(8)), DeviceEvent("1", "Bluetooth"), ChannelEvent(ts(10)),
         DeviceEvent("0", "Bluetooth"), ChannelEvent(ts(24)), DeviceEvent("0", "Bluetooth")},
        t);
    sim::ScoreReport r = sim::Score(t, obs);
    EXPECT_TRUE(r.Passed());
    ASSERT_EQ(r.rows.size(), 1u);
    EXPECT_TRUE(r.rows[0].end_detected);
    EXPECT_NEAR(r.rows[0].end_delay_s, 9.0, 1e-6);
    EXPECT_EQ(r.rows[0].early_ends, 1);

    obs.pop_back();
    r = sim::Score(t, obs);
    EXPECT_EQ(r.missed_ends, 1);
}

TEST(Score, UndoesTheCardClockWrap) {
    const sim::Truth t = TruthOf("clock-wrap");
    ASSERT_TRUE(t.clock_wrap);
    // 5 s in, the 32-bit counter wraps; 9 s in it reads 4 s.
    auto obs = sim::ObservationsFromEvents({ChannelEvent(t.card_start_tsf + 4000000),
                                            ChannelEvent(4000000), DeviceEvent("1", "Bluetooth")},
                                           t);
    ASSERT_EQ(obs.size(), 1u);
    EXPECT_NEAR(obs[0].at_s, 9.0, 1e-6);
}

TEST(EscapeDatagram, RoundTripsEventFraming) {
    const std::string d = "event: channel\r\ndata:{ \\x }\r\n\n";
    const std::string line = sim::EscapeDatagram(d);
    EXPECT_EQ(line.find('\n'), std::string::npos);
    EXPECT_EQ(sim::UnescapeDatagram(line), d);
}

TEST(ObservationsFromLog, ReadsEndedDevices) {
    const sim::Truth t = TruthOf("bt-voice");
    const std::string log =
        "fhss inactive gt: FreqHop: 1700000030 2023-11-14 22:13:50 108 2400 40 28 55 "
        "1700000004 1700000025 21 -55.2\n";
    const auto obs = sim::ObservationsFromLog(log, t);
    ASSERT_EQ(obs.size(), 2u);
    EXPECT_EQ(obs[0].name, "Bluetooth_Streaming");
    EXPECT_FALSE(obs[0].ended);
    EXPECT_TRUE(obs[1].ended);
    EXPECT_TRUE(sim::Score(t, obs).Passed());
}

}  // namespace
