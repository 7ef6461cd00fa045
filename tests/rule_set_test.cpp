#include "rule_set.h"

#include <gtest/gtest.h>

#include "daemon_options.h"
#include "refined_test_support.h"

namespace {

TEST(RuleSetTest, NamesParseAndStandardIsTheDefault) {
    RuleSetId id = RuleSetId::kRefined;
    EXPECT_TRUE(ParseRuleSetName("standard", &id));
    EXPECT_EQ(id, RuleSetId::kStandard);
    EXPECT_TRUE(ParseRuleSetName("refined", &id));
    EXPECT_EQ(id, RuleSetId::kRefined);
    for (const char* bad : {"", "Refined", "refined ", "strict"}) {
        EXPECT_FALSE(ParseRuleSetName(bad, &id)) << bad;
    }
    EXPECT_EQ(ActiveRules().id, RuleSetId::kStandard);
    {
        refinedtest::RulesScope scope(RuleSetId::kRefined);
        EXPECT_STREQ(ActiveRules().name, "refined");
    }
    EXPECT_STREQ(ActiveRules().name, "standard");
}

TEST(RuleSetTest, StandardSwitchesEveryRefinementOff) {
    const RuleSet& s = StandardRules();
    EXPECT_FALSE(
        s.floor_follows_noise || s.durations_in_sample_intervals ||
        s.hoppers_announced_separately || s.hop_order_free || s.zigbee_airtime_share ||
        s.xbox_count_per_clear_view || s.oven_needs_on_phases || s.fixed_confirmed_in_one_pass ||
        s.carrier_width_decides || s.zigbee_needs_width_at_once || s.hops_stay_on_channel ||
        s.xbox_spread_per_clear_view || s.skirts_count_as_views || s.highduty_sightings_chained);
    EXPECT_EQ(s.min_voice_pairs, 0);
    const RuleSet& r = RefinedRules();
    EXPECT_TRUE(
        r.floor_follows_noise && r.durations_in_sample_intervals &&
        r.hoppers_announced_separately && r.hop_order_free && r.zigbee_airtime_share &&
        r.xbox_count_per_clear_view && r.oven_needs_on_phases && r.fixed_confirmed_in_one_pass &&
        r.carrier_width_decides && r.zigbee_needs_width_at_once && r.hops_stay_on_channel &&
        r.xbox_spread_per_clear_view && r.skirts_count_as_views && r.highduty_sightings_chained);
    // Hopper evidence never stricter than the fixed -75 dBm, and pulses need more than
    // their edges do.
    EXPECT_LE(r.max_noise_dbm + r.hopper_peak_margin_db, -75.0f);
    EXPECT_GT(r.peak_margin_db, r.join_margin_db);
    EXPECT_GE(r.hopper_peak_margin_db, r.peak_margin_db);
}

TEST(RuleSetTest, PersistenceTradesMarginForSamples) {
    // Standard believes no peak by persistence.
    for (const PersistenceLevel& level : StandardRules().persistent_peak) {
        EXPECT_EQ(level.samples, 0);
    }
    // Refined: a longer persistence is believed at a lower margin, by at
    // most 2 dB per further sample (near N + 8..11 a dB less margin makes a
    // noise bin 2.5 to 9 times likelier to pass, a further sample on the
    // same or a neighbouring bin 1 / 3p times rarer), and never below the
    // join level.
    const RuleSet& r = RefinedRules();
    int samples = 1;
    float margin = r.peak_margin_db;
    for (const PersistenceLevel& level : r.persistent_peak) {
        EXPECT_GT(level.samples, samples);
        EXPECT_LT(level.margin_db, margin);
        EXPECT_GE(level.margin_db, margin - 2.0f * static_cast<float>(level.samples - samples));
        EXPECT_GE(level.margin_db, r.join_margin_db);
        samples = level.samples;
        margin = level.margin_db;
    }
}

TEST(RuleSetTest, CommandLineChoosesTheRuleSet) {
    DaemonOptions options;
    std::string error;
    const char* refined[] = {"tessaron", "--rules", "refined", "sig.txt"};
    ASSERT_TRUE(ParseDaemonOptions(4, refined, &options, &error)) << error;
    EXPECT_EQ(options.rules, RuleSetId::kRefined);

    DaemonOptions inline_value;
    const char* standard[] = {"tessaron", "--rules=standard", "sig.txt"};
    ASSERT_TRUE(ParseDaemonOptions(3, standard, &inline_value, &error)) << error;
    EXPECT_EQ(inline_value.rules, RuleSetId::kStandard);

    DaemonOptions plain;
    const char* none[] = {"tessaron", "sig.txt"};
    ASSERT_TRUE(ParseDaemonOptions(2, none, &plain, &error));
    EXPECT_EQ(plain.rules, RuleSetId::kStandard);

    DaemonOptions bad;
    const char* wrong[] = {"tessaron", "--rules", "loose", "sig.txt"};
    EXPECT_FALSE(ParseDaemonOptions(4, wrong, &bad, &error));
    EXPECT_NE(error.find("--rules"), std::string::npos);
    const char* missing[] = {"tessaron", "--rules"};
    EXPECT_FALSE(ParseDaemonOptions(2, missing, &bad, &error));

    EXPECT_NE(UsageText("tessaron").find("--rules SET"), std::string::npos);
}

}  // namespace
