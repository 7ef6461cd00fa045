#include "rule_set.h"

namespace {

// Every refinement off: the fixed -85 dBm floor and the fixed constants.
constexpr RuleSet kStandard = {
    RuleSetId::kStandard,
    "standard",
    false,  // floor_follows_noise
    0.0f,   // join_margin_db
    0.0f,   // peak_margin_db
    {},     // persistent_peak
    {},     // persistent_band
    {},     // persistent_wide_band
    0.0f,   // max_noise_dbm
    0.0f,   // hopper_peak_margin_db
    0.0f,   // skirt_depth_db
    0,      // skirt_gap_bins
    false,  // durations_in_sample_intervals
    false,  // hoppers_announced_separately
    false,  // hop_order_free
    false,  // hops_stay_on_channel
    0,      // min_voice_pairs
    false,  // zigbee_airtime_share
    false,  // zigbee_needs_width_at_once
    0.0f,   // lobe_depth_db
    0.0f,   // zigbee_centre_tolerance_mhz
    false,  // xbox_count_per_clear_view
    false,  // xbox_spread_per_clear_view
    false,  // voice_link_keeps_its_slots
    false,  // oven_needs_on_phases
    0.0f,   // oven_row_margin_db
    false,  // fixed_confirmed_in_one_pass
    false,  // carrier_width_decides
    0.0f,   // highduty_peak_margin_db
    0.0f,   // highduty_edge_margin_db
    false,  // skirts_left_to_neighbour
    false,  // skirts_count_as_views
    false,  // highduty_sightings_chained
    false,  // zigbee_edge_channel_cut
    false,  // data_packets_hop
    false,  // hops_spread_over_band
    false,  // voice_retransmission_window
    false,  // oven_half_mains_period
    false,  // analog_needs_narrow_line
    false,  // phone_bursts_are_the_phones
    false,  // skirt_peak_beside_edge
    false,  // hop_spread_per_clear_time
    0.0f,   // highduty_weak_peak_margin_db
    false,  // highduty_continuity_from_level
    0.0f,   // highduty_min_on_share
    false,  // carrier_width_over_noise
    false,  // analog_band_is_its_line
    0.0f,   // oven_line_clear_db
};

// Levels of the summed power of 2 and 3 adjacent bins (bins, samples,
// margin over the noise of one bin): see persistent_band.
constexpr std::array<BandPersistenceLevel, kBandPersistenceLevels> kRefinedBandLevels = {{
    {2, 2, 12.5f},
    {2, 3, 11.5f},
    {2, 4, 10.5f},
    {2, 5, 10.0f},
    {3, 2, 13.5f},
    {3, 3, 12.0f},
    {3, 4, 11.5f},
    {3, 5, 11.0f},
}};

// Levels of the summed power of 4 and 5 adjacent bins, for the game
// controller's wider packet: see persistent_wide_band.
constexpr std::array<BandPersistenceLevel, kWideBandPersistenceLevels> kRefinedWideBandLevels = {{
    {4, 2, 14.0f},
    {4, 3, 13.0f},
    {4, 4, 12.5f},
    {4, 5, 12.0f},
    {5, 2, 14.5f},
    {5, 3, 13.5f},
    {5, 4, 13.0f},
    {5, 5, 12.5f},
}};

constexpr RuleSet kRefined = {
    RuleSetId::kRefined,
    "refined",
    true,                                              // floor_follows_noise
    8.0f,                                              // join_margin_db
    13.0f,                                             // peak_margin_db
    {{{2, 11.0f}, {3, 10.0f}, {4, 9.0f}, {5, 8.0f}}},  // persistent_peak
    kRefinedBandLevels,                                // persistent_band
    kRefinedWideBandLevels,                            // persistent_wide_band
    -90.0f,                                            // max_noise_dbm
    15.0f,                                             // hopper_peak_margin_db
    20.0f,                                             // skirt_depth_db
    3,                                                 // skirt_gap_bins
    true,                                              // durations_in_sample_intervals
    true,                                              // hoppers_announced_separately
    true,                                              // hop_order_free
    true,                                              // hops_stay_on_channel
    14,                                                // min_voice_pairs
    true,                                              // zigbee_airtime_share
    true,                                              // zigbee_needs_width_at_once
    6.0f,                                              // lobe_depth_db
    0.3125f,                                           // zigbee_centre_tolerance_mhz
    true,                                              // xbox_count_per_clear_view
    true,                                              // xbox_spread_per_clear_view
    true,                                              // voice_link_keeps_its_slots
    true,                                              // oven_needs_on_phases
    10.0f,                                             // oven_row_margin_db
    true,                                              // fixed_confirmed_in_one_pass
    true,                                              // carrier_width_decides
    5.0f,                                              // highduty_peak_margin_db
    1.0f,                                              // highduty_edge_margin_db
    true,                                              // skirts_left_to_neighbour
    true,                                              // skirts_count_as_views
    true,                                              // highduty_sightings_chained
    true,                                              // zigbee_edge_channel_cut
    true,                                              // data_packets_hop
    true,                                              // hops_spread_over_band
    true,                                              // voice_retransmission_window
    true,                                              // oven_half_mains_period
    true,                                              // analog_needs_narrow_line
    true,                                              // phone_bursts_are_the_phones
    true,                                              // skirt_peak_beside_edge
    true,                                              // hop_spread_per_clear_time
    1.0f,                                              // highduty_weak_peak_margin_db
    true,                                              // highduty_continuity_from_level
    0.9f,                                              // highduty_min_on_share
    true,                                              // carrier_width_over_noise
    true,                                              // analog_band_is_its_line
    6.0f,                                              // oven_line_clear_db
};

const RuleSet* active = &kStandard;

}  // namespace

const RuleSet& StandardRules() {
    return kStandard;
}

const RuleSet& RefinedRules() {
    return kRefined;
}

const RuleSet& ActiveRules() {
    return *active;
}

void SelectRules(RuleSetId id) {
    active = id == RuleSetId::kRefined ? &kRefined : &kStandard;
}

bool ParseRuleSetName(const std::string& name, RuleSetId* id) {
    if (name == "standard") {
        *id = RuleSetId::kStandard;
        return true;
    }
    if (name == "refined") {
        *id = RuleSetId::kRefined;
        return true;
    }
    return false;
}
