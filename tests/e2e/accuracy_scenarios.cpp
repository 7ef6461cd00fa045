// Accuracy of the daemon on the simulator's catalogue: each scenario is
// generated, replayed through the real binary with a UI listener, and scored
// against its ground truth. Scenarios the daemon cannot get right from an
// honest model are pinned to their current outcome and reported as skipped
// with the reason, so a change in either direction is noticed.
#include <gtest/gtest.h>

#include <set>

#include "capture_file.h"
#include "daemon_process.h"
#include "scenarios.h"
#include "score.h"

namespace {

struct Case {
    const char* scenario;
    // Known limitation: the classes missed and the classes falsely
    // announced today, and why. Both empty: the run must pass outright.
    std::set<std::string> missed;
    std::set<std::string> false_names;
    const char* reason;
};

std::ostream& operator<<(std::ostream& out, const Case& c) {
    return out << c.scenario;
}

const char kHopperMicrowave[] =
    "hopper packet pairs inside one channel view (>= 10 readings, one frequency step) pass the "
    "drift test, so MIN_MWO_DRIFT_INSTANCES (2) is met and a Microwave_Oven is announced";

const Case kCases[] = {
    {"idle", {}, {}, ""},
    {"wifi-light", {}, {}, ""},
    {"wifi-heavy", {}, {}, ""},
    {"analog-phone", {}, {}, ""},
    {"unknown-continuous", {}, {}, ""},
    {"zigbee", {}, {}, ""},
    {"analog-phone-switch-off", {}, {}, ""},
    {"demo", {}, {}, ""},
    {"bt-voice-microwave", {}, {}, ""},
    {"bt-voice", {}, {"Microwave_Oven"}, kHopperMicrowave},
    {"bt-data", {}, {"Microwave_Oven"}, kHopperMicrowave},
    {"fhss-phone", {}, {"Microwave_Oven"}, kHopperMicrowave},
    {"switch-off", {}, {"Microwave_Oven"}, kHopperMicrowave},
    {"clock-wrap", {}, {"Microwave_Oven"}, kHopperMicrowave},
    {"fhss-phone-analog-phone", {}, {"Microwave_Oven"}, kHopperMicrowave},
    {"microwave",
     {"Microwave_Oven"},
     {},
     "0-1 drifting on-phases per subband (FM jitter flickers the peak bin at bin crossings; "
     "needs 2) and rising runs of ~70 readings against the 27-61 sweep window"},
    {"video-sender",
     {"Video_Camera"},
     {"Unknown_High_Duty_Device"},
     "shape angle to the stored video signatures 0.0064-0.0070 rad, the rule allows 0.005"},
    {"xbox",
     {"XBOX_Console"},
     {},
     "40-44 pulses of exactly 227/228/342/343 us per window against MIN_XBOX_PULSES 75"},
    {"zigbee-quiet",
     {"Zigbee"},
     {},
     "2% airtime gives ~26 ms per channel view per window against MIN_ZIGBEE_TIMESLICES 55 ms"},
};

class Accuracy : public ::testing::TestWithParam<Case> {};

TEST_P(Accuracy, Scenario) {
    const Case& c = GetParam();
    DaemonProcess daemon;
    auto scenario = sim::BuildScenario(c.scenario, 1);
    ASSERT_NE(scenario, nullptr);
    sim::CardConfig card;
    const std::string pcap_path = daemon.Dir() + "/scenario.pcap";
    {
        sim::PcapFile pcap;
        ASSERT_TRUE(pcap.Open(pcap_path));
        sim::RunScenario(*scenario, card, 1,
                         [&pcap](const uint8_t* wire, size_t len, int64_t sec, int64_t usec) {
                             return pcap.WriteUdp(wire, len, sec, usec);
                         });
        ASSERT_TRUE(pcap.Close());
    }
    sim::Truth truth;
    std::string error;
    ASSERT_TRUE(sim::ParseTruth(sim::TruthJson(*scenario, card, 1), &truth, &error)) << error;

    EventCollector events;
    daemon.Start({"--ui", events.Address(), "--replay", pcap_path,
                  std::string(TESSARON_SOURCE_DIR) + "/data/signatures.txt", "output.txt",
                  "energy.txt"});
    const int status = daemon.Wait();
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << daemon.Stderr();
    events.Settle(300);

    const sim::ScoreReport report =
        sim::Score(truth, sim::ObservationsFromEvents(events.Events(), truth));
    const std::string table = sim::FormatReport(truth, report);
    std::set<std::string> missed, false_names;
    for (const sim::ScoreRow& r : report.rows) {
        if (r.present && !r.detected) {
            missed.insert(r.name);
        }
        if (!r.present) {
            false_names.insert(r.name);
        }
        if (r.present && r.detected && r.needs_end) {
            EXPECT_TRUE(r.end_detected) << r.name << " switched off but never ended\n" << table;
        }
    }
    EXPECT_EQ(missed, c.missed) << table;
    EXPECT_EQ(false_names, c.false_names) << table;
    if (!c.missed.empty() || !c.false_names.empty()) {
        GTEST_SKIP() << "known limitation: " << c.reason << "\n" << table;
    }
    EXPECT_TRUE(report.Passed()) << table;
}

INSTANTIATE_TEST_SUITE_P(Catalogue, Accuracy, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<Case>& info) {
                             std::string name = info.param.scenario;
                             for (char& ch : name) {
                                 ch = isalnum(static_cast<unsigned char>(ch)) ? ch : '_';
                             }
                             return name;
                         });

}  // namespace
