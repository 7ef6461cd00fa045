// Accuracy of the daemon on the simulator's whole catalogue, at the card's
// three sample intervals and under both rule sets: each scenario is
// generated, replayed through the real binary with a UI listener, and scored
// against its ground truth (class and band of every device, no false device,
// no early end, every switch-off noticed).
//
// Every run must pass unless the table of known limitations below pins its
// outcome, with the reason. A pinned run must keep exactly that outcome, so a
// change in either direction is noticed; its test name ends in
// KnownLimitation. Fixing one means deleting its line.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdio>
#include <set>

#include "capture_file.h"
#include "daemon_process.h"
#include "scenarios.h"
#include "score.h"

namespace {

enum class Rules { kStandard, kRefined };
constexpr int kIntervals[] = {57, 64, 114};
constexpr int kAllIntervals = 0;

// Seconds of air per run: long enough for several scans of the band, short
// enough for the whole matrix to stay within the test budget. A scenario
// with a switch-off runs on past it for the same time.
constexpr double kRunSeconds = 12.0;

struct Limitation {
    Rules rules;
    const char* scenario;
    int interval_us;  // kAllIntervals: at every interval
    std::set<std::string> missed;
    std::set<std::string> false_names;
    bool early_end;
    const char* reason;
};

// Why the standard rules get a scenario wrong (the standard rules stay as
// they are: their output is what the golden tests guard).
const char kHopperMicrowave[] =
    "hopper packet pairs inside one channel view (>= 10 readings, one frequency step) pass the "
    "drift test, so MIN_MWO_DRIFT_INSTANCES (2) is met and a Microwave_Oven is announced";
const char kOvenDrift[] =
    "0-1 drifting on-phases per subband (FM jitter flickers the peak bin at bin crossings; needs "
    "2) and rising runs longer than the 27-61 reading sweep window; at 64 us the Bluetooth-made "
    "Microwave_Oven lies outside the oven's band";
const char kXboxExact[] =
    "pulses must last exactly 227/228/342/343 us; card-time jitter and other sample intervals "
    "leave far fewer than MIN_XBOX_PULSES (75) per window";
const char kZigbeeAirtime[] =
    "2-3% airtime gives ~26-39 ms per channel view per window against MIN_ZIGBEE_TIMESLICES 55 "
    "ms";
const char kBelowPulsePeak[] =
    "the strongest bin lies below the fixed -75 dBm pulse-peak threshold (weak or far device)";
const char kBelowHighDutyFloor[] =
    "the averaged spectrum stays below the -80 dBm high-duty floor, so no band is found; what "
    "is left of the hump can pass for Zigbee";
const char kHopperTiming[] =
    "pulse-duration and slot tests in whole microseconds tuned to 57 us sampling: at other "
    "intervals, under timing jitter or beside another device too few pulses qualify in 12 s "
    "(the FHSS phone needs 95 tagged pulses per window)";
const char kZigbeeUnderBluetooth[] =
    "Bluetooth packets crossing the Zigbee channel cut its frames, so too little Zigbee airtime "
    "qualifies; the link itself raises a Microwave_Oven (hopper pairs)";
const char kVoiceInVideo[] =
    "voice packets inside the video sender's hump are not separated from it: the link is taken "
    "for an ACL link or the sender for an unknown high-duty device";
const char kWifiHops[] =
    "OFDM frames of two networks (or of one heavy network at 114 us) seen in one channel view "
    "pass as an unknown hopper";
const char kWifiMasks[] =
    "60% Wi-Fi airtime masks the Bluetooth packets, and OFDM frames pass as hoppers and drift";
const char kCombined[] = "every class at once: the limitations above combine";
const char kVideoCutByView[] =
    "from the 2442 MHz view the ~15 MHz sender at 2450 MHz shows only its lower 24 bins (cut by "
    "the view's edge), under the 29-bin video width: that band is an Unknown_High_Duty_Device";
const char kWifiBesideAdaptiveLink[] =
    "OFDM frames of a Wi-Fi channel at 30% airtime pass as hopper pairs and oven drift (a "
    "Microwave_Oven; at 114 us a phone and Zigbee); at 57 and 64 us voice, data and phone timing "
    "all found at once make the link one Unknown_Hop_Device";
const char kZigbeeCutChannel[] =
    "channel 24 (2470 MHz) lies at bin 53.6 of the top view, whose last bin ends at 2470.6 MHz: "
    "its frames show 5 of the 6-7 bins the fixed test wants, in every view";
const char kLinkShapeAsAnalog[] =
    "no width rule: the averaged spectrum of a flat digital link (1.5 or 8 MHz) matches the "
    "analog phone's shipped shape closer than any other, and is named an Analog_Phone";
const char kVideoEdgeOfView[] =
    "the 2422 MHz view holds only the upper part of the sender at 2414 MHz, its peak in the "
    "view's first bins: that cut band is named an Unknown_High_Duty_Device";
const char kZigbeeFramesPair[] =
    "25% airtime of 1-4 ms frames on one Zigbee channel gives pairs on the FHSS phone's "
    "half-frame grid, and nothing asks a phone's pairs to spread over the band";
// The refined rules are meant to have none; these are the open cases.
const char kRefinedOpen[] =
    "open work of the refined rules: devices within ~12 dB of the noise floor, and false "
    "devices they leave";

const char kFarVoiceThreeSamples[] =
    "a 366 us voice packet sampled every 114 us is three samples; the slave answers 3 dB under "
    "the master, -85 dBm over three bins (summed, 10 dB over the noise of one bin, 5 over "
    "that of three), too little in three samples to stand clear of the noise, so too few "
    "pairs show both packets";

// The known limitations.
// clang-format off
const Limitation kLimitations[] = {
    {Rules::kStandard, "bt-data", 57, {}, {"Microwave_Oven"}, false, kHopperMicrowave},
    {Rules::kStandard, "bt-data", 64, {"Bluetooth"}, {"Microwave_Oven"}, false, kHopperTiming},
    {Rules::kStandard, "bt-data", 114, {"Bluetooth"}, {"Microwave_Oven"}, false, kHopperTiming},
    {Rules::kStandard, "bt-data-light", 57, {"Bluetooth"}, {"Bluetooth_Streaming", "Microwave_Oven"}, false, kHopperTiming},
    {Rules::kStandard, "bt-data-light", 64, {"Bluetooth"}, {"Bluetooth_Streaming", "Microwave_Oven"}, false, kHopperTiming},
    {Rules::kStandard, "bt-data-light", 114, {}, {"Microwave_Oven"}, false, kHopperMicrowave},
    {Rules::kStandard, "bt-data-jitter", 57, {}, {"Microwave_Oven"}, false, kHopperMicrowave},
    {Rules::kStandard, "bt-data-jitter", 64, {}, {"Microwave_Oven"}, false, kHopperMicrowave},
    {Rules::kStandard, "bt-data-jitter", 114, {"Bluetooth"}, {"Microwave_Oven"}, false, kHopperTiming},
    {Rules::kStandard, "bt-data-weak", kAllIntervals, {"Bluetooth"}, {}, false, kBelowPulsePeak},
    {Rules::kStandard, "bt-data-wifi-heavy", 57, {"Bluetooth"}, {"Microwave_Oven"}, false, kWifiMasks},
    {Rules::kStandard, "bt-data-wifi-heavy", 64, {"Bluetooth"}, {"Microwave_Oven", "Unknown_Hop_Device"}, false, kWifiMasks},
    {Rules::kStandard, "bt-data-wifi-heavy", 114, {"Bluetooth"}, {"Bluetooth_Streaming", "Microwave_Oven"}, false, kWifiMasks},
    {Rules::kStandard, "bt-data-zigbee", 57, {"Zigbee"}, {"Microwave_Oven"}, false, kZigbeeUnderBluetooth},
    {Rules::kStandard, "bt-data-zigbee", 64, {"Zigbee"}, {"Microwave_Oven"}, false, kZigbeeUnderBluetooth},
    {Rules::kStandard, "bt-data-zigbee", 114, {"Bluetooth"}, {"Microwave_Oven"}, false, kZigbeeUnderBluetooth},
    {Rules::kStandard, "bt-voice", 57, {}, {"Microwave_Oven"}, false, kHopperMicrowave},
    {Rules::kStandard, "bt-voice", 64, {"Bluetooth_Streaming"}, {"Bluetooth", "Microwave_Oven"}, false, kHopperTiming},
    {Rules::kStandard, "bt-voice-hv2", 57, {}, {"Microwave_Oven"}, false, kHopperMicrowave},
    {Rules::kStandard, "bt-voice-hv2", 64, {}, {"Microwave_Oven"}, false, kHopperMicrowave},
    {Rules::kStandard, "bt-voice-far-jitter", kAllIntervals, {"Bluetooth_Streaming"}, {}, false, kBelowPulsePeak},
    {Rules::kStandard, "bt-voice-microwave", 114, {"Bluetooth_Streaming"}, {}, false, kHopperTiming},
    {Rules::kStandard, "bt-voice-weak", kAllIntervals, {"Bluetooth_Streaming"}, {}, false, kBelowPulsePeak},
    {Rules::kStandard, "clock-wrap", 57, {}, {"Microwave_Oven"}, false, kHopperMicrowave},
    {Rules::kStandard, "clock-wrap", 64, {}, {"Microwave_Oven"}, false, kHopperMicrowave},
    {Rules::kStandard, "clock-wrap", 114, {"Bluetooth"}, {"Microwave_Oven"}, false, kHopperTiming},
    {Rules::kStandard, "demo", 57, {"Microwave_Oven"}, {}, false, kOvenDrift},
    {Rules::kStandard, "demo", 64, {"Microwave_Oven"}, {"Microwave_Oven"}, false, kOvenDrift},
    {Rules::kStandard, "everything", 57, {"Bluetooth_Streaming", "Microwave_Oven", "XBOX_Console", "Zigbee"}, {"Microwave_Oven"}, false, kCombined},
    {Rules::kStandard, "everything", 64, {"Bluetooth", "Bluetooth_Streaming", "FHSS_Phone_(Handset)", "Microwave_Oven", "XBOX_Console", "Zigbee"}, {"Microwave_Oven", "Unknown_Hop_Device"}, false, kCombined},
    {Rules::kStandard, "everything", 114, {"Bluetooth_Streaming", "Unknown_High_Duty_Device", "XBOX_Console", "Zigbee"}, {}, false, kCombined},
    {Rules::kStandard, "fhss-phone", 57, {"FHSS_Phone_(Handset)"}, {"Microwave_Oven"}, false, kHopperTiming},
    {Rules::kStandard, "fhss-phone", 64, {"FHSS_Phone_(Handset)"}, {"Microwave_Oven"}, false, kHopperTiming},
    {Rules::kStandard, "fhss-phone-10ms", kAllIntervals, {}, {"Microwave_Oven"}, false, kHopperMicrowave},
    {Rules::kStandard, "fhss-phone-analog-phone", 57, {}, {"Microwave_Oven"}, false, kHopperMicrowave},
    {Rules::kStandard, "fhss-phone-analog-phone", 64, {}, {"Microwave_Oven"}, false, kHopperMicrowave},
    {Rules::kStandard, "fhss-phone-jitter", 57, {}, {"Microwave_Oven"}, false, kHopperMicrowave},
    {Rules::kStandard, "fhss-phone-jitter", 64, {"FHSS_Phone_(Handset)"}, {"Microwave_Oven"}, false, kHopperTiming},
    {Rules::kStandard, "fhss-phone-weak", kAllIntervals, {"FHSS_Phone_(Handset)"}, {}, false, kBelowPulsePeak},
    {Rules::kStandard, "microwave", 57, {"Microwave_Oven"}, {}, false, kOvenDrift},
    {Rules::kStandard, "microwave", 64, {"Microwave_Oven"}, {}, false, kOvenDrift},
    {Rules::kStandard, "microwave-50hz-far", 57, {"Microwave_Oven"}, {"Zigbee"}, false, kBelowPulsePeak},
    {Rules::kStandard, "microwave-50hz-far", 64, {"Microwave_Oven"}, {}, false, kBelowPulsePeak},
    {Rules::kStandard, "microwave-50hz-far", 114, {"Microwave_Oven"}, {}, false, kBelowPulsePeak},
    {Rules::kStandard, "switch-off", 57, {}, {"Microwave_Oven"}, false, kHopperMicrowave},
    {Rules::kStandard, "switch-off", 64, {}, {"Microwave_Oven"}, false, kHopperMicrowave},
    {Rules::kStandard, "switch-off", 114, {"Bluetooth"}, {"Microwave_Oven"}, false, kHopperTiming},
    {Rules::kStandard, "unknown-continuous-weak", kAllIntervals, {"Unknown_High_Duty_Device"}, {}, false, kBelowHighDutyFloor},
    {Rules::kStandard, "video-sender-bt-voice", 57, {"Bluetooth_Streaming"}, {"Bluetooth"}, false, kVoiceInVideo},
    {Rules::kStandard, "video-sender-bt-voice", 64, {"Bluetooth_Streaming"}, {"Bluetooth"}, false, kVoiceInVideo},
    {Rules::kStandard, "video-sender-bt-voice", 114, {}, {"Unknown_High_Duty_Device"}, false, kVoiceInVideo},
    {Rules::kStandard, "video-sender-2450-narrow", kAllIntervals, {}, {"Unknown_High_Duty_Device"}, false, kVideoCutByView},
    {Rules::kStandard, "video-sender-weak", kAllIntervals, {"Video_Camera"}, {"Zigbee"}, false, kBelowHighDutyFloor},
    {Rules::kStandard, "wifi-ch1-ch11", kAllIntervals, {}, {"Unknown_Hop_Device"}, false, kWifiHops},
    {Rules::kStandard, "wifi-heavy", 114, {}, {"Unknown_Hop_Device", "Zigbee"}, false, kWifiHops},
    {Rules::kStandard, "xbox", kAllIntervals, {"XBOX_Console"}, {}, false, kXboxExact},
    {Rules::kStandard, "xbox-jitter", kAllIntervals, {"XBOX_Console"}, {}, false, kXboxExact},
    {Rules::kStandard, "xbox-weak", 64, {"XBOX_Console"}, {}, false, kBelowPulsePeak},
    {Rules::kStandard, "xbox-weak", 114, {"XBOX_Console"}, {}, false, kBelowPulsePeak},
    {Rules::kStandard, "xbox-wifi", kAllIntervals, {"XBOX_Console"}, {}, false, kXboxExact},
    {Rules::kStandard, "zigbee-ch11-weak", kAllIntervals, {"Zigbee"}, {}, false, kBelowPulsePeak},
    {Rules::kStandard, "zigbee-ch20-quiet", kAllIntervals, {"Zigbee"}, {}, false, kZigbeeAirtime},
    {Rules::kStandard, "zigbee-quiet", kAllIntervals, {"Zigbee"}, {}, false, kZigbeeAirtime},
    {Rules::kStandard, "bt-data-afh-wifi", 57, {"Bluetooth"}, {"Microwave_Oven", "Unknown_Hop_Device"}, false, kWifiBesideAdaptiveLink},
    {Rules::kStandard, "bt-data-afh-wifi", 64, {"Bluetooth"}, {"Microwave_Oven", "Unknown_Hop_Device"}, false, kWifiBesideAdaptiveLink},
    {Rules::kStandard, "bt-data-afh-wifi", 114, {}, {"FHSS_Phone_(Handset)", "Microwave_Oven", "Zigbee"}, false, kWifiBesideAdaptiveLink},
    {Rules::kStandard, "bt-esco-ev3", 57, {}, {"Microwave_Oven"}, false, kHopperMicrowave},
    {Rules::kStandard, "bt-esco-ev3", 64, {}, {"Microwave_Oven"}, false, kHopperMicrowave},
    {Rules::kStandard, "microwave-2463", 57, {"Microwave_Oven"}, {}, false, kOvenDrift},
    {Rules::kStandard, "microwave-2463", 64, {"Microwave_Oven"}, {}, false, kOvenDrift},
    {Rules::kStandard, "unknown-continuous-1.5mhz", kAllIntervals, {"Unknown_High_Duty_Device"}, {"Analog_Phone"}, false, kLinkShapeAsAnalog},
    {Rules::kStandard, "unknown-continuous-8mhz", kAllIntervals, {"Unknown_High_Duty_Device"}, {"Analog_Phone"}, false, kLinkShapeAsAnalog},
    {Rules::kStandard, "video-sender-2414", 64, {}, {"Unknown_High_Duty_Device"}, false, kVideoEdgeOfView},
    {Rules::kStandard, "zigbee-busy", kAllIntervals, {}, {"FHSS_Phone_(Handset)"}, false, kZigbeeFramesPair},
    {Rules::kStandard, "zigbee-ch24", kAllIntervals, {"Zigbee"}, {}, false, kZigbeeCutChannel},
    {Rules::kRefined, "bt-voice-far-jitter", 114, {"Bluetooth_Streaming"}, {}, false, kFarVoiceThreeSamples},
};
// clang-format on

// Growing this list must be a deliberate decision (counted in runs: one
// scenario at one interval). Grown for the model variations only (standard
// 79 -> 93, refined 19 -> 22 for the HV2 voice link; refined since down to 1;
// standard 93 -> 113 for the second round of model variations).
constexpr size_t kStandardLimitationBudget = 113;
constexpr size_t kRefinedLimitationBudget = 1;

struct Case {
    Rules rules;
    std::string scenario;
    int interval_us;
    const Limitation* limitation;  // nullptr: must pass
};

const Limitation* FindLimitation(Rules rules, const std::string& scenario, int interval_us) {
    for (const Limitation& l : kLimitations) {
        if (l.rules == rules && l.scenario == scenario &&
            (l.interval_us == kAllIntervals || l.interval_us == interval_us)) {
            return &l;
        }
    }
    return nullptr;
}

std::vector<Case> AllCases() {
    std::vector<Case> cases;
    for (const Rules rules : {Rules::kRefined, Rules::kStandard}) {
        for (const int interval : kIntervals) {
            for (const sim::ScenarioInfo& s : sim::ListScenarios()) {
                cases.push_back(
                    Case{rules, s.name, interval, FindLimitation(rules, s.name, interval)});
            }
        }
    }
    return cases;
}

std::string TestName(const Case& c) {
    std::string name = std::string(c.rules == Rules::kStandard ? "Standard_" : "Refined_") +
                       std::to_string(c.interval_us) + "us_" + c.scenario;
    for (char& ch : name) {
        ch = isalnum(static_cast<unsigned char>(ch)) ? ch : '_';
    }
    return c.limitation != nullptr ? name + "_KnownLimitation" : name;
}

std::ostream& operator<<(std::ostream& out, const Case& c) {
    return out << TestName(c);
}

// The capture of a scenario at one interval is the same for both rule sets:
// the first run writes it to the shared directory, the other reads it, and
// whichever finishes second removes it.
std::string SharedCapture(const Case& c, const sim::CardConfig& card, sim::Truth* truth) {
    auto scenario = sim::BuildScenario(c.scenario, 1, 0.0);
    EXPECT_NE(scenario, nullptr);
    if (scenario == nullptr) {
        return "";
    }
    scenario = sim::BuildScenario(c.scenario, 1, sim::ShortRunSeconds(*scenario, kRunSeconds));
    std::string error;
    EXPECT_TRUE(sim::ParseTruth(sim::TruthJson(*scenario, card, 1), truth, &error)) << error;
    mkdir(TESSARON_ACCURACY_CAPTURES, 0755);
    const std::string path = std::string(TESSARON_ACCURACY_CAPTURES) + "/" + c.scenario + "-" +
                             std::to_string(c.interval_us) + ".pcap";
    struct stat st;
    if (stat(path.c_str(), &st) == 0) {
        return path;
    }
    const std::string partial = path + "." + std::to_string(getpid());
    sim::PcapFile pcap;
    EXPECT_TRUE(pcap.Open(partial));
    sim::RunScenario(*scenario, card, 1,
                     [&pcap](const uint8_t* wire, size_t len, int64_t sec, int64_t usec) {
                         return pcap.WriteUdp(wire, len, sec, usec);
                     });
    EXPECT_TRUE(pcap.Close());
    rename(partial.c_str(), path.c_str());
    return path;
}

void DoneWithCapture(const Case& c, const std::string& path) {
    const std::string mine = path + (c.rules == Rules::kStandard ? ".standard" : ".refined");
    const std::string other = path + (c.rules == Rules::kStandard ? ".refined" : ".standard");
    fclose(fopen(mine.c_str(), "w"));
    struct stat st;
    if (stat(other.c_str(), &st) == 0) {
        remove(path.c_str());
        remove(mine.c_str());
        remove(other.c_str());
    }
}

class Accuracy : public ::testing::TestWithParam<Case> {};

TEST_P(Accuracy, Scenario) {
    const Case& c = GetParam();
    sim::CardConfig card;
    card.interval_us = c.interval_us;
    sim::Truth truth;
    const std::string capture = SharedCapture(c, card, &truth);
    ASSERT_FALSE(capture.empty());

    DaemonProcess daemon;
    EventCollector events;
    daemon.Start({"--ui", events.Address(), "--replay", capture, "--rules",
                  c.rules == Rules::kStandard ? "standard" : "refined",
                  std::string(TESSARON_SOURCE_DIR) + "/data/signatures.txt", "output.txt",
                  "energy.txt"});
    const int status = daemon.Wait();
    DoneWithCapture(c, capture);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0)
        << "the daemon failed (a daemon without --rules needs the refined rule set merged):\n"
        << daemon.Stderr();
    events.Settle(300);

