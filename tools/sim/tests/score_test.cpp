// The scorer must fail a run that missed a device, announced a false one
// (wrong class or wrong place in the band) or ended a device still on the
// air, place the daemon's events in scenario time, and give the same verdict
// from the event datagrams and from the output log of one run.
#include "score.h"

#include <gtest/gtest.h>

#include "scenarios.h"

namespace {

constexpr int64_t kEpoch = sim::SIM_EPOCH_S;

std::string HopperEvent(const std::string& index, const std::string& name,
                        int64_t host_start = kEpoch + 4) {
    return "event: devices\r\ndata: { \"dev\": [\"" + index + "\",\"" + name + "\",\"" +
           std::to_string(host_start) +
           "\",\"1700000010\",\"6\",\"-50.00\",\"0\",\"Freq Hopper\",\"1\"]}\n\n";
}

std::string FixedEvent(const std::string& name, int64_t host_start, const std::string& cfreq,
                       const std::string& bins) {
    return "event: devices\r\ndata: { \"dev\": [\"1\",\"" + name + "\",\"" +
           std::to_string(host_start) + "\",\"1700000010\",\"3\",\"-55.00\",\"" + cfreq + "\",\"" +
           bins + "\",\"1\"]}\n\n";
}

std::string EndedEvent(const std::string& name, int64_t host_start) {
    return "event: devices\r\ndata: { \"dev\": [\"0\",\"" + name + "\",\"" +
           std::to_string(host_start) + "\",\"0\",\"0\",\"0\",\"0\",\"0\",\"0\"]}\n\n";
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

uint64_t At(const sim::Truth& t, double s) {
    return t.card_start_tsf + static_cast<uint64_t>(s * 1e6);
}

TEST(ParseTruth, ReadsWhatTheGeneratorWritesAndRejectsWrongTypes) {
    const sim::Truth t = TruthOf("switch-off");
    EXPECT_EQ(t.scenario, "switch-off");
    EXPECT_EQ(t.duration_s, 45.0);
    EXPECT_EQ(t.epoch_s, kEpoch);
    EXPECT_EQ(t.card_start_tsf, 1000000u);
    EXPECT_EQ(t.sample_interval_us, 57.0);
    ASSERT_EQ(t.devices.size(), 1u);
    EXPECT_EQ(t.devices[0].name, "Bluetooth");
    EXPECT_TRUE(t.devices[0].hops);
    EXPECT_TRUE(t.devices[0].switches_off);
    EXPECT_EQ(t.devices[0].off_s, 15.0);

    const sim::Truth phone = TruthOf("analog-phone");
    ASSERT_EQ(phone.devices.size(), 1u);
    EXPECT_FALSE(phone.devices[0].hops);
    EXPECT_LT(phone.devices[0].freq_lo_mhz, 2447.0);
    EXPECT_GT(phone.devices[0].freq_hi_mhz, 2447.0);

    const sim::Truth wifi = TruthOf("wifi-light");
    ASSERT_EQ(wifi.devices.size(), 1u);
    EXPECT_FALSE(wifi.devices[0].announce);

    sim::Truth bad;
    std::string error;
    for (const char* text :
         {"{\"devices\": [", "[1, 2]", "{\"duration_s\": \"30\", \"devices\": []}",
          "{\"devices\": [{\"on_s\": true}]}", "{\"devices\": [7]}",
          "{\"epoch_s\": -5, \"devices\": []}", "{}"}) {
        error.clear();
        EXPECT_FALSE(sim::ParseTruth(text, &bad, &error)) << text;
        EXPECT_FALSE(error.empty()) << text;
    }
}

TEST(AnnouncedBand, BinsAreCountedFromTheSubbandCentre) {
    // Bin 28 is centred on band_cfreq; each bin is 312.5 kHz wide.
    const auto one = sim::AnnouncedBandMhz(2442.0, 44, 44);
    EXPECT_DOUBLE_EQ(one.first, 2446.84375);
    EXPECT_DOUBLE_EQ(one.second, 2447.15625);
    const auto whole = sim::AnnouncedBandMhz(2437.0, 0, 55);
    EXPECT_DOUBLE_EQ(whole.second - whole.first, 56 * 0.3125);
    EXPECT_DOUBLE_EQ((whole.first + whole.second) / 2, 2437.0 - 0.5 * 0.3125);
}

TEST(Score, HoppersAreMatchedByClass) {
    const sim::Truth t = TruthOf("bt-voice");
    const uint64_t at_8s = At(t, 8);
    sim::ScoreReport r =
        sim::Score(t, sim::ObservationsFromEvents(
                          {ChannelEvent(at_8s), HopperEvent("1", "Bluetooth_Streaming")}, t));
    EXPECT_TRUE(r.Passed());
    ASSERT_EQ(r.rows.size(), 1u);
    EXPECT_NEAR(r.rows[0].announced_s, 8.0, 1e-6);
    EXPECT_NEAR(r.rows[0].seen_s, 10.0, 1e-6) << "host start 4 s plus the tracker's 6 s";

    // Nothing announced: missed.
    r = sim::Score(t, sim::ObservationsFromEvents({ChannelEvent(at_8s)}, t));
    EXPECT_FALSE(r.Passed());
    EXPECT_EQ(r.missed, 1);

    // Wrong class: missed and false.
    r = sim::Score(
        t, sim::ObservationsFromEvents({ChannelEvent(at_8s), HopperEvent("1", "Bluetooth")}, t));
    EXPECT_EQ(r.missed, 1);
    EXPECT_EQ(r.false_devices, 1);
    EXPECT_NE(sim::FormatReport(t, r).find("FAIL"), std::string::npos);

    // Right class plus an extra device announced twice: one false row.
    r = sim::Score(t, sim::ObservationsFromEvents(
                          {ChannelEvent(at_8s), HopperEvent("1", "Bluetooth_Streaming"),
                           FixedEvent("Microwave_Oven", kEpoch + 5, "2452.00", "0,28,55"),
                           FixedEvent("Microwave_Oven", kEpoch + 5, "2452.00", "0,28,55")},
                          t));
    EXPECT_EQ(r.missed, 0);
    EXPECT_EQ(r.false_devices, 1);
    EXPECT_EQ(r.rows.back().records, 1);
    EXPECT_EQ(r.rows.back().model, "");

    // Idle: nothing expected, nothing announced.
    const sim::Truth idle = TruthOf("idle");
    EXPECT_TRUE(
        sim::Score(idle, sim::ObservationsFromEvents({ChannelEvent(At(idle, 1))}, idle)).Passed());
    EXPECT_FALSE(
        sim::Score(idle, sim::ObservationsFromEvents(
                             {FixedEvent("Zigbee", kEpoch + 3, "2437.00", "20,28,34")}, idle))
            .Passed());
}

TEST(Score, FixedDevicesMustBeAnnouncedWhereTheyAre) {
    const sim::Truth t = TruthOf("analog-phone");  // carrier at 2447 MHz
    const auto score = [&](const std::string& cfreq, const std::string& bins) {
        return sim::Score(
            t,
            sim::ObservationsFromEvents(
                {ChannelEvent(At(t, 3)), FixedEvent("Analog_Phone", kEpoch + 1, cfreq, bins)}, t));
    };
    // Bin 44 of the 2442 MHz subband is 2447 MHz.
    EXPECT_TRUE(score("2442.00", "43,44,45").Passed());
    EXPECT_TRUE(score("2452.00", "11,12,13").Passed());
    // The right class 30 MHz away is a false device, and the phone is missed.
    const sim::ScoreReport wrong = score("2412.00", "43,44,45");
    EXPECT_FALSE(wrong.Passed());
    EXPECT_EQ(wrong.missed, 1);
    EXPECT_EQ(wrong.false_devices, 1);
    const std::string text = sim::FormatReport(t, wrong);
    EXPECT_NE(text.find("FALSE"), std::string::npos) << text;
    EXPECT_NE(text.find("2416.5-2417.5"), std::string::npos) << "the announced band is shown\n"
                                                             << text;
    // One bin off the edge still misses a carrier narrower than a bin.
    EXPECT_FALSE(score("2442.00", "46,47,48").Passed());
    // Malformed bins are not read as a band anywhere.
    const sim::ScoreReport junk = score("2442.00", "43;44");
    EXPECT_EQ(junk.missed, 1);
    EXPECT_NE(sim::FormatReport(t, junk).find("could not be read"), std::string::npos);
}

TEST(Score, EndsOfDevices) {
    const sim::Truth t = TruthOf("switch-off");  // Bluetooth data link off at 15 s
    const int64_t start = kEpoch + 2;
    // Announced at 8 s, ended at 24 s: 9 s after switch-off.
    std::vector<std::string> events = {ChannelEvent(At(t, 8)), HopperEvent("1", "Bluetooth", start),
                                       ChannelEvent(At(t, 24)), EndedEvent("Bluetooth", start)};
    sim::ScoreReport r = sim::Score(t, sim::ObservationsFromEvents(events, t));
    EXPECT_TRUE(r.Passed()) << sim::FormatReport(t, r);
    ASSERT_EQ(r.rows.size(), 1u);
    EXPECT_TRUE(r.rows[0].end_detected);
    EXPECT_NEAR(r.rows[0].end_delay_s, 9.0, 1e-6);

    // Never ended: the end is missed, which fails the run.
    events.pop_back();
    r = sim::Score(t, sim::ObservationsFromEvents(events, t));
    EXPECT_EQ(r.missed_ends, 1);
    EXPECT_FALSE(r.Passed());

    // Ended at 10 s while still transmitting, announced again later: an
    // early end fails the run even though the final end is right.
    const int64_t again = kEpoch + 12;
    r = sim::Score(t, sim::ObservationsFromEvents(
                          {ChannelEvent(At(t, 8)), HopperEvent("1", "Bluetooth", start),
                           ChannelEvent(At(t, 10)), EndedEvent("Bluetooth", start),
                           ChannelEvent(At(t, 12)), HopperEvent("1", "Bluetooth", again),
                           ChannelEvent(At(t, 22)), EndedEvent("Bluetooth", again)},
                          t));
    EXPECT_EQ(r.early_ends, 1);
    EXPECT_EQ(r.rows[0].records, 2);
    EXPECT_FALSE(r.Passed());
    EXPECT_NE(sim::FormatReport(t, r).find("(1 early)"), std::string::npos);

    // A device that never switches off must never be ended.
    const sim::Truth phone = TruthOf("analog-phone");
    r = sim::Score(phone, sim::ObservationsFromEvents(
                              {ChannelEvent(At(phone, 3)),
                               FixedEvent("Analog_Phone", kEpoch + 1, "2442.00", "43,44,45"),
                               ChannelEvent(At(phone, 20)), EndedEvent("Analog_Phone", kEpoch + 1)},
                              phone));
    EXPECT_EQ(r.early_ends, 1);
    EXPECT_FALSE(r.Passed());
}

TEST(Score, EventsAndLogOfOneRunAgree) {
    const sim::Truth t = TruthOf("analog-phone-switch-off");  // 2447 MHz, off at 15 s
    // What the daemon printed for one run (its output log line is real).
    const std::vector<std::string> events = {
        ChannelEvent(At(t, 3.2)), FixedEvent("Analog_Phone", kEpoch + 1, "2442.00", "43,44,45"),
        ChannelEvent(At(t, 22.6)), EndedEvent("Analog_Phone", kEpoch + 1)};
    const std::string log =
        "fixed inactive gt: Fixed: 1700000023 2023-11-14 22:13:43 1 2442 43 44 45 1700000001 "
        "1700000015 14 -56\n";
    const sim::ScoreReport from_events = sim::Score(t, sim::ObservationsFromEvents(events, t));
    const sim::ScoreReport from_log = sim::Score(t, sim::ObservationsFromLog(log, t));
    ASSERT_EQ(from_events.rows.size(), 1u);
    ASSERT_EQ(from_log.rows.size(), 1u);
    EXPECT_TRUE(from_events.Passed());
    EXPECT_TRUE(from_log.Passed());
    EXPECT_EQ(from_log.rows[0].seen_s, from_events.rows[0].seen_s);
    EXPECT_EQ(from_log.rows[0].records, from_events.rows[0].records);
    EXPECT_TRUE(from_log.rows[0].end_detected);
    EXPECT_NEAR(from_log.rows[0].end_delay_s, from_events.rows[0].end_delay_s, 1.0);
    EXPECT_EQ(from_log.rows[0].announced_s, -1) << "a log does not say when it was announced";

    // The same log under the wrong frequency fails like the events would.
    std::string shifted = log;
    shifted.replace(shifted.find(" 2442 "), 6, " 2412 ");
    EXPECT_EQ(sim::Score(t, sim::ObservationsFromLog(shifted, t)).false_devices, 1);

    // A device still on the air at the end is never logged: not judged,
    // and said so, rather than missed.
    const sim::Truth phone = TruthOf("analog-phone");
    const sim::ScoreReport unlogged = sim::Score(phone, sim::ObservationsFromLog("", phone));
    EXPECT_EQ(unlogged.missed, 0);
    EXPECT_EQ(unlogged.not_judged, 1);
    EXPECT_NE(sim::FormatReport(phone, unlogged).find("NOT LOGGED"), std::string::npos);

    // Garbage lines are counted, not read.
    const sim::Observations junk = sim::ObservationsFromLog(
        "fixed inactive gt: Fixed: x y z\nfhss inactive gt: FreqHop: 1 2 3 999999999 2400 4 28 55 "
        "1 2 3 4\n",
        t);
    EXPECT_EQ(junk.unreadable, 2);
    EXPECT_TRUE(junk.records.empty());
}

TEST(Score, DevicesTheCardCannotSeeAreReportedNotFailed) {
    EXPECT_TRUE(sim::InView(2404.0, 2406.0));
    EXPECT_TRUE(sim::InView(2469.0, 2471.0));
    EXPECT_FALSE(sim::InView(2479.0, 2481.0));  // Zigbee channel 26
    EXPECT_FALSE(sim::InView(2390.0, 2402.0));
    sim::Truth t = TruthOf("zigbee-ch23");
    ASSERT_EQ(t.devices.size(), 1u);
    t.devices[0].freq_lo_mhz = 2479.0;
    t.devices[0].freq_hi_mhz = 2481.0;
    const sim::ScoreReport r =
        sim::Score(t, sim::ObservationsFromEvents({ChannelEvent(At(t, 1))}, t));
    EXPECT_TRUE(r.Passed());
    EXPECT_EQ(r.out_of_view, 1);
    EXPECT_NE(sim::FormatReport(t, r).find("OUT OF VIEW"), std::string::npos);
}

TEST(Score, NoEventsAtAllIsNotAScore) {
    const sim::Truth t = TruthOf("bt-voice");
    const sim::ScoreReport r = sim::Score(t, sim::ObservationsFromEvents({}, t));
    EXPECT_TRUE(r.no_data);
    EXPECT_FALSE(r.Passed());
    EXPECT_EQ(r.missed, 0);
    EXPECT_NE(sim::FormatReport(t, r).find("NO DATA"), std::string::npos);
}

TEST(Score, UndoesTheCardClockWrap) {
    const sim::Truth t = TruthOf("clock-wrap");
    ASSERT_TRUE(t.clock_wrap);
    // 5 s in, the 32-bit counter wraps; 9 s in it reads 4 s.
    const sim::Observations obs =
        sim::ObservationsFromEvents({ChannelEvent(t.card_start_tsf + 4000000),
                                     ChannelEvent(4000000), HopperEvent("1", "Bluetooth")},
                                    t);
    ASSERT_EQ(obs.records.size(), 1u);
    EXPECT_NEAR(obs.records[0].announced_s, 9.0, 1e-6);
}

TEST(EscapeDatagram, RoundTripsEventFraming) {
    const std::string d = "event: channel\r\ndata:{ \\x }\r\n\n";
    const std::string line = sim::EscapeDatagram(d);
    EXPECT_EQ(line.find('\n'), std::string::npos);
    EXPECT_EQ(sim::UnescapeDatagram(line), d);
}

}  // namespace
