// Timing and hopping of the emitter models, observed the way the card sees
// them: what is on the air at each microsecond.
#include "emitters.h"

#include "scenarios.h"

#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <set>

namespace {

struct Seen {
    uint64_t start, end;
    double mhz;
    double dbm;
};

// Every transmission of `e` in [from, to), one entry per continuous burst on
// one frequency.
std::vector<Seen> Observe(sim::Emitter& e, uint64_t from, uint64_t to) {
    std::vector<Seen> bursts;
    std::vector<sim::Emission> now;
    std::map<double, size_t> open;  // frequency -> index of its burst
    for (uint64_t t = from; t < to; t++) {
        now.clear();
        e.EmissionsAt(t, now);
        std::map<double, size_t> still;
        for (const sim::Emission& x : now) {
            const auto it = open.find(x.centre_mhz);
            if (it != open.end()) {
                bursts[it->second].end = t + 1;
                still[x.centre_mhz] = it->second;
            } else {
                bursts.push_back(Seen{t, t + 1, x.centre_mhz, x.power_dbm});
                still[x.centre_mhz] = bursts.size() - 1;
            }
        }
        open = still;
    }
    return bursts;
}

TEST(BtVoiceLink, SlotPairsEverySixSlotsOnFreshHops) {
    sim::BtVoiceLink link(0, ~uint64_t{0}, -50, 11);
    const std::vector<Seen> b = Observe(link, 0, 400000);
    ASSERT_GT(b.size(), 200u);
    std::set<double> channels;
    for (size_t i = 0; i < b.size(); i++) {
        EXPECT_EQ(b[i].end - b[i].start, 366u);
        EXPECT_EQ(b[i].start % 625, 0u) << "packets start on slot boundaries";
        const uint64_t slot = b[i].start / 625;
        EXPECT_LT(slot % 6, 2u) << "master in slot 0, slave in slot 1 of each six";
        if (slot % 6 == 1) {
            ASSERT_GT(i, 0u);
            EXPECT_EQ(b[i].start - b[i - 1].start, 625u);
        }
        channels.insert(b[i].mhz);
        EXPECT_GE(b[i].mhz, 2402.0);
        EXPECT_LE(b[i].mhz, 2480.0);
        EXPECT_EQ(b[i].mhz, std::floor(b[i].mhz)) << "1 MHz channel grid";
    }
    // 400 ms of HV3: 2 packets per 3.75 ms; the hops cover the band.
    EXPECT_NEAR(static_cast<double>(b.size()), 2 * 400000.0 / 3750.0, 2.0);
    EXPECT_GT(channels.size(), 70u);
}

TEST(BtDataLink, SlotAlignedMultiSlotPacketsWithSlaveReplies) {
    sim::BtDataLink link(0, ~uint64_t{0}, -50, 5);
    const std::vector<Seen> b = Observe(link, 0, 300000);
    ASSERT_GT(b.size(), 50u);
    const std::set<uint64_t> lengths = {126, 366, 1626, 2871};
    int long_packets = 0;
    for (size_t i = 0; i < b.size(); i++) {
        EXPECT_EQ(b[i].start % 625, 0u);
        EXPECT_TRUE(lengths.count(b[i].end - b[i].start)) << b[i].end - b[i].start;
        long_packets += b[i].end - b[i].start > 1000 ? 1 : 0;
        if (i > 0) {
            EXPECT_GE(b[i].start, b[i - 1].end) << "the link is half duplex";
        }
    }
    EXPECT_GT(long_packets, static_cast<int>(b.size()) / 4);
}

// A phone's frame: the base's burst at the frame start, the weaker
// handset's on the same channel half a frame later.
void ExpectBaseThenHandset(const std::vector<Seen>& b, uint64_t frame_us, uint64_t burst_us) {
    for (size_t i = 0; i + 1 < b.size(); i += 2) {
        EXPECT_EQ(b[i].start % frame_us, 0u);
        EXPECT_EQ(b[i].end - b[i].start, burst_us);
        EXPECT_EQ(b[i + 1].start - b[i].start, frame_us / 2);
        EXPECT_EQ(b[i + 1].mhz, b[i].mhz);
        EXPECT_LT(b[i + 1].dbm, b[i].dbm);
    }
}

TEST(FhssPhone, BaseAndHandsetShareTheFramesHop) {
    sim::FhssPhone phone(0, ~uint64_t{0}, -50, 3);
    const std::vector<Seen> b = Observe(phone, 0, 100000);
    ASSERT_EQ(b.size(), 40u);
    ExpectBaseThenHandset(b, 5000, 700);
}

// The model variations of the catalogue: an HV2 voice link, a lightly
// loaded data link, a phone with 10 ms frames over another hop set, an oven
// with a wider sweep and a narrower video sender.
TEST(ModelVariations, PacketTypeLoadFrameHopSetSweepAndWidthFollowTheirParameters) {
    sim::BtVoiceLink hv2(0, ~uint64_t{0}, -50, 11, 4);
    const std::vector<Seen> voice = Observe(hv2, 0, 100000);
    EXPECT_NEAR(static_cast<double>(voice.size()), 2 * 100000.0 / 2500.0, 2.0);
    for (const Seen& b : voice) {
        EXPECT_LT(b.start / 625 % 4, 2u);
    }

    sim::BtDataLink light(0, ~uint64_t{0}, -50, 5, 0.1, 0.1);
    const std::vector<Seen> data = Observe(light, 0, 1000000);
    int multi_slot = 0, masters = 0;
    for (const Seen& b : data) {
        masters += b.start / 625 % 2 == 0 ? 1 : 0;
        multi_slot += b.end - b.start > 1000 ? 1 : 0;
    }
    ASSERT_GT(masters, 200);
    EXPECT_NEAR(static_cast<double>(multi_slot) / masters, 0.2, 0.06);

    sim::FhssPhone phone(0, ~uint64_t{0}, -50, 3, sim::FhssPhoneModel{10000, 1200, 95, 0.8});
    const std::vector<Seen> frames = Observe(phone, 0, 2000000);
    ASSERT_EQ(frames.size(), 400u);
    ExpectBaseThenHandset(frames, 10000, 1200);
    for (size_t i = 0; i + 1 < frames.size(); i += 2) {
        const double k = (frames[i].mhz - 2402.0) / 0.8;
        EXPECT_NEAR(k, std::round(k), 1e-6) << "0.8 MHz grid";
        EXPECT_LE(frames[i].mhz, 2402.0 + 94 * 0.8 + 1e-6);
    }

    sim::MicrowaveOven oven(2445, 0, ~uint64_t{0}, -45, 1, 60.0, 8.0);
    std::vector<sim::Emission> now;
    double lo = 1e9, hi = 0;
    for (uint64_t t = 0; t < 100000; t += 10) {
        now.clear();
        oven.EmissionsAt(t, now);
        for (const sim::Emission& x : now) {
            lo = std::min(lo, x.centre_mhz);
            hi = std::max(hi, x.centre_mhz);
        }
    }
    EXPECT_GT(hi - lo, 7.0);
    EXPECT_EQ(oven.FreqHiMhz(), 2445.0 + 8.0 + 2.0);

    const auto narrow = sim::MakeVideoSender(2450, 0, ~uint64_t{0}, -60, 1, 2.5);
    EXPECT_DOUBLE_EQ(narrow->FreqHiMhz() - narrow->FreqLoMhz(), 15.0);
}

// The second round of model variations: an eSCO link that retransmits in
// its window, a link hopping adaptively around a Wi-Fi channel, a full-wave
// oven and a digital link of another width.
TEST(ModelVariations, RetransmissionsAdaptiveHopsFullWaveAndLinkWidth) {
    sim::BtVoiceLink esco(0, ~uint64_t{0}, -50, 11, 6, sim::BtVoiceLink::EV3_PACKET_US, 0.2);
    const std::vector<Seen> voice = Observe(esco, 0, 750000);  // 200 intervals
    int retransmitted = 0;
    for (const Seen& b : voice) {
        EXPECT_EQ(b.end - b.start, 382u);
        EXPECT_EQ(b.start % 625, 0u);
        EXPECT_LT(b.start / 625 % 6, 4u) << "reserved pair or its retransmission window";
        retransmitted += b.start / 625 % 6 == 2 ? 1 : 0;
    }
    EXPECT_NEAR(static_cast<double>(voice.size()), 2 * 200 * 1.2, 40.0);
    EXPECT_NEAR(retransmitted / 200.0, 0.2, 0.08);

    sim::BtDataLink afh(0, ~uint64_t{0}, -50, 5, 0.5, 0.25, 24, 46);
    std::set<double> hops;
    for (const Seen& b : Observe(afh, 0, 2000000)) {
        EXPECT_TRUE(b.mhz < 2426.0 || b.mhz > 2448.0) << b.mhz;
        hops.insert(b.mhz);
    }
    EXPECT_EQ(hops.size(), 56u) << "every channel left in the map is used";

    sim::MicrowaveOven oven(2444, 0, ~uint64_t{0}, -45, 3, 50.0, 5.0, true);
    std::vector<sim::Emission> now;
    std::vector<uint64_t> starts;
    int on = 0;
    bool was_on = false;
    for (uint64_t t = 0; t < 200000; t += 10) {
        now.clear();
        oven.EmissionsAt(t, now);
        on += now.empty() ? 0 : 1;
        if (!now.empty() && !was_on) {
            starts.push_back(t);
        }
        was_on = !now.empty();
    }
    EXPECT_NEAR(on / 20000.0, 0.8, 0.02);
    ASSERT_GE(starts.size(), 15u);
    for (size_t i = 2; i < starts.size(); i++) {
        EXPECT_NEAR(static_cast<double>(starts[i] - starts[i - 1]), 10000.0, 20.0)
            << "an on-phase every half cycle of 50 Hz mains";
    }

    const auto link = sim::MakeUnknownLink(2440, 8.0, 0, ~uint64_t{0}, -58, 1);
    EXPECT_DOUBLE_EQ(link->FreqHiMhz() - link->FreqLoMhz(), 8.0);
    EXPECT_EQ(link->DisplayName(), "Unknown_High_Duty_Device");
}

TEST(ZigbeeNetwork, ChannelPlanFrameLengthsAndAirtime) {
    EXPECT_EQ(sim::ZigbeeChannelMhz(11), 2405.0);
    EXPECT_EQ(sim::ZigbeeChannelMhz(18), 2440.0);
    EXPECT_EQ(sim::ZigbeeChannelMhz(26), 2480.0);
    sim::ZigbeeNetwork net(18, 0.05, 0, ~uint64_t{0}, -55, 9);
    const std::vector<Seen> b = Observe(net, 0, 3000000);
    uint64_t air = 0;
    for (size_t i = 0; i < b.size(); i++) {
        const uint64_t len = b[i].end - b[i].start;
        EXPECT_EQ(b[i].mhz, 2440.0);
        EXPECT_GE(len, 352u);
        EXPECT_LE(len, 4256u) << "at most 127 bytes + PHY header at 32 us a byte";
        air += len;
    }
    EXPECT_NEAR(static_cast<double>(air) / 3e6, 0.05, 0.015);
}

TEST(MicrowaveOven, GatedByMainsWithARisingAndFallingCarrier) {
    sim::MicrowaveOven oven(2452, 0, ~uint64_t{0}, -45, 1);
    std::vector<sim::Emission> now;
    int on = 0;
    double lo = 1e9, hi = 0;
    for (uint64_t t = 0; t < 100000; t += 10) {
        now.clear();
        oven.EmissionsAt(t, now);
        if (!now.empty()) {
            on++;
            lo = std::min(lo, now[0].centre_mhz);
            hi = std::max(hi, now[0].centre_mhz);
        }
    }
    EXPECT_NEAR(on / 10000.0, 8.0 / 16.667, 0.03);
    EXPECT_GT(hi - lo, 4.0);
    EXPECT_LT(hi - lo, 8.0);
}

TEST(MicrowaveOven, FiftyHertzMainsGivesLongerOnPhasesAtTheSameDuty) {
    sim::MicrowaveOven oven(2450, 0, ~uint64_t{0}, -45, 3, 50.0);
    std::vector<sim::Emission> now;
    std::vector<uint64_t> starts, lengths;
    bool was_on = false;
    for (uint64_t t = 0; t < 200000; t += 10) {
        now.clear();
        oven.EmissionsAt(t, now);
        if (!now.empty() && !was_on) {
            starts.push_back(t);
            lengths.push_back(0);
        }
        if (!now.empty()) {
            lengths.back() += 10;
        }
        was_on = !now.empty();
    }
    ASSERT_GE(starts.size(), 8u);
    for (size_t i = 2; i + 1 < starts.size(); i++) {  // the first may be cut short
        EXPECT_NEAR(static_cast<double>(starts[i] - starts[i - 1]), 20000.0, 20.0);
        EXPECT_NEAR(static_cast<double>(lengths[i]), 9600.0, 20.0);
    }
}

TEST(BurstEmitter, TimingJitterMovesWholeExchangesWithinTheBound) {
    sim::BtVoiceLink link(0, ~uint64_t{0}, -50, 11);
    link.SetTimingJitter(10);
    const std::vector<Seen> b = Observe(link, 0, 200000);
    ASSERT_GT(b.size(), 100u);
    std::set<int64_t> offsets;
    for (size_t i = 0; i < b.size(); i++) {
        EXPECT_EQ(b[i].end - b[i].start, 366u) << "packet length kept";
        const int64_t nearest_slot = static_cast<int64_t>((b[i].start + 312) / 625 * 625);
        const int64_t off = static_cast<int64_t>(b[i].start) - nearest_slot;
        EXPECT_LE(std::abs(off), 10);
        offsets.insert(off);
        if (i > 0 && b[i].start - b[i - 1].start < 1000) {
            EXPECT_EQ(b[i].start - b[i - 1].start, 625u) << "slave answers one slot later";
        }
    }
    EXPECT_GT(offsets.size(), 10u) << "offsets actually vary";
}

TEST(Emitter, SwitchesOnAndOff) {
    auto phone = sim::MakeContinuous(sim::ContinuousKind::kAnalogPhone, 2447, 1000, 2000, -55, 1);
    std::vector<sim::Emission> now;
    phone->EmissionsAt(999, now);
    EXPECT_TRUE(now.empty());
    phone->EmissionsAt(1000, now);
    EXPECT_EQ(now.size(), 1u);
    now.clear();
    phone->EmissionsAt(2000, now);
    EXPECT_TRUE(now.empty());
}

TEST(Catalogue, VariationsAreHonestAndAttenuationSparesWifi) {
    std::set<std::string> models;
    for (const sim::ScenarioInfo& info : sim::ListScenarios()) {
        auto s = sim::BuildScenario(info.name, 1, 0, 10);
        ASSERT_NE(s, nullptr) << info.name;
        auto plain = sim::BuildScenario(info.name, 1);
        for (size_t i = 0; i < s->emitters.size(); i++) {
            const sim::Emitter& e = *s->emitters[i];
            const double drop = plain->emitters[i]->PowerDbm() - e.PowerDbm();
            EXPECT_EQ(drop, e.DisplayName().empty() ? 0.0 : 10.0) << info.name << " " << e.Model();
            // Every device of the catalogue lies inside the band and is
            // received between a close and a far neighbour's level.
            EXPECT_GE(e.FreqLoMhz(), 2390.0) << info.name;
            EXPECT_LE(e.FreqHiMhz(), 2495.0) << info.name;
            EXPECT_LE(plain->emitters[i]->PowerDbm(), -35.0) << info.name;
            EXPECT_GE(plain->emitters[i]->PowerDbm(), -85.0) << info.name;
            models.insert(e.Model().substr(0, 4) == "wifi" ? "wifi" : e.Model());
        }
    }
    // Each model appears in its base scenario and in at least two variations.
    for (const std::string& m : models) {
        int scenarios_with_alone = 0;
        for (const sim::ScenarioInfo& info : sim::ListScenarios()) {
            auto s = sim::BuildScenario(info.name, 1);
            bool alone = !s->emitters.empty();
            for (const auto& e : s->emitters) {
                alone = alone && e->Model().substr(0, m.size()) == m;
            }
            scenarios_with_alone += alone;
        }
        EXPECT_GE(scenarios_with_alone, 3) << m;
    }
}

}  // namespace