    const sim::ScoreReport report =
        sim::Score(truth, sim::ObservationsFromEvents(events.Events(), truth));
    const std::string table = sim::FormatReport(truth, report);
    ASSERT_FALSE(report.no_data) << table;
    if (c.limitation == nullptr) {
        EXPECT_TRUE(report.Passed()) << table;
        return;
    }
    std::set<std::string> missed, false_names;
    for (const sim::ScoreRow& r : report.rows) {
        if (r.present && !r.detected) {
            missed.insert(r.name);
        }
        if (!r.present) {
            false_names.insert(r.name);
        }
    }
    const Limitation& l = *c.limitation;
    EXPECT_EQ(missed, l.missed) << "known limitation changed (" << l.reason << ")\n" << table;
    EXPECT_EQ(false_names, l.false_names) << "known limitation changed (" << l.reason << ")\n"
                                          << table;
    EXPECT_EQ(report.early_ends > 0, l.early_end) << table;
    EXPECT_EQ(report.missed_ends, 0) << table;
    EXPECT_FALSE(report.Passed()) << "passes now: remove its known limitation\n" << table;
}

INSTANTIATE_TEST_SUITE_P(Catalogue, Accuracy, ::testing::ValuesIn(AllCases()),
                         [](const ::testing::TestParamInfo<Case>& info) {
                             return TestName(info.param);
                         });

TEST(AccuracyLimitations, DoNotGrowAndNameRealScenarios) {
    std::set<std::string> names;
    for (const sim::ScenarioInfo& s : sim::ListScenarios()) {
        names.insert(s.name);
    }
    size_t standard = 0, refined = 0;
    for (const Limitation& l : kLimitations) {
        EXPECT_EQ(names.count(l.scenario), 1u) << l.scenario;
        EXPECT_FALSE(l.missed.empty() && l.false_names.empty() && !l.early_end) << l.scenario;
        EXPECT_NE(std::string(l.reason), "") << l.scenario;
        const size_t runs = l.interval_us == kAllIntervals ? std::size(kIntervals) : 1;
        (l.rules == Rules::kStandard ? standard : refined) += runs;
    }
    EXPECT_LE(standard, kStandardLimitationBudget)
        << "more known limitations of the standard rules";
    EXPECT_LE(refined, kRefinedLimitationBudget) << "more known limitations of the refined rules";
}

}  // namespace
